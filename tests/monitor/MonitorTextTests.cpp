#include "monitor/ConsoleLines.h"
#include "monitor/MonitorText.h"

#include <gtest/gtest.h>

using namespace MonitorText;

TEST(MonitorText, ListingPrefixInBothWidths)
{
    EXPECT_EQ(listingPrefix(12, false), QString(9, ' ') + "  12: ");
    EXPECT_EQ(listingPrefix(12, false).size(), 15);
    EXPECT_EQ(listingPrefix(7, true), QString(18, ' ') + "   7: ");
    EXPECT_EQ(listingPrefix(7, true).size(), 17 + 7);
    // Wider numbers widen the prefix rather than being cut.
    EXPECT_EQ(listingPrefix(123456, false), QString(9, ' ') + "123456: ");
    EXPECT_EQ(listingPrefix(-5, false), QString(9, ' ') + "  -5: ");
    EXPECT_EQ(slotWidth(false), 8);
    EXPECT_EQ(slotWidth(true), 17);
}

TEST(MonitorText, CommentPartStartsAtAsteriskOrSlashes)
{
    EXPECT_EQ(commentOffset("* all of it"), 0);
    EXPECT_EQ(commentOffset("at (5) {A} = 1 // why"), 15);
    EXPECT_EQ(commentOffset("at (5) {A} = 1 / 2"), -1);
    EXPECT_EQ(commentOffset("  * not at the start"), -1);
    EXPECT_EQ(commentOffset("//"), 0);
    EXPECT_EQ(commentOffset(""), -1);
}

TEST(MonitorText, ConsoleLinesEndInCrLf)
{
    EXPECT_EQ(consoleLine(startedText, "00:01:05"), "[00:01:05] --- Started execution ---\r\n");
    EXPECT_EQ(consoleLine("no line feed", "00:00:01"), "[00:00:01] no line feed\r\n");
    EXPECT_EQ(consoleLine("two\nlines\n", "00:00:01"), "[00:00:01] two\nlines\r\n");
    EXPECT_EQ(consoleLine(abnormalText, unknownTime), "[??:??:??] --- Program terminated abnormally ---\r\n");
    EXPECT_EQ(consoleLine("", "x"), "[x] \r\n");

    // A text of any length takes at most maxConsoleText characters of the line.
    const QString longest = consoleLine(QString(maxConsoleText, 'a'), "x");
    EXPECT_EQ(longest, "[x] " + QString(maxConsoleText, 'a') + "\r\n");
    const QString cut = consoleLine(QString(300000, 'b') + "\n", "x");
    EXPECT_EQ(cut, "[x] " + QString(maxConsoleText - 1, 'b') + QChar(0x2026) + "\r\n");
}

TEST(MonitorText, TitlesFollowTheState)
{
    EXPECT_EQ(title(0, "tank.kelm"), "tank.kelm - Initializing...");
    EXPECT_EQ(title(1, "tank.kelm"), "tank.kelm - Executing");
    EXPECT_EQ(title(2, "tank.kelm"), "tank.kelm - Finished");
    const QString longName(300, 'n');
    const QString t = title(1, longName);
    EXPECT_EQ(t, QString(maxTitleName, 'n') + QChar(0x2026) + " - Executing");
}

TEST(MonitorText, ListingTextStaysOneLine)
{
    EXPECT_EQ(listingText("a\tb"), "a\tb");
    EXPECT_EQ(listingText("a\nb\rc"), QString("a") + QChar(0x240A) + "b" + QChar(0x240D) + "c");
    EXPECT_EQ(listingText(QString("x") + QChar(0x2028) + "y"), QString("x") + QChar(0xFFFD) + "y");
    const QString huge(100000, 'h');
    const QString cut = listingText(huge);
    EXPECT_EQ(cut.size(), maxListingText);
    EXPECT_EQ(cut.back(), QChar(0x2026));
    EXPECT_EQ(listingText("<b>html</b>"), "<b>html</b>");
}

// The store keeps the last lines with numbers that never change, cuts ranges at what is kept, and
// finds the widest line again once the widest is dropped.
TEST(ConsoleLines, KeepsTheLastLinesWithFixedNumbers)
{
    ConsoleLines lines(4);
    lines.append(QStringLiteral("a long first line"));
    lines.append(QStringLiteral("b\nc"));
    lines.append(QString());
    EXPECT_EQ(lines.toPlainText(), QStringLiteral("a long first line\nb\nc\n"));
    EXPECT_EQ(lines.widestColumns(), 17);
    lines.append(QStringLiteral("d\te"));
    EXPECT_EQ(lines.size(), 4);
    EXPECT_EQ(lines.firstNumber(), 1);
    EXPECT_EQ(lines.endNumber(), 5);
    EXPECT_EQ(lines.line(4), QStringLiteral("d\te"));
    EXPECT_EQ(lines.toPlainText(), QStringLiteral("b\nc\n\nd\te"));
    EXPECT_EQ(lines.widestColumns(), 9) << "the tab reaches column 8";
    // A range that starts on a dropped line starts at the first kept one; columns past a line's end
    // stop at it.
    EXPECT_EQ(lines.text(0, 5, 2, 99), QStringLiteral("b\nc"));
    EXPECT_EQ(lines.text(4, 1, 4, 3), QStringLiteral("\te"));
    EXPECT_EQ(lines.text(0, 0, 0, 3), QString());
}

// Cells: tabs to the next eighth, control characters as their pictures, a character with its marks
// or a pair of surrogates in one cell, wide characters in two; clicks land on cluster boundaries.
TEST(ConsoleLines, CharactersTakeTheirCellsAndClicksLandBetweenThem)
{
    const QString line = QStringLiteral("a\tb\x01<b>");
    EXPECT_FALSE(ConsoleDisplay::isPlain(line));
    EXPECT_TRUE(ConsoleDisplay::isPlain(QStringLiteral("[00:00:01] caf\u00e9 <i>")));
    EXPECT_EQ(ConsoleDisplay::shown(line, 3, 4), QString(QChar(0x2401)));
    EXPECT_EQ(ConsoleDisplay::shown(line, 1, 2), QString()) << "a tab draws nothing";
    EXPECT_EQ(ConsoleDisplay::columns(line), 13);
    EXPECT_EQ(ConsoleDisplay::columnOf(line, 2), 8);
    EXPECT_EQ(ConsoleDisplay::indexAt(line, 3.0), 1) << "the left half of a tab is before it";
    EXPECT_EQ(ConsoleDisplay::indexAt(line, 6.0), 2) << "the right half is after it";
    EXPECT_EQ(ConsoleDisplay::indexAt(line, 8.4), 2);
    EXPECT_EQ(ConsoleDisplay::indexAt(line, 8.6), 3);
    EXPECT_EQ(ConsoleDisplay::indexAt(line, 99.0), int(line.size()));

    // "x", an emoji (a surrogate pair, wide), "e" with a combining acute, a CJK character, "y".
    const QString mixed = QStringLiteral("x") + QString::fromUcs4(U"\U0001F600") + QStringLiteral("e\u0301\u4e2dy");
    EXPECT_EQ(ConsoleDisplay::clusterEnd(mixed, 1), 3);
    EXPECT_EQ(ConsoleDisplay::clusterEnd(mixed, 3), 5);
    EXPECT_EQ(ConsoleDisplay::shown(mixed, 3, 5), QStringLiteral("e\u0301"));
    EXPECT_EQ(ConsoleDisplay::columnOf(mixed, 3), 3);
    EXPECT_EQ(ConsoleDisplay::columnOf(mixed, 2), 1) << "inside the pair: the pair's cell";
    EXPECT_EQ(ConsoleDisplay::columnOf(mixed, 5), 4);
    EXPECT_EQ(ConsoleDisplay::columnOf(mixed, 6), 6);
    EXPECT_EQ(ConsoleDisplay::columns(mixed), 7);
    for (double column = 0; column <= 8; column += 0.25) {
        const int at = ConsoleDisplay::indexAt(mixed, column);
        EXPECT_TRUE(at == 0 || at == 1 || at == 3 || at == 5 || at == 6 || at == 7) << column << " gave " << at;
    }
    EXPECT_EQ(ConsoleDisplay::indexAt(mixed, 4.6), 5);
    EXPECT_EQ(ConsoleDisplay::indexAt(mixed, 5.1), 6);
    EXPECT_EQ(ConsoleDisplay::clusterAt(mixed, 2.9), 1) << "the right half of the emoji";
    EXPECT_EQ(ConsoleDisplay::clusterAt(mixed, 3.1), 3);

    // A tab counts from the cell it starts in, not from its index.
    EXPECT_EQ(ConsoleDisplay::columns(QStringLiteral("\u4e2d\t")), 8);
    EXPECT_EQ(ConsoleDisplay::columns(QString::fromUcs4(U"\U0001F600\t")), 8);
    EXPECT_EQ(ConsoleDisplay::columns(QString::fromUcs4(U"abcdef\U0001F600\t")), 16);
    // A flag, a skin tone, a joined family, a heart shown as emoji and a rocket: one cluster each,
    // two cells; a lone surrogate at the end is one cell of its own.
    for (const char32_t* emoji : {U"\U0001F1E9\U0001F1EA", U"\U0001F44D\U0001F3FD",
                                  U"\U0001F468\u200D\U0001F469\u200D\U0001F467", U"\u2764\uFE0F", U"\U0001F680"}) {
        const QString e = QString::fromUcs4(emoji);
        EXPECT_EQ(ConsoleDisplay::clusterEnd(e, 0), e.size()) << e.toStdString();
        EXPECT_EQ(ConsoleDisplay::columns(e + QLatin1Char('x')), 3) << e.toStdString();
    }
    const QString lone = QStringLiteral("ab") + QChar(0xD83D);
    EXPECT_EQ(ConsoleDisplay::clusterEnd(lone, 2), 3);
    EXPECT_EQ(ConsoleDisplay::columns(lone), 3);

    // A word keeps its marks; anything else is selected one cluster at a time.
    const QString words = QStringLiteral("cafe\u0301 x_1") + QString::fromUcs4(U"\U0001F600");
    EXPECT_EQ(ConsoleDisplay::wordAt(words, 1), std::make_pair(0, 5));
    EXPECT_EQ(ConsoleDisplay::wordAt(words, 4), std::make_pair(0, 5)) << "from the mark";
    EXPECT_EQ(ConsoleDisplay::wordAt(words, 7), std::make_pair(6, 9));
    EXPECT_EQ(ConsoleDisplay::wordAt(words, 10), std::make_pair(9, 11)) << "the emoji, both halves";
    EXPECT_EQ(ConsoleDisplay::wordAt(words, 5), std::make_pair(5, 6));
}

// Finding in the console: within one line, from a place on, round the ends once, with or without
// regard to case; places in dropped lines start at the first kept line.
TEST(ConsoleLinesFind, GoesRoundFromThePlaceInEitherDirection)
{
    ConsoleLines lines(4);
    lines.append("drop me: pump");
    lines.append("Pump P101 on\nlevel low");
    lines.append("pump P102 on, pump P103 off");
    lines.append("no match here");
    ASSERT_EQ(lines.firstNumber(), 1);
    const auto at = [](qint64 line, int index) { return std::make_pair(line, index); };
    const auto find = [&](const char* what, qint64 line, int index, bool backward,
                          Qt::CaseSensitivity cs = Qt::CaseInsensitive) {
        const ConsoleLines::Match m = lines.find(QString::fromUtf8(what), line, index, backward, cs);
        return std::make_pair(m.line, m.index);
    };
    EXPECT_EQ(find("pump", 1, 0, false), at(1, 0)) << "a match at the place itself";
    EXPECT_EQ(find("pump", 1, 1, false), at(3, 0)) << "Pump P101 was passed";
    EXPECT_EQ(find("pump", 3, 1, false), at(3, 14));
    EXPECT_EQ(find("pump", 3, 15, false), at(1, 0)) << "round the end";
    EXPECT_EQ(find("pump", 3, 14, true), at(3, 0)) << "backward: before the place only";
    EXPECT_EQ(find("pump", 3, 0, true), at(1, 0));
    EXPECT_EQ(find("pump", 1, 0, true), at(3, 14)) << "round the start";
    EXPECT_EQ(find("pump", 1, 0, false, Qt::CaseSensitive), at(3, 0));
    EXPECT_EQ(find("Pump", 2, 0, true, Qt::CaseSensitive), at(1, 0));
    // The only match is before the place on its own line: found after going all the way round.
    EXPECT_EQ(find("low", 2, 7, false), at(2, 6));
    EXPECT_EQ(find("low", 2, 6, true), at(2, 6));
    EXPECT_EQ(find("pump", 0, 9, false), at(1, 0)) << "the dropped line counts as the first kept one";
    EXPECT_EQ(find("pump", 0, 9, true), at(3, 14));
    EXPECT_EQ(find("match", 99, 0, true), at(4, 3)) << "past the end: from the end of the last line";
    EXPECT_EQ(find("drop", 1, 0, false).first, -1) << "dropped text is not found";
    EXPECT_EQ(find("on\nlevel", 1, 0, false).first, -1) << "no match across lines";
    EXPECT_EQ(find("", 1, 0, false).first, -1);
    EXPECT_EQ(ConsoleLines(3).find("x", 0, 0, false, Qt::CaseInsensitive).line, -1);
    EXPECT_EQ(find("P10", 3, 50, false), at(1, 5)) << "an index past the line's end";
    EXPECT_EQ(find("P10", 3, 50, true), at(3, 19));
}
