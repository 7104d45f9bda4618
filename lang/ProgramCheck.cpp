#include "lang/ProgramCheck.h"

#include "lang/Program.h"
#include "lang/StatementSyntax.h"

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

bool isKeyword(const QString& word)
{
    for (const char* k : kTriggerKeywords) {
        if (word.compare(QLatin1String(k), Qt::CaseInsensitive) == 0)
            return true;
    }
    // "set" has no keyword in a line; a tag of that name stays plain.
    for (const char* k : kOperationKeywords) {
        if (word.compare(QLatin1String(k), Qt::CaseInsensitive) == 0 && qstrcmp(k, "set") != 0)
            return true;
    }
    return false;
}

bool isWordStart(QChar c)
{
    return c.isLetter() || c == QLatin1Char('_');
}

bool isWordPart(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_');
}

// Where a "//" outside braces starts, or the length of the line.
int commentStart(const QString& line)
{
    int depth = 0;
    for (int i = 0; i + 1 < line.size(); ++i) {
        const QChar c = line.at(i);
        if (c == QLatin1Char('{'))
            ++depth;
        else if (c == QLatin1Char('}') && depth > 0)
            --depth;
        else if (depth == 0 && c == QLatin1Char('/') && line.at(i + 1) == QLatin1Char('/'))
            return i;
    }
    return int(line.size());
}

// Behind the close that ends a bracketed part starting at i, or end when it is not closed before.
int closedEnd(const QString& line, int i, int end, QChar close)
{
    const int j = line.indexOf(close, i);
    return (j < 0 || j >= end) ? end : j + 1;
}

// from..to without the white space at its end.
int trimmedEnd(const QString& line, int from, int to)
{
    while (to > from && line.at(to - 1).isSpace())
        --to;
    return to;
}

// Behind a number starting at i: digits and points, then an exponent when one follows.
int numberEnd(const QString& line, int i, int end)
{
    int j = i;
    while (j < end && (line.at(j).isDigit() || line.at(j) == QLatin1Char('.')))
        ++j;
    if (j < end && (line.at(j) == QLatin1Char('e') || line.at(j) == QLatin1Char('E'))) {
        int k = j + 1;
        if (k < end && (line.at(k) == QLatin1Char('+') || line.at(k) == QLatin1Char('-')))
            ++k;
        if (k < end && line.at(k).isDigit()) {
            while (k < end && line.at(k).isDigit())
                ++k;
            j = k;
        }
    }
    return j;
}

} // namespace

std::vector<Token> tokens(const QString& line)
{
    std::vector<Token> out;
    const QString start = line.trimmed();
    if (start.startsWith(QLatin1Char('*')) || start.startsWith(QLatin1String("//"))) {
        out.push_back({0, int(line.size()), TokenClass::Comment});
        return out;
    }
    const int end = commentStart(line);
    // Inside send( ... ): depth of its parentheses and whether the opcode's comma has passed.
    int sendDepth = 0;
    bool sendArguments = false;
    bool afterSend = false;
    int i = 0;
    while (i < end) {
        const QChar c = line.at(i);
        if (c == QLatin1Char('{') || c == QLatin1Char('[')) {
            const bool tag = c == QLatin1Char('{');
            const int j = closedEnd(line, i, end, tag ? QLatin1Char('}') : QLatin1Char(']'));
            out.push_back({i, j - i, !tag ? TokenClass::Number : sendArguments ? TokenClass::String : TokenClass::Tag});
            i = j;
            continue;
        }
        if (c == QLatin1Char('(')) {
            if (afterSend || sendDepth > 0)
                ++sendDepth;
            afterSend = false;
            ++i;
            continue;
        }
        if (c == QLatin1Char(')')) {
            if (sendDepth > 0 && --sendDepth == 0)
                sendArguments = false;
            ++i;
            continue;
        }
        if (c == QLatin1Char(',') && sendDepth == 1) {
            sendArguments = true;
            ++i;
            continue;
        }
        if (c.isSpace()) {
            ++i;
            continue;
        }
        if (c == QLatin1Char(',')) {
            ++i; // between the parts of an argument in parentheses of its own
            continue;
        }
        if (sendArguments) {
            // One argument: everything up to the next comma or the closing parenthesis.
            int j = i;
            while (j < end && line.at(j) != QLatin1Char(',') && line.at(j) != QLatin1Char(')') &&
                   line.at(j) != QLatin1Char('{'))
                ++j;
            out.push_back({i, trimmedEnd(line, i, j) - i, TokenClass::String});
            i = j;
            continue;
        }
        if (isWordStart(c)) {
            int j = i + 1;
            while (j < end && isWordPart(line.at(j)))
                ++j;
            const QString word = line.mid(i, j - i);
            if (isKeyword(word)) {
                out.push_back({i, j - i, TokenClass::Keyword});
                afterSend = word.compare(QLatin1String("send"), Qt::CaseInsensitive) == 0 && sendDepth == 0;
            }
            i = j;
            continue;
        }
        if (c.isDigit() || (c == QLatin1Char('.') && i + 1 < end && line.at(i + 1).isDigit())) {
            const int j = numberEnd(line, i, end);
            out.push_back({i, j - i, TokenClass::Number});
            i = j;
            continue;
        }
        ++i;
    }
    if (end < line.size())
        out.push_back({end, int(line.size()) - end, TokenClass::Comment});
    return out;
}

} // namespace ProgramCheck
