#include "model/TagListFile.h"

#include "tests/common/QtPrinting.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

QStringList fields(QString line)
{
    QStringList out;
    for (int i = 0; i < 5; ++i)
        out << NextTagListField(line);
    return out;
}

QStringList cells(const TagListRow& row)
{
    return {row.tag, row.kernelTag, row.description};
}

class TagListFile : public ::testing::Test
{
protected:
    QString write(const QByteArray& bytes, const char* name = "tags.txt")
    {
        QString path = dir.filePath(QLatin1String(name));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }
    std::vector<TagListRow> read(const QByteArray& bytes)
    {
        const auto rows = readTagListFile(write(bytes));
        EXPECT_TRUE(rows);
        return rows.value_or(std::vector<TagListRow>());
    }

    QTemporaryDir dir;
};

} // namespace

TEST(NextTagListField, QuotedFieldsKeepBlanksAndUnquotedOnesEndAtBlankOrTab)
{
    EXPECT_EQ(fields("T1  P101:FLOW  \"Feed flow in\""), QStringList({"T1", "P101:FLOW", "Feed flow in", "", ""}));
    EXPECT_EQ(fields("T1  P101:FLOW  Feed flow in"), QStringList({"T1", "P101:FLOW", "Feed", "flow", "in"}));
    EXPECT_EQ(fields(" \t T1\tP101:FLOW\t\tx"), QStringList({"T1", "P101:FLOW", "x", "", ""}));
    EXPECT_EQ(fields("\"one two\"three four"), QStringList({"one two", "three", "four", "", ""}));
    EXPECT_EQ(fields("a \"open quote to the end"), QStringList({"a", "\"open quote to the end", "", "", ""}));
    EXPECT_EQ(fields("ab\"c d"), QStringList({"ab\"c", "d", "", "", ""})) << "a quote inside a field is text";
    EXPECT_EQ(fields("\"\" x"), QStringList({"", "x", "", "", ""}));
    EXPECT_EQ(fields("\"a\tb\""), QStringList({"a\tb", "", "", "", ""}));

    QString rest = QStringLiteral("  \r\v\f ");
    EXPECT_EQ(NextTagListField(rest), "");
    EXPECT_EQ(rest, "");
    rest = QStringLiteral("first  second");
    EXPECT_EQ(NextTagListField(rest), "first");
    EXPECT_EQ(rest, "  second") << "the separator stays for the next call";
    rest = QStringLiteral("\"q\"tail");
    EXPECT_EQ(NextTagListField(rest), "q");
    EXPECT_EQ(rest, "tail");
}

TEST_F(TagListFile, EveryLineIsARowWithItsFirstThreeFields)
{
    const auto rows = read("T1  P101:FLOW  \"Feed flow in\"  extra\r\n"
                           "\r\n"
                           "T2\tT101:LEVEL\r\n"
                           "  T3 LC101:SP \"Level setpoint\"");
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(cells(rows[0]), QStringList({"T1", "P101:FLOW", "Feed flow in"}));
    EXPECT_EQ(cells(rows[1]), QStringList({"", "", ""})) << "an empty line is an empty row";
    EXPECT_EQ(cells(rows[2]), QStringList({"T2", "T101:LEVEL", ""})) << "no carriage return in the last field";
    EXPECT_EQ(cells(rows[3]), QStringList({"T3", "LC101:SP", "Level setpoint"})) << "read without a line end";

    EXPECT_TRUE(read("").empty());
    EXPECT_EQ(read("A B C\n").size(), 1u) << "a final line end starts no row";
    EXPECT_EQ(read("\n\n").size(), 2u);
    // Without any line feed, carriage returns end the lines, as in the program editor.
    const auto crOnly = read("A B\rC D\r");
    ASSERT_EQ(crOnly.size(), 2u);
    EXPECT_EQ(crOnly[1].kernelTag, "D");
}

TEST_F(TagListFile, ALongLineIsShownWholeAndTheLinesAfterItToo)
{
    const QByteArray description(600, 'd');
    const auto rows = read("T1 P101:FLOW \"" + description +
                           "\" \n"
                           "T2 P201:FLOW two\n"
                           "T3 " +
                           QByteArray(550, 'k') + " three\n");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].description.size(), 600);
    EXPECT_EQ(cells(rows[1]), QStringList({"T2", "P201:FLOW", "two"}));
    EXPECT_EQ(rows[2].kernelTag.size(), 550);
    EXPECT_EQ(rows[2].description, "three");
}

TEST_F(TagListFile, Utf8WhenValidElseLatin1)
{
    const auto utf8 = read("\xEF\xBB\xBFT\xC3\xA9 K:T \"Caf\xC3\xA9 line\"\n");
    ASSERT_EQ(utf8.size(), 1u);
    EXPECT_EQ(cells(utf8[0]), QStringList({"T\u00E9", "K:T", "Caf\u00E9 line"})) << "byte-order mark dropped";

    const auto latin1 = read("T1 K:T \"Caf\xE9 \xB0"
                             "C\"\nT2 K:U\n");
    ASSERT_EQ(latin1.size(), 2u);
    EXPECT_EQ(latin1[0].description, "Caf\u00E9 \u00B0C");
    EXPECT_EQ(latin1[1].kernelTag, "K:U");
}

TEST_F(TagListFile, FilesThatCannotBeReadGiveNoRows)
{
    QString reason = QStringLiteral("unchanged");
    EXPECT_FALSE(readTagListFile(dir.filePath("missing.txt"), &reason));
    EXPECT_EQ(reason, "");
    EXPECT_FALSE(readTagListFile(dir.path(), &reason));
    EXPECT_EQ(reason, "It is not a regular file.");

    const QString big = write(QByteArray(), "big.txt");
    QFile file(big);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.resize(kMaxTagListFileSize + 1));
    file.close();
    EXPECT_FALSE(readTagListFile(big, &reason));
    EXPECT_EQ(reason, "It is larger than 8 MB.");
}
