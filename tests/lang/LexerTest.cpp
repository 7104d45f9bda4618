// The lexer's own rules, in both encodings it reads: UTF-8 bytes as programs are read and run, and the
// editor's UTF-16 text as lines are coloured.

#include "lang/Lexer.h"
#include "lang/ProgramCheck.h"
#include "tests/lang/Coloured.h"

#include <QString>

#include <gtest/gtest.h>

#include <string>

using namespace kelm;

namespace {

const char* kindName(LexKind kind)
{
    switch (kind) {
    case LexKind::End:
        return "end";
    case LexKind::Word:
        return "word";
    case LexKind::Number:
        return "number";
    case LexKind::Tag:
        return "tag";
    case LexKind::Time:
        return "time";
    case LexKind::Open:
        return "open";
    case LexKind::Close:
        return "close";
    case LexKind::Comma:
        return "comma";
    case LexKind::Operator:
        return "op";
    case LexKind::Other:
        return "other";
    }
    return "?";
}

// Every lexeme as "kind:text", with "!" after one that is not complete.
template <typename Char, typename Text> std::string describe(BasicLexer<Char>& lexer, const Text& text)
{
    std::string out;
    for (Lexeme l = lexer.next(); l.kind != LexKind::End; l = lexer.next()) {
        if (!out.empty())
            out += ' ';
        out += std::string(kindName(l.kind)) + ':' + text(l.start, l.length()) + (l.complete ? "" : "!");
    }
    return out;
}

std::string utf8Lexemes(const std::string& line)
{
    Lexer lexer(line);
    return describe(lexer, [&](std::size_t at, std::size_t n) { return line.substr(at, n); });
}

std::string editorLexemes(const QString& line)
{
    BasicLexer<QChar> lexer(line.constData(), std::size_t(line.size()));
    return describe(lexer, [&](std::size_t at, std::size_t n) { return line.mid(int(at), int(n)).toStdString(); });
}

// The lexemes of an ASCII line, which both encodings must read alike.
std::string lexemes(const std::string& line)
{
    const std::string utf8 = utf8Lexemes(line);
    EXPECT_EQ(editorLexemes(QString::fromStdString(line)), utf8) << line;
    return utf8;
}

} // namespace

TEST(Lexer, ReadsEveryKindOfLexemeWithItsExtent)
{
    EXPECT_EQ(lexemes("  after (1.5e3) {T101:INLET} = 2.0, [00:05.00] x_1 "),
              "word:after open:( number:1.5e3 close:) tag:{T101:INLET} op:= number:2.0 comma:, time:[00:05.00] "
              "word:x_1");
    EXPECT_EQ(lexemes("<= <> < >= > == != ! && || + - * / & | ? ."),
              "op:<= op:<> op:< op:>= op:> op:== op:!= op:! op:&& op:|| op:+ op:- op:* op:/ other:& other:| "
              "other:? other:.");
    EXPECT_EQ(lexemes(""), "");
    EXPECT_EQ(lexemes(" \t\r\n\v\f"), "");
    // An operator's second character never starts a lexeme of its own.
    EXPECT_EQ(lexemes("1<=-2"), "number:1 op:<= op:- number:2");
}

TEST(Lexer, NumbersTakeAnExponentOnlyWhenDigitsFollowIt)
{
    EXPECT_EQ(lexemes("1e5 2.5E-3 7e+0 .5 5."), "number:1e5 number:2.5E-3 number:7e+0 number:.5 number:5.");
    EXPECT_EQ(lexemes("1e"), "number:1! word:e") << "an exponent without digits is not part of the number";
    EXPECT_EQ(lexemes("1e+"), "number:1! word:e op:+");
    EXPECT_EQ(lexemes("1.2.3"), "number:1.2.3!") << "one lexeme, with a point too many";
    EXPECT_EQ(lexemes("1e5.2"), "number:1e5! number:.2");
    EXPECT_EQ(lexemes("12abc"), "number:12! word:abc");
    EXPECT_EQ(lexemes("3_"), "number:3! word:_");
    EXPECT_EQ(lexemes("1 e5"), "number:1 word:e5");
}

TEST(Lexer, TagsAndTimeConstantsRunToTheirFirstCloseOrToTheEnd)
{
    EXPECT_EQ(lexemes("{HX101:T.v[3]} > 1"), "tag:{HX101:T.v[3]} op:> number:1") << "brackets inside a tag";
    EXPECT_EQ(lexemes("{A{B}} x"), "tag:{A{B} other:} word:x") << "a tag ends at its first brace";
    EXPECT_EQ(lexemes("{A = 1 ) stop"), "tag:{A = 1 ) stop!");
    EXPECT_EQ(lexemes("[01-02-24 10:00:00]) stop"), "time:[01-02-24 10:00:00] close:) word:stop");
    EXPECT_EQ(lexemes("[1 {A}"), "time:[1 {A}!");
    EXPECT_EQ(lexemes("{}"), "tag:{}");

    // A limit, such as a trailing comment, ends an unclosed tag.
    const std::string line = "when ({A:B > 1 // note}";
    Lexer lexer(line);
    lexer.limit(10);
    EXPECT_EQ(describe(lexer, [&](std::size_t at, std::size_t n) { return line.substr(at, n); }),
              "word:when open:( tag:{A:B!");
}

TEST(Lexer, CommentsStandOutsideNestedBraces)
{
    const auto commentAt = [](const std::string& line) {
        const std::size_t utf8 = Lexer(line).commentStart();
        const QString text = QString::fromStdString(line);
        EXPECT_EQ(BasicLexer<QChar>(text.constData(), std::size_t(text.size())).commentStart(), utf8) << line;
        return utf8;
    };
    EXPECT_EQ(commentAt("after (1) stop // done"), 15u);
    EXPECT_EQ(commentAt("{A//B} = 1 // x"), 11u);
    EXPECT_EQ(commentAt("{{A}//B} = 1"), 12u) << "braces nest for comments";
    EXPECT_EQ(commentAt("}// x"), 1u) << "a stray close does not hide a comment";
    EXPECT_EQ(commentAt("stop /"), 6u);

    EXPECT_TRUE(Lexer("  * note").commentLine());
    EXPECT_TRUE(Lexer("\t// note").commentLine());
    EXPECT_FALSE(Lexer("stop // note").commentLine());
    EXPECT_FALSE(Lexer(" / note").commentLine());
    EXPECT_FALSE(Lexer("   ").commentLine());
}

TEST(Lexer, ParenthesesNestAndSkipTagsWhole)
{
    const std::string args = "a, (b, c)), d)";
    EXPECT_EQ(Lexer(args).closingParenthesis(0, true), 1u);
    EXPECT_EQ(Lexer(args).closingParenthesis(0, false), 9u);
    EXPECT_EQ(Lexer("{a)b}, c)").closingParenthesis(0, false), 8u) << "a parenthesis inside a tag";
    EXPECT_EQ(Lexer("{a)b, c)").closingParenthesis(0, true), Lexer::npos) << "an unclosed tag takes the rest";
    EXPECT_EQ(Lexer("((x)").closingParenthesis(0, false), Lexer::npos);

    const std::string arg = "x + 1 , {B})";
    EXPECT_EQ(Lexer(arg).argumentEnd(0), 6u);
    EXPECT_EQ(Lexer(arg).trimEnd(0, 6), 5u);
    EXPECT_EQ(Lexer(arg).argumentEnd(7), 8u);
    EXPECT_EQ(Lexer("1 + 2").argumentEnd(0), 5u) << "an unterminated argument list runs to the end";
}

TEST(Lexer, ArgumentsAreStringsWhateverTheyHold)
{
    // Braces and a "//" inside send arguments, and an argument list without its close.
    EXPECT_EQ(coloured("when (1) send(Log, {A//B}, x y) // done"),
              "keyword:when number:1 keyword:send string:{A//B} string:x y comment:// done");
    EXPECT_EQ(coloured("after (1) send(SetVariable, {A}, 1 + (2"),
              "keyword:after number:1 keyword:send string:{A} string:1 + (2");
    EXPECT_EQ(coloured("after (1) send(X, [3], {Q)"), "keyword:after number:1 keyword:send number:[3] string:{Q)");
    EXPECT_EQ(coloured("stop send(X, a) stop"), "keyword:stop keyword:send string:a keyword:stop");
}

TEST(Lexer, KeywordsIgnoreAsciiCaseAndAreWholeWords)
{
    const auto keywordOf = [](const std::string& word) { return Lexer(word).keyword(0, word.size()); };
    EXPECT_EQ(keywordOf("AFTER"), Keyword::After);
    EXPECT_EQ(keywordOf("At"), Keyword::At);
    EXPECT_EQ(keywordOf("sTOP"), Keyword::Stop);
    EXPECT_EQ(keywordOf("set"), Keyword::Set);
    EXPECT_EQ(keywordOf("Not"), Keyword::Not);
    EXPECT_EQ(keywordOf("afterwards"), Keyword::None);
    EXPECT_EQ(keywordOf("a"), Keyword::None);
    EXPECT_EQ(keywordOf(""), Keyword::None);
    // As a prefix, as the statement reader takes it.
    EXPECT_TRUE(Lexer("afterwards").startsWith(0, Keyword::After));
    EXPECT_TRUE(Lexer(" SEND(").startsWith(1, Keyword::Send));
    EXPECT_FALSE(Lexer("sen").startsWith(0, Keyword::Send));
    EXPECT_FALSE(Lexer("send").startsWith(5, Keyword::Send));

    // Only ASCII folds: the long s is not an s, in either encoding.
    const QString longS = QStringLiteral("\u017Ftop");
    EXPECT_EQ(BasicLexer<QChar>(longS.constData(), std::size_t(longS.size())).keyword(0, 4), Keyword::None);
    EXPECT_EQ(coloured(longS + QStringLiteral(" STOP")), "keyword:STOP");
}

TEST(Lexer, NonAsciiTextFollowsTheClassesOfItsEncoding)
{
    // UTF-8: each byte of a non-ASCII character is a lexeme of its own, and NUL and high bytes too.
    EXPECT_EQ(utf8Lexemes("\xC3\x84"
                          "1"),
              "other:\xC3 other:\x84 number:1");
    EXPECT_EQ(utf8Lexemes(std::string("a\0b", 3)), std::string("word:a other:\0 word:b", 21));
    EXPECT_EQ(utf8Lexemes("\xFF\xFE{\xC3\xA9}"), "other:\xFF other:\xFE tag:{\xC3\xA9}");
    EXPECT_EQ(utf8Lexemes("\xC2\xA0"
                          "1"),
              "other:\xC2 other:\xA0 number:1")
        << "no-break space is not white space in UTF-8";

    // The editor's text: Unicode letters, digits and spaces count.
    EXPECT_EQ(editorLexemes(QStringLiteral("\u00C41 \u0663 \u00A0x")), "word:\xC3\x84"
                                                                       "1 number:\xD9\xA3 word:x");
    EXPECT_EQ(coloured(QStringLiteral("\u00C4after (\u0663) stop")), "number:\xD9\xA3 keyword:stop");
    // A lone surrogate is one code unit like any other.
    const QChar lone[] = {QChar(char16_t(0xD800)), QLatin1Char('1')};
    BasicLexer<QChar> lexer(lone, 2);
    EXPECT_EQ(lexer.next().kind, LexKind::Other);
    EXPECT_EQ(lexer.next().kind, LexKind::Number);
    EXPECT_EQ(lexer.next().kind, LexKind::End);
}

TEST(Lexer, VeryLongLinesAreReadInOnePass)
{
    // An unclosed brace or bracket at the start of a long line is one lexeme, not one per character.
    for (const char open : {'{', '['}) {
        const std::string line = std::string(1, open) + std::string(2'000'000, open);
        Lexer lexer(line);
        const Lexeme l = lexer.next();
        EXPECT_EQ(l.end, line.size());
        EXPECT_FALSE(l.complete);
        EXPECT_EQ(lexer.next().kind, LexKind::End);
        EXPECT_EQ(lexer.commentStart(), line.size());
    }

    // Many short lexemes: every one is read, up to the last.
    std::string line = "when (";
    for (int i = 0; i < 200'000; ++i)
        line += "{T} + 1e3 - ";
    line += "0) stop";
    Lexer lexer(line);
    int count = 0;
    Lexeme last;
    for (Lexeme l = lexer.next(); l.kind != LexKind::End; l = lexer.next(), ++count)
        last = l;
    EXPECT_EQ(count, 2 + 4 * 200'000 + 3);
    EXPECT_EQ(last.kind, LexKind::Word);
    EXPECT_EQ(last.end, line.size());

    // The colouring of a long send line.
    QString send = QStringLiteral("after (1) send(Log");
    for (int i = 0; i < 100'000; ++i)
        send += QStringLiteral(", {A}");
    send += QLatin1Char(')');
    EXPECT_EQ(ProgramCheck::tokens(send).size(), 3u + 100'000u);
}
