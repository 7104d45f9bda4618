// NextTagListField on any text (read as UTF-8, as the tag-list file may be): every call takes
// something off the front or ends the line, the fields together with what was skipped make up the
// line, and parseTagList reads the same text as rows without failing.

#include "fuzz/FuzzCheck.h"
#include "model/TagListFile.h"

#include <QString>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    QString rest = text;
    qsizetype fieldChars = 0;
    for (int calls = 0;; ++calls) {
        FUZZ_CHECK(calls <= text.size());
        const QString before = rest;
        const QString field = NextTagListField(rest);
        FUZZ_CHECK(rest.size() <= before.size() && before.endsWith(rest));
        if (rest.size() == before.size()) {
            FUZZ_CHECK(before.isEmpty() && field.isEmpty());
            break;
        }
        // What was taken is white space, then the field as it stands or in its quotes.
        QStringView taken = QStringView(before).left(before.size() - rest.size());
        while (!taken.isEmpty() && taken.front().isSpace() && taken.front() != QChar(0x00A0) &&
               taken.front().unicode() < 0x80)
            taken = taken.mid(1);
        FUZZ_CHECK(taken == field || taken == QString(QLatin1Char('"') + field + QLatin1Char('"')));
        fieldChars += field.size();
        if (rest.isEmpty())
            break;
    }
    FUZZ_CHECK(fieldChars <= text.size());

    const std::vector<TagListRow> rows = parseTagList(text);
    FUZZ_CHECK(rows.size() <= std::size_t(text.count(QLatin1Char('\n')) + text.count(QLatin1Char('\r')) + 1));
    return 0;
}
