#include "editor/ProgramText.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

using namespace ProgramText;

namespace {

Decoded decodeOk(const QByteArray& bytes)
{
    DecodeResult r = decode(bytes, QStringLiteral("p.kelm"));
    EXPECT_TRUE(r.decoded.has_value()) << r.error.toStdString();
    return r.decoded.value_or(Decoded{});
}

QByteArray roundTrip(const QByteArray& bytes)
{
    const Decoded d = decodeOk(bytes);
    return encode(d.text, d.format).value_or(QByteArray("<unencodable>"));
}

TEST(ProgramFileBytes, RoundTripsByteForByte)
{
    const QByteArray cases[] = {
        "at (5) {T1} = 2\nafter (3) stop\n",
        "at (5) {T1} = 2\r\nafter (3) stop\r\n",
        "at (5) {T1} = 2\rafter (3) stop\r",
        "no final line end\r\nlast",
        "\xEF\xBB\xBF// UTF-8 with BOM \xC3\xA9\r\nat (1) {T} = 1\r\n",
        "// caf\xC3\xA9 in UTF-8\n",
        "// caf\xE9 \xA0 in Latin-1 with a no-break space\r\n* \xFF\xFE\r\n",
        "\xEF\xBB\xBF// BOM but then invalid \xE9\n",
        "// CESU surrogate \xED\xA0\x80 is not UTF-8\n",
        "",
        "\r\n\r\n",
    };
    for (const QByteArray& bytes : cases)
        EXPECT_EQ(roundTrip(bytes), bytes) << bytes.toStdString();
}

TEST(ProgramFileBytes, EveryByteSurvivesLatin1)
{
    QByteArray bytes;
    for (int b = 1; b < 256; ++b) {
        if (b != '\r' && b != '\n')
            bytes.append(static_cast<char>(b));
    }
    bytes.append("\r\n");
    const Decoded d = decodeOk(bytes);
    EXPECT_EQ(d.format.encoding, Encoding::Latin1);
    EXPECT_EQ(d.format.lineEnd, LineEnd::CrLf);
    EXPECT_EQ(encode(d.text, d.format).value_or(QByteArray()), bytes);
}

TEST(ProgramFileBytes, DetectsFormat)
{
    Decoded d = decodeOk("a\r\nb\r\nc\n");
    EXPECT_EQ(d.format.lineEnd, LineEnd::CrLf);
    EXPECT_EQ(d.text, QStringLiteral("a\nb\nc\n"));
    EXPECT_EQ(d.format.encoding, Encoding::Utf8);

    d = decodeOk("a\rb\rc\n");
    EXPECT_EQ(d.format.lineEnd, LineEnd::Cr);
    EXPECT_EQ(d.text, QStringLiteral("a\nb\nc\n"));

    d = decodeOk("\xEF\xBB\xBF"
                 "x");
    EXPECT_TRUE(d.format.byteOrderMark);
    EXPECT_EQ(d.text, QStringLiteral("x"));

    d = decodeOk("\xE9t\xE9");
    EXPECT_EQ(d.format.encoding, Encoding::Latin1);
    EXPECT_EQ(d.text, QString::fromUtf8("\xC3\xA9t\xC3\xA9"));
}

TEST(ProgramFileBytes, MixedLineEndsBecomeTheDominantOne)
{
    const Decoded d = decodeOk("a\r\nb\r\nc\nd");
    EXPECT_EQ(encode(d.text, d.format).value_or(QByteArray()), QByteArray("a\r\nb\r\nc\r\nd"));
}

TEST(ProgramFileBytes, RefusesNulBytesAndHugeInput)
{
    DecodeResult r = decode(QByteArray("at (1) {T} = 1\n\0x", 17), QStringLiteral("/tmp/bin.kelm"));
    EXPECT_FALSE(r.decoded.has_value());
    EXPECT_TRUE(r.error.contains(QStringLiteral("/tmp/bin.kelm")));
    EXPECT_TRUE(r.error.contains(QStringLiteral("NUL")));

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile big(dir.filePath(QStringLiteral("big.kelm")));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    ASSERT_TRUE(big.resize(MaxFileSize + 1)); // sparse: nothing is really written
    big.close();
    const ReadResult read = readFile(big.fileName());
    EXPECT_FALSE(read.bytes.has_value());
    EXPECT_TRUE(read.error.contains(QStringLiteral("too large")));

    const ReadResult missing = readFile(dir.filePath(QStringLiteral("missing.kelm")));
    EXPECT_FALSE(missing.bytes.has_value());
    EXPECT_TRUE(missing.error.contains(QStringLiteral("missing.kelm")));
    EXPECT_FALSE(readFile(dir.path()).bytes.has_value());
}

TEST(ProgramFileBytes, Latin1CannotHoldEveryCharacter)
{
    FileFormat latin1{Encoding::Latin1, LineEnd::CrLf, false};
    int index = -1;
    EXPECT_FALSE(encode(QString::fromUtf8("ab\ncd\n\xE2\x82\xAC"), latin1, &index).has_value());
    EXPECT_EQ(index, 6);
    EXPECT_EQ(encode(QString::fromUtf8("\xC3\xA9\n"), latin1).value_or(QByteArray()), QByteArray("\xE9\r\n"));
}

TEST(ProgramLines, CommentLines)
{
    EXPECT_TRUE(IsCommentLine(QStringLiteral("* note")));
    EXPECT_TRUE(IsCommentLine(QStringLiteral("*")));
    EXPECT_TRUE(IsCommentLine(QStringLiteral("// note")));
    EXPECT_FALSE(IsCommentLine(QStringLiteral("/ note")));
    EXPECT_FALSE(IsCommentLine(QStringLiteral("  // note")));
    EXPECT_FALSE(IsCommentLine(QStringLiteral(" *")));
    EXPECT_FALSE(IsCommentLine(QString()));
    EXPECT_FALSE(IsCommentLine(QStringLiteral("at (5) {T1} = 2 // trailing")));
}

TEST(ProgramLines, PlacementOfAnInsertedStatement)
{
    // Text "ab\ncd\n": line 1 starts at 3, length 2; the text has 6 characters.
    EXPECT_EQ(PlaceInsertion(3, 2, 3, 6).position, 3); // caret at the start: in front
    EXPECT_EQ(PlaceInsertion(3, 2, 4, 6).position, 6); // inside: behind
    EXPECT_EQ(PlaceInsertion(3, 2, 5, 6).position, 6); // at the end of the line: behind
    EXPECT_FALSE(PlaceInsertion(3, 2, 5, 6).leadingLineBreak);
    EXPECT_EQ(PlaceInsertion(3, 2, 1, 6).position, 3); // selection from an earlier line: in front

    // Last line without a line break: "ab\ncd".
    const Placement end = PlaceInsertion(3, 2, 4, 5);
    EXPECT_EQ(end.position, 5);
    EXPECT_TRUE(end.leadingLineBreak);
    const Placement front = PlaceInsertion(3, 2, 3, 5);
    EXPECT_EQ(front.position, 3);
    EXPECT_FALSE(front.leadingLineBreak);
    // Empty text.
    EXPECT_EQ(PlaceInsertion(0, 0, 0, 0).position, 0);
    EXPECT_FALSE(PlaceInsertion(0, 0, 0, 0).leadingLineBreak);
}

TEST(RunnerCommandLines, RunTextAndItsArguments)
{
    EXPECT_EQ(RunCommandLine(QStringLiteral("kern1"), QStringLiteral("3"), QStringLiteral("/home/u/my prog.kelm")),
              QStringLiteral("kelm -npstatus -host kern1 -instance norvex:3 \"/home/u/my prog.kelm\""));
    EXPECT_EQ(RunCommandLine(QStringLiteral("localhost"), QStringLiteral("0"), QString()),
              QStringLiteral("kelm -npstatus -host localhost -instance norvex:0 \"\""));
    // Host and instance go in as they are, without quotes.
    EXPECT_EQ(RunCommandLine(QStringLiteral("a b"), QStringLiteral("x y"), QStringLiteral("p")),
              QStringLiteral("kelm -npstatus -host a b -instance norvex:x y \"p\""));

    const QStringList expected = {QStringLiteral("-npstatus"),  QStringLiteral("-host"),
                                  QStringLiteral("a b"),        QStringLiteral("-instance"),
                                  QStringLiteral("norvex:x y"), QStringLiteral("/home/u/my prog.kelm")};
    EXPECT_EQ(RunArguments(QStringLiteral("a b"), QStringLiteral("x y"), QStringLiteral("/home/u/my prog.kelm")),
              expected);
    EXPECT_EQ(RunArguments(QStringLiteral("h"), QStringLiteral("0"), QString()).constLast(), QString());
}

TEST(RunnerCommandLines, ParseArguments)
{
    const QString path = QStringLiteral("/home/u/my prog.kelm");
    EXPECT_EQ(ParseArgv(path),
              (QStringList{QStringLiteral("kelm"), QStringLiteral("-parse"), QStringLiteral("-npstatus"), path}));
    EXPECT_EQ(ParseArguments(path), ParseArgv(path).mid(1));
    EXPECT_EQ(ParseArguments(QString()).size(), 3);
}

} // namespace
