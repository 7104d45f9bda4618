#pragma once

// The lexical rules of KELM, written once: white space, words and keywords, numbers, {TAG}s, [time
// constants], parentheses and commas, the expression operators, send arguments and "//" comments.
// The statement reader, program reading, the expression parser and the live check's colouring all
// read a line through it.
//
// A lexer reads a text it does not own, in one of two encodings: UTF-8 bytes (char) as programs are
// read and run, or the editor's UTF-16 (QChar). Positions are code units of that text. Character
// classes follow the encoding: in UTF-8 only ASCII counts as a letter, digit or white space; in the
// editor's text, Unicode letters, digits and spaces do. Lexemes are positions only: reading a line
// allocates nothing.

#include <QChar>

#include <cstddef>
#include <string_view>

namespace kelm {

enum class LexKind {
    End,      // nothing but white space is left
    Word,     // a letter or "_", then letters, digits and "_"
    Number,   // digits and points, then an exponent when digits follow its "e"
    Tag,      // "{" up to the first "}"
    Time,     // "[" up to the first "]"
    Open,     // "("
    Close,    // ")"
    Comma,    // ","
    Operator, // see Operator
    Other     // any other single code unit
};

enum class Operator {
    None,
    Plus,
    Minus,
    Times,
    Divide,
    Less,
    LessEqual,
    Greater,
    GreaterEqual,
    Equal,    // = ==
    NotEqual, // != <>
    Not,      // ! not
    And,      // && and
    Or        // || or
};

// The words with a meaning of their own. Statement keywords are the tables of StatementSyntax.h;
// "and", "or" and "not" are operators of the expression language. Case does not matter (ASCII).
enum class Keyword { None, After, At, When, Ramp, Send, Set, Stop, And, Or, Not };

struct Lexeme
{
    LexKind kind = LexKind::End;
    std::size_t start = 0;
    std::size_t end = 0; // behind the lexeme
    Operator op = Operator::None;
    // Tag, Time: the closing brace or bracket was found (else the lexeme runs to the end). Number:
    // it has at most one point and no letter follows it.
    bool complete = true;

    std::size_t length() const { return end - start; }
};

template <typename Char> struct LexChar;

template <> struct LexChar<char>
{
    static char32_t code(char c) { return static_cast<unsigned char>(c); }
    static bool isSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
    static bool isDigit(char c) { return c >= '0' && c <= '9'; }
    static bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
    static bool isLetterOrDigit(char c) { return isLetter(c) || isDigit(c); }
};

template <> struct LexChar<QChar>
{
    static char32_t code(QChar c) { return c.unicode(); }
    static bool isSpace(QChar c) { return c.isSpace(); }
    static bool isDigit(QChar c) { return c.isDigit(); }
    static bool isLetter(QChar c) { return c.isLetter(); }
    static bool isLetterOrDigit(QChar c) { return c.isLetterOrNumber(); }
};

template <typename Char> class BasicLexer
{
public:
    using Chars = LexChar<Char>;
    static constexpr std::size_t npos = std::size_t(-1);

    // Reads text[0, size), from from on.
    BasicLexer(const Char* text, std::size_t size, std::size_t from = 0) : m_text(text), m_size(size), m_pos(from) {}

    std::size_t size() const { return m_size; }
    std::size_t position() const { return m_pos; }
    void seek(std::size_t position) { m_pos = position < m_size ? position : m_size; }
    // Lexemes stop at end (at most the size), as at a trailing comment.
    void limit(std::size_t end) { m_size = end < m_size ? end : m_size; }
    char32_t at(std::size_t i) const { return Chars::code(m_text[i]); }

    // Skips white space, reads the next lexeme and moves behind it.
    Lexeme next();

    static bool isSpace(Char c) { return Chars::isSpace(c); }
    static bool isDigit(Char c) { return Chars::isDigit(c); }
    static bool isWordStart(Char c) { return Chars::isLetter(c) || Chars::code(c) == '_'; }
    static bool isWordPart(Char c) { return Chars::isLetterOrDigit(c) || Chars::code(c) == '_'; }

    // The first position from i on that is not white space (the size when none).
    std::size_t skipSpace(std::size_t i) const;
    // to, moved back over the white space before it, but not before from.
    std::size_t trimEnd(std::size_t from, std::size_t to) const;
    // Whether text holds nothing but white space.
    bool blank() const { return skipSpace(0) == m_size; }

    // Where a "//" that stands outside braces begins (braces nest), or the size.
    std::size_t commentStart() const;
    // A whole-line comment: its first visible character is "*" or it begins with "//".
    bool commentLine() const;

    // Behind the close that ends a "{" or "[" at i, or npos when it does not follow.
    std::size_t closingEnd(std::size_t i, char close) const;
    // The ")" that closes a parenthesis opened before i (parentheses nest, a tag is skipped whole), or
    // npos. With comma, a "," at the outer level ends it too.
    std::size_t closingParenthesis(std::size_t i, bool comma) const;
    // The end of a send argument's text starting at i: the next ",", ")" or "{", or the size.
    std::size_t argumentEnd(std::size_t i) const;

    // The keyword the whole word at [start, end) is.
    Keyword keyword(std::size_t start, std::size_t end) const;
    // Whether the text at i begins with keyword's spelling: the statement reader takes keywords as
    // prefixes, with nothing required after them.
    bool startsWith(std::size_t i, Keyword keyword) const;

private:
    std::size_t numberEnd(std::size_t i, bool& complete) const;
    Lexeme op(std::size_t at, std::size_t length, Operator o);

    const Char* m_text;
    std::size_t m_size;
    std::size_t m_pos;
};

extern template class BasicLexer<char>;
extern template class BasicLexer<QChar>;

// A lexer of UTF-8 text, as programs are read.
class Lexer : public BasicLexer<char>
{
public:
    explicit Lexer(std::string_view text, std::size_t from = 0) : BasicLexer<char>(text.data(), text.size(), from) {}
};

// The spelling of a keyword, lower case; empty for None.
std::string_view keywordText(Keyword keyword);

// text without the white space at its ends.
std::string_view trimmedText(std::string_view text);

} // namespace kelm
