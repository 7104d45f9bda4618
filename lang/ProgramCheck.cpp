#include "lang/ProgramCheck.h"

#include "lang/Lexer.h"
#include "lang/Program.h"

namespace ProgramCheck {

QString lineFault(const QString& line)
{
    // The runner reads a line as UTF-8; the editor's text is Unicode whatever the file's encoding.
    kelm::Statement statement;
    std::string fault;
    if (kelm::readLine(line.toStdString(), 0, statement, fault) != kelm::LineKind::Faulty)
        return QString();
    return QString::fromStdString(fault);
}

namespace {

using QLexer = kelm::BasicLexer<QChar>;
using kelm::Keyword;
using kelm::LexKind;

// "set" has no keyword in a line; a tag of that name stays plain.
bool coloured(Keyword k)
{
    switch (k) {
    case Keyword::After:
    case Keyword::At:
    case Keyword::When:
    case Keyword::Ramp:
    case Keyword::Send:
    case Keyword::Stop:
        return true;
    default:
        return false;
    }
}

} // namespace

std::vector<Token> tokens(const QString& line)
{
    std::vector<Token> out;
    QLexer lexer(line.constData(), std::size_t(line.size()));
    if (lexer.commentLine()) {
        out.push_back({0, int(line.size()), TokenClass::Comment});
        return out;
    }
    const int end = int(lexer.commentStart());
    lexer.limit(std::size_t(end));
    // Inside send( ... ): depth of its parentheses and whether the opcode's comma has passed.
    int sendDepth = 0;
    bool sendArguments = false;
    bool afterSend = false;
    for (;;) {
        const int i = int(lexer.skipSpace(lexer.position()));
        if (i >= end)
            break;
        const char32_t c = lexer.at(std::size_t(i));
        if (sendArguments && c != '{' && c != '[' && c != '(' && c != ')' && c != ',') {
            // One argument: everything up to the next comma or the closing parenthesis.
            const std::size_t j = lexer.argumentEnd(std::size_t(i));
            out.push_back({i, int(lexer.trimEnd(std::size_t(i), j)) - i, TokenClass::String});
            lexer.seek(j);
            continue;
        }
        const kelm::Lexeme l = lexer.next();
        const int length = int(l.length());
        switch (l.kind) {
        case LexKind::Tag:
            out.push_back({i, length, sendArguments ? TokenClass::String : TokenClass::Tag});
            break;
        case LexKind::Time:
        case LexKind::Number:
            out.push_back({i, length, TokenClass::Number});
            break;
        case LexKind::Open:
            if (afterSend || sendDepth > 0)
                ++sendDepth;
            afterSend = false;
            break;
        case LexKind::Close:
            if (sendDepth > 0 && --sendDepth == 0)
                sendArguments = false;
            break;
        case LexKind::Comma:
            // At the outer level the opcode's comma; deeper, between the parts of an argument in
            // parentheses of its own.
            if (sendDepth == 1)
                sendArguments = true;
            break;
        case LexKind::Word: {
            const Keyword k = lexer.keyword(l.start, l.end);
            if (coloured(k)) {
                out.push_back({i, length, TokenClass::Keyword});
                afterSend = k == Keyword::Send && sendDepth == 0;
            }
            break;
        }
        case LexKind::Operator:
        case LexKind::Other:
        case LexKind::End:
            break;
        }
    }
    if (end < line.size())
        out.push_back({end, int(line.size()) - end, TokenClass::Comment});
    return out;
}

} // namespace ProgramCheck
