#include "editor/ProgramText.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    return encode(d.text, d.format, d.lineEnds).value_or(QByteArray("<unencodable>"));
}

QString decodeError(const QByteArray& bytes)
{
    const DecodeResult r = decode(bytes, QStringLiteral("/tmp/p.kelm"));
    EXPECT_FALSE(r.decoded.has_value()) << bytes.toStdString();
    return r.error;
}

// Opens the write end of a named pipe whenever a reader waits in open(), so that a reader that
// should never have opened it gets an empty read instead of hanging the test.
class FifoUnblocker
{
public:
    explicit FifoUnblocker(const QByteArray& path)
        : m_thread([this, path] {
              const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
              std::unique_lock<std::mutex> lock(m_mutex);
              while (!m_done && std::chrono::steady_clock::now() < deadline) {
                  const int fd = ::open(path.constData(), O_WRONLY | O_NONBLOCK);
                  if (fd >= 0)
                      ::close(fd);
                  m_wake.wait_for(lock, std::chrono::milliseconds(20));
              }
          })
    {
    }
    ~FifoUnblocker()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_done = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_done = false;
    std::thread m_thread;
};

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
        // Mixed line ends, and carriage returns that end no line.
        "a\r\nb\nc\r\n\nd\r\ne",
        "* lone \r inside\nat (1) {T} = 1\r\n",
        "x\r\ry\n\r",
        "a\r\r\nb\n",
        "// caf\xE9\r* Latin-1 with a lone CR\n",
        "// the mark itself \xE2\x90\x8D without carriage returns\r\n",
        "\r\r\r",
    };
    for (const QByteArray& bytes : cases)
        EXPECT_EQ(roundTrip(bytes), bytes) << bytes.toStdString();
}

TEST(ProgramFileBytes, EveryByteSurvivesLatin1)
{
    QByteArray bytes;
    for (int b = 1; b < 256; ++b) {
        if (b != '\n')
            bytes.append(static_cast<char>(b));
    }
    bytes.append("\r\n");
    const Decoded d = decodeOk(bytes);
    EXPECT_EQ(d.format.encoding, Encoding::Latin1);
    EXPECT_EQ(d.format.lineEnd, LineEnd::CrLf);
    EXPECT_EQ(d.text.count(QLatin1Char('\n')), 1);
    EXPECT_EQ(encode(d.text, d.format, d.lineEnds).value_or(QByteArray()), bytes);
}

TEST(ProgramFileBytes, DetectsFormat)
{
    Decoded d = decodeOk("a\r\nb\r\nc\n");
    EXPECT_EQ(d.format.lineEnd, LineEnd::CrLf);
    EXPECT_EQ(d.text, QStringLiteral("a\nb\nc\n"));
    EXPECT_EQ(d.lineEnds, (std::vector<LineEnd>{LineEnd::CrLf, LineEnd::CrLf, LineEnd::Lf}));
    EXPECT_EQ(d.format.encoding, Encoding::Utf8);

    // With any LF in the file a lone CR is part of its line.
    d = decodeOk("a\rb\rc\n");
    EXPECT_EQ(d.format.lineEnd, LineEnd::Lf);
    EXPECT_TRUE(d.format.carriageReturnMarks);
    EXPECT_EQ(d.text, QStringLiteral("a\u240Db\u240Dc\n"));
    EXPECT_EQ(d.lineEnds, std::vector<LineEnd>{LineEnd::Lf});

    // Without LF, CR ends the lines.
    d = decodeOk("a\rb\rc");
    EXPECT_EQ(d.format.lineEnd, LineEnd::Cr);
    EXPECT_FALSE(d.format.carriageReturnMarks);
    EXPECT_EQ(d.text, QStringLiteral("a\nb\nc"));

    d = decodeOk("\xEF\xBB\xBF"
                 "x");
    EXPECT_TRUE(d.format.byteOrderMark);
    EXPECT_EQ(d.text, QStringLiteral("x"));

    d = decodeOk("\xE9t\xE9");
    EXPECT_EQ(d.format.encoding, Encoding::Latin1);
    EXPECT_EQ(d.text, QString::fromUtf8("\xC3\xA9t\xC3\xA9"));
}

TEST(ProgramFileBytes, EachLineKeepsItsOwnLineEnd)
{
    const Decoded d = decodeOk("a\r\nb\nc\r\nd");
    EXPECT_EQ(d.format.lineEnd, LineEnd::CrLf);
    EXPECT_EQ(encode(QStringLiteral("a\nB\nc\nd"), d.format, d.lineEnds).value_or(QByteArray()),
              QByteArray("a\r\nB\nc\r\nd"));
    // Lines beyond the recorded ones get the most common line end.
    EXPECT_EQ(encode(QStringLiteral("a\nb\nc\nd\ne\n"), d.format, d.lineEnds).value_or(QByteArray()),
              QByteArray("a\r\nb\nc\r\nd\r\ne\r\n"));
}

TEST(ProgramFileBytes, RefusesCharactersALineCannotKeep)
{
    for (const char* separator : {"\xE2\x80\xA8", "\xE2\x80\xA9", "\xEF\xB7\x90", "\xEF\xB7\x91"}) {
        const QString error = decodeError(QByteArray("at (1) {T} = 1\r\n// a ") + separator + " b\n");
        EXPECT_TRUE(error.contains(QStringLiteral("/tmp/p.kelm"))) << error.toStdString();
        EXPECT_TRUE(error.contains(QStringLiteral("line 2"))) << error.toStdString();
    }
    EXPECT_TRUE(decodeError("// \xE2\x80\xA8").contains(QStringLiteral("U+2028")));
    // In Latin-1 the same bytes are three ordinary characters.
    EXPECT_EQ(roundTrip("// \xE2\x80\xA8 \xE9\n"), QByteArray("// \xE2\x80\xA8 \xE9\n"));

    // A lone CR is shown as the mark, so a file may not hold both.
    EXPECT_TRUE(decodeError("a\rb\n\xE2\x90\x8D\n").contains(QStringLiteral("carriage return")));
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
    const ReadResult directory = readFile(dir.path());
    EXPECT_FALSE(directory.bytes.has_value());
    EXPECT_TRUE(directory.error.contains(QStringLiteral("not a regular file")));
}

TEST(ProgramFileBytes, ReadsAFileThatReportsNoSize)
{
    // /proc reports a size of zero for text it makes as it is read.
    QFile status(QStringLiteral("/proc/self/status"));
    ASSERT_TRUE(status.open(QIODevice::ReadOnly));
    ASSERT_EQ(status.size(), 0);
    const ReadResult proc = readFile(status.fileName());
    ASSERT_TRUE(proc.bytes.has_value()) << proc.error.toStdString();
    EXPECT_TRUE(proc.bytes->startsWith("Name:"));
    EXPECT_TRUE(proc.bytes->endsWith('\n'));
    EXPECT_GT(proc.bytes->size(), 200);
}

TEST(ProgramFileBytes, RefusesANamedPipeWithoutWaitingForIt)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray fifo = QFile::encodeName(dir.filePath(QStringLiteral("pipe.kelm")));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    ReadResult read;
    {
        FifoUnblocker unblocker(fifo);
        read = readFile(QFile::decodeName(fifo));
    }
    EXPECT_FALSE(read.bytes.has_value());
    EXPECT_TRUE(read.error.contains(QStringLiteral("pipe.kelm")));
    EXPECT_TRUE(read.error.contains(QStringLiteral("not a regular file")));

    const ReadResult device = readFile(QStringLiteral("/dev/zero"));
    EXPECT_FALSE(device.bytes.has_value());
    EXPECT_TRUE(device.error.contains(QStringLiteral("not a regular file")));
}

TEST(ProgramFileBytes, Latin1CannotHoldEveryCharacter)
{
    FileFormat latin1{Encoding::Latin1, LineEnd::CrLf, false};
    int index = -1;
    EXPECT_FALSE(encode(QString::fromUtf8("ab\ncd\n\xE2\x82\xAC"), latin1, {}, &index).has_value());
    EXPECT_EQ(index, 6);
    EXPECT_EQ(encode(QString::fromUtf8("\xC3\xA9\n"), latin1).value_or(QByteArray()), QByteArray("\xE9\r\n"));
    // The mark stands for a carriage return only in a file that had them.
    EXPECT_FALSE(encode(QStringLiteral("a\u240D"), latin1).has_value());
    latin1.carriageReturnMarks = true;
    EXPECT_EQ(encode(QStringLiteral("a\u240Db\n"), latin1).value_or(QByteArray()), QByteArray("a\rb\r\n"));
}

TEST(ProgramLines, CommentLines)
{
    EXPECT_TRUE(isCommentLine(QStringLiteral("* note")));
    EXPECT_TRUE(isCommentLine(QStringLiteral("*")));
    EXPECT_TRUE(isCommentLine(QStringLiteral("// note")));
    EXPECT_FALSE(isCommentLine(QStringLiteral("/ note")));
    EXPECT_FALSE(isCommentLine(QStringLiteral("  // note")));
    EXPECT_FALSE(isCommentLine(QStringLiteral(" *")));
    EXPECT_FALSE(isCommentLine(QString()));
    EXPECT_FALSE(isCommentLine(QStringLiteral("at (5) {T1} = 2 // trailing")));
}

TEST(ProgramLines, PlacementOfAnInsertedStatement)
{
    // Text "ab\ncd\n": line 1 starts at 3, length 2; the text has 6 characters.
    EXPECT_EQ(placeInsertion(3, 2, 3, 6).position, 3); // caret at the start: in front
    EXPECT_EQ(placeInsertion(3, 2, 4, 6).position, 6); // inside: behind
    EXPECT_EQ(placeInsertion(3, 2, 5, 6).position, 6); // at the end of the line: behind
    EXPECT_FALSE(placeInsertion(3, 2, 5, 6).leadingLineBreak);
    EXPECT_EQ(placeInsertion(3, 2, 1, 6).position, 3); // selection from an earlier line: in front

    // Last line without a line break: "ab\ncd".
    const Placement end = placeInsertion(3, 2, 4, 5);
    EXPECT_EQ(end.position, 5);
    EXPECT_TRUE(end.leadingLineBreak);
    const Placement front = placeInsertion(3, 2, 3, 5);
    EXPECT_EQ(front.position, 3);
    EXPECT_FALSE(front.leadingLineBreak);
    // Empty text.
    EXPECT_EQ(placeInsertion(0, 0, 0, 0).position, 0);
    EXPECT_FALSE(placeInsertion(0, 0, 0, 0).leadingLineBreak);
}

TEST(RunnerCommandLines, RunTextAndItsArguments)
{
    EXPECT_EQ(runCommandLine(QStringLiteral("kern1"), QStringLiteral("3"), QStringLiteral("/home/u/my prog.kelm")),
              QStringLiteral("kelm -npstatus -host kern1 -instance norvex:3 \"/home/u/my prog.kelm\""));
    EXPECT_EQ(runCommandLine(QStringLiteral("localhost"), QStringLiteral("0"), QString()),
              QStringLiteral("kelm -npstatus -host localhost -instance norvex:0 \"\""));
    // Host and instance go in as they are, without quotes.
    EXPECT_EQ(runCommandLine(QStringLiteral("a b"), QStringLiteral("x y"), QStringLiteral("p")),
              QStringLiteral("kelm -npstatus -host a b -instance norvex:x y \"p\""));

    const QStringList expected = {QStringLiteral("-npstatus"),  QStringLiteral("-host"),
                                  QStringLiteral("a b"),        QStringLiteral("-instance"),
                                  QStringLiteral("norvex:x y"), QStringLiteral("/home/u/my prog.kelm")};
    EXPECT_EQ(runArguments(QStringLiteral("a b"), QStringLiteral("x y"), QStringLiteral("/home/u/my prog.kelm")),
              expected);
    EXPECT_EQ(runArguments(QStringLiteral("h"), QStringLiteral("0"), QString()).constLast(), QString());
}

TEST(RunnerCommandLines, parseArguments)
{
    EXPECT_EQ(
        parseArguments(QStringLiteral("/home/u/my prog.kelm")),
        (QStringList{QStringLiteral("-parse"), QStringLiteral("-npstatus"), QStringLiteral("/home/u/my prog.kelm")}));
    EXPECT_EQ(parseArguments(QString()),
              (QStringList{QStringLiteral("-parse"), QStringLiteral("-npstatus"), QString()}));
}

} // namespace
