#include "lang/Lexer.h"

#include "lang/StatementSyntax.h"

namespace kelm {

std::string_view keywordText(Keyword keyword)
{
    switch (keyword) {
    case Keyword::After:
        return kTriggerKeywords[int(TriggerKind::After)];
    case Keyword::At:
        return kTriggerKeywords[int(TriggerKind::At)];
    case Keyword::When:
        return kTriggerKeywords[int(TriggerKind::When)];
    case Keyword::Ramp:
        return kOperationKeywords[int(OperationKind::Ramp)];
    case Keyword::Send:
        return kOperationKeywords[int(OperationKind::Send)];
    case Keyword::Set:
        return kOperationKeywords[int(OperationKind::Set)];
    case Keyword::Stop:
        return kOperationKeywords[int(OperationKind::Stop)];
    case Keyword::And:
        return "and";
    case Keyword::Or:
        return "or";
    case Keyword::Not:
        return "not";
    case Keyword::None:
        break;
    }
    return {};
}

std::string_view trimmedText(std::string_view text)
{
    const Lexer lexer(text);
    const std::size_t first = lexer.skipSpace(0);
    return text.substr(first, lexer.trimEnd(first, text.size()) - first);
}

namespace {

char32_t lowerAscii(char32_t c)
{
    return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c;
}

constexpr Keyword kWords[] = {Keyword::After, Keyword::At,   Keyword::When, Keyword::Ramp, Keyword::Send,
                              Keyword::Set,   Keyword::Stop, Keyword::And,  Keyword::Or,   Keyword::Not};

} // namespace

template <typename Char> std::size_t BasicLexer<Char>::skipSpace(std::size_t i) const
{
    while (i < m_size && isSpace(m_text[i]))
        ++i;
    return i < m_size ? i : m_size;
}

template <typename Char> std::size_t BasicLexer<Char>::trimEnd(std::size_t from, std::size_t to) const
{
    while (to > from && isSpace(m_text[to - 1]))
        --to;
    return to;
}

template <typename Char> std::size_t BasicLexer<Char>::commentStart() const
{
    int braces = 0;
    for (std::size_t i = 0; i + 1 < m_size; ++i) {
        const char32_t c = at(i);
        if (c == '{')
            ++braces;
        else if (c == '}' && braces > 0)
            --braces;
        else if (braces == 0 && c == '/' && at(i + 1) == '/')
            return i;
    }
    return m_size;
}

template <typename Char> bool BasicLexer<Char>::commentLine() const
{
    const std::size_t first = skipSpace(0);
    if (first == m_size)
        return false;
    return at(first) == '*' || (at(first) == '/' && first + 1 < m_size && at(first + 1) == '/');
}

template <typename Char> std::size_t BasicLexer<Char>::closingEnd(std::size_t i, char close) const
{
    for (std::size_t j = i + 1; j < m_size; ++j) {
        if (at(j) == char32_t(close))
            return j + 1;
    }
    return npos;
}

template <typename Char> std::size_t BasicLexer<Char>::closingParenthesis(std::size_t i, bool comma) const
{
    int depth = 0;
    for (; i < m_size; ++i) {
        const char32_t c = at(i);
        if (c == '{') {
            const std::size_t close = closingEnd(i, '}');
            if (close == npos)
                return npos;
            i = close - 1;
        } else if (c == '(') {
            ++depth;
        } else if (c == ')') {
            if (depth == 0)
                return i;
            --depth;
        } else if (c == ',' && comma && depth == 0) {
            return i;
        }
    }
    return npos;
}

template <typename Char> std::size_t BasicLexer<Char>::argumentEnd(std::size_t i) const
{
    while (i < m_size && at(i) != ',' && at(i) != ')' && at(i) != '{')
        ++i;
    return i;
}

template <typename Char> bool BasicLexer<Char>::startsWith(std::size_t i, Keyword keyword) const
{
    const std::string_view text = keywordText(keyword);
    if (text.empty() || i > m_size || m_size - i < text.size())
        return false;
    for (std::size_t k = 0; k < text.size(); ++k) {
        if (lowerAscii(at(i + k)) != char32_t(text[k]))
            return false;
    }
    return true;
}

template <typename Char> Keyword BasicLexer<Char>::keyword(std::size_t start, std::size_t end) const
{
    for (const Keyword k : kWords) {
        if (keywordText(k).size() == end - start && startsWith(start, k))
            return k;
    }
    return Keyword::None;
}

template <typename Char> std::size_t BasicLexer<Char>::numberEnd(std::size_t i, bool& complete) const
{
    int points = 0;
    while (i < m_size && (isDigit(m_text[i]) || at(i) == '.')) {
        points += at(i) == '.';
        ++i;
    }
    if (i < m_size && (at(i) == 'e' || at(i) == 'E')) {
        std::size_t k = i + 1;
        if (k < m_size && (at(k) == '+' || at(k) == '-'))
            ++k;
        if (k < m_size && isDigit(m_text[k])) {
            while (k < m_size && isDigit(m_text[k]))
                ++k;
            i = k;
        }
    }
    complete = points <= 1 && !(i < m_size && (isWordStart(m_text[i]) || at(i) == '.'));
    return i;
}

template <typename Char> Lexeme BasicLexer<Char>::op(std::size_t at, std::size_t length, Operator o)
{
    m_pos = at + length;
    Lexeme l;
    l.kind = LexKind::Operator;
    l.start = at;
    l.end = m_pos;
    l.op = o;
    return l;
}

template <typename Char> Lexeme BasicLexer<Char>::next()
{
    const std::size_t i = skipSpace(m_pos);
    Lexeme l;
    l.start = l.end = m_pos = i;
    if (i >= m_size)
        return l;
    const char32_t c = at(i);
    const char32_t d = i + 1 < m_size ? at(i + 1) : 0;
    if (isDigit(m_text[i]) || (c == '.' && i + 1 < m_size && isDigit(m_text[i + 1]))) {
        l.kind = LexKind::Number;
        l.end = numberEnd(i, l.complete);
    } else if (isWordStart(m_text[i])) {
        l.kind = LexKind::Word;
        l.end = i + 1;
        while (l.end < m_size && isWordPart(m_text[l.end]))
            ++l.end;
    } else if (c == '{' || c == '[') {
        l.kind = c == '{' ? LexKind::Tag : LexKind::Time;
        l.end = closingEnd(i, c == '{' ? '}' : ']');
        l.complete = l.end != npos;
        if (!l.complete)
            l.end = m_size;
    } else if (c == '(' || c == ')' || c == ',') {
        l.kind = c == '(' ? LexKind::Open : c == ')' ? LexKind::Close : LexKind::Comma;
        l.end = i + 1;
    } else {
        switch (c) {
        case '+':
            return op(i, 1, Operator::Plus);
        case '-':
            return op(i, 1, Operator::Minus);
        case '*':
            return op(i, 1, Operator::Times);
        case '/':
            return op(i, 1, Operator::Divide);
        case '<':
            return d == '='   ? op(i, 2, Operator::LessEqual)
                   : d == '>' ? op(i, 2, Operator::NotEqual)
                              : op(i, 1, Operator::Less);
        case '>':
            return d == '=' ? op(i, 2, Operator::GreaterEqual) : op(i, 1, Operator::Greater);
        case '=':
            return op(i, d == '=' ? 2 : 1, Operator::Equal);
        case '!':
            return d == '=' ? op(i, 2, Operator::NotEqual) : op(i, 1, Operator::Not);
        case '&':
            if (d == '&')
                return op(i, 2, Operator::And);
            break;
        case '|':
            if (d == '|')
                return op(i, 2, Operator::Or);
            break;
        default:
            break;
        }
        l.kind = LexKind::Other;
        l.end = i + 1;
    }
    m_pos = l.end;
    return l;
}

template class BasicLexer<char>;
template class BasicLexer<QChar>;

} // namespace kelm
