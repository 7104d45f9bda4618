#include "EditorFixture.h"

#include "framework/CommandIds.h"
#include "tests/common/QtPrinting.h"

#include <QElapsedTimer>

namespace {

using EditorRoundTrip = EditorFixture;

struct Sample
{
    const char* name;
    QByteArray bytes;
};

QByteArray utf16(const QString& text, bool littleEndian)
{
    QByteArray bytes = littleEndian ? QByteArray("\xFF\xFE") : QByteArray("\xFE\xFF");
    for (QChar c : text) {
        const char hi = static_cast<char>(c.unicode() >> 8);
        const char lo = static_cast<char>(c.unicode() & 0xFF);
        bytes.append(littleEndian ? lo : hi).append(littleEndian ? hi : lo);
    }
    return bytes;
}

// Bytes 1 to 255 in a fixed shuffled order: no NUL, not UTF-8.
QByteArray binaryWithoutNul()
{
    QByteArray bytes;
    for (int i = 0; i < 4096; ++i)
        bytes += static_cast<char>(1 + (i * 167 + 13) % 255);
    return bytes;
}

TEST_F(EditorRoundTrip, EveryOpenedFileIsSavedBackByteForByte)
{
    const QString text = QString::fromUtf8("// K\xC3\xBChler \xF0\x9F\x98\x80 \xE2\x82\xAC\r\nat (5) {T1} = 2\r\n");
    const std::vector<Sample> corpus = {
        {"utf8-lf", "* fill\nat (5) {T1} = 2\nafter (9) stop\n"},
        {"utf8-bom-crlf", "\xEF\xBB\xBF// K\xC3\xBChler\r\nat (5) {T1} = 2\r\n"},
        {"utf8-bom-only", "\xEF\xBB\xBF"},
        {"utf16le-bom-crlf", utf16(text, true)},
        {"utf16be-bom-lf", utf16(QString(text).remove(QLatin1Char('\r')), false)},
        {"utf16le-bom-only", "\xFF\xFE"},
        {"latin1-crlf", "* Pr\xFC"
                        "fung \x80 \x93quoted\x94\r\nat (5) {T1} = 2\r\n"},
        {"cr-only", "* old\rat (5) {T1} = 2\rafter (9) stop\r"},
        {"mixed", "* a\r\nat (1) {A} = 1\n* cr\rinside\r\n\r\nafter (5) stop"},
        {"no-final-newline", "at (5) {T1} = 2\nafter (9) stop"},
        {"empty", ""},
        {"line-ends-only", "\n\r\n\n\r\n"},
        {"tabs-and-trailing-blanks", "\tat (5) {T1} = 2   \n  \t\n"},
        {"binary-without-nul", binaryWithoutNul()},
        {"very-long-line", QByteArray("// ") + QByteArray(1 << 20, 'x') + "\nafter (1) stop\n"},
    };
    for (const Sample& sample : corpus) {
        SCOPED_TRACE(sample.name);
        const QString file = writeFile(QString::fromLatin1(sample.name) + QStringLiteral(".kelm"), sample.bytes);
        QElapsedTimer timer;
        timer.start();
        CEditorDoc* doc = open(file);
        ASSERT_NE(doc, nullptr) << (messages.empty() ? std::string() : messages.back().text.toStdString());
        // The unchanged text, saved as a user would after an edit and its undo.
        doc->setModified(true);
        ASSERT_TRUE(doc->doFileSave());
        EXPECT_EQ(readBytes(file), sample.bytes);
        EXPECT_LT(timer.elapsed(), scaledMs(20000));
        ASSERT_TRUE(run(doc, Cmd::FileClose));
    }
    EXPECT_TRUE(messages.empty());
}

TEST_F(EditorRoundTrip, EditedUtf16FilesKeepTheirEncodingAndMark)
{
    const QByteArray original = utf16(QStringLiteral("at (5) {T1} = 2\r\nafter (9) stop\r\n"), false);
    const QString file = writeFile(QStringLiteral("be.kelm"), original);
    CEditorDoc* doc = open(file);
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(doc->fileFormat().encoding, ProgramText::Encoding::Utf16Be);
    EXPECT_EQ(doc->textDocument()->findBlockByNumber(0).text(), QStringLiteral("at (5) {T1} = 2"));
    QTextCursor(doc->textDocument()).insertText(QString::fromUtf8("// \xE2\x82\xAC\n"));
    ASSERT_TRUE(doc->doFileSave());
    EXPECT_EQ(readBytes(file),
              utf16(QString::fromUtf8("// \xE2\x82\xAC\r\nat (5) {T1} = 2\r\nafter (9) stop\r\n"), false));
}

TEST_F(EditorRoundTrip, BinaryAndBrokenFilesAreRefusedAndLeftAlone)
{
    QByteArray binary;
    for (int i = 0; i < 4096; ++i)
        binary += static_cast<char>((i * 31 + 7) % 256);
    const std::vector<Sample> refused = {
        {"nul-in-text", QByteArray("at (1) {T} = 1\n\0after (2) stop\n", 31)},
        {"binary", binary},
        {"utf16-with-nul", utf16(QStringLiteral("at (1) {T} = 1\n") + QChar(0), true)},
        // Odd length and a lone surrogate are not UTF-16; as bytes they hold NULs.
        {"utf16-odd-length", utf16(QStringLiteral("at (1)"), true) + "x"},
        {"utf16-lone-surrogate", utf16(QStringLiteral("at ") + QChar(0xD800) + QStringLiteral("(1)"), true)},
    };
    for (const Sample& sample : refused) {
        SCOPED_TRACE(sample.name);
        messages.clear();
        const QString file = writeFile(QString::fromLatin1(sample.name) + QStringLiteral(".kelm"), sample.bytes);
        EXPECT_EQ(open(file), nullptr);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_TRUE(messages[0].text.contains(QStringLiteral("NUL bytes"))) << messages[0].text.toStdString();
        EXPECT_EQ(readBytes(file), sample.bytes);
    }
    EXPECT_TRUE(m_template->documents().empty());
}

} // namespace
