#include "model/TagListFile.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringView>

namespace {

bool isLeadingSpace(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\v') ||
           c == QLatin1Char('\f') || c == QLatin1Char('\r');
}

bool isSeparator(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

QString decode(const QByteArray& bytes)
{
    const QByteArray body = bytes.startsWith("\xEF\xBB\xBF") ? bytes.mid(3) : bytes;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(body);
    if (!utf8.hasError())
        return text;
    return QString::fromLatin1(bytes);
}

TagListRow rowOf(QString line)
{
    TagListRow row;
    row.tag = NextTagListField(line);
    row.kernelTag = NextTagListField(line);
    row.description = NextTagListField(line);
    return row;
}

} // namespace

QString NextTagListField(QString& rest)
{
    qsizetype start = 0;
    while (start < rest.size() && isLeadingSpace(rest.at(start)))
        ++start;
    if (start == rest.size()) {
        rest.clear();
        return QString();
    }
    const QStringView text = QStringView(rest).mid(start);
    QString field;
    if (text.front() == QLatin1Char('"')) {
        const qsizetype close = text.indexOf(QLatin1Char('"'), 1);
        if (close >= 0) {
            field = text.mid(1, close - 1).toString();
            rest = text.mid(close + 1).toString();
            return field;
        }
    } else {
        for (qsizetype k = 0; k < text.size(); ++k) {
            if (isSeparator(text.at(k))) {
                field = text.left(k).toString();
                rest = text.mid(k).toString();
                return field;
            }
        }
    }
    field = text.toString();
    rest.clear();
    return field;
}

std::vector<TagListRow> parseTagList(const QString& text)
{
    std::vector<TagListRow> rows;
    const QChar lineEnd = text.contains(QLatin1Char('\n')) ? QLatin1Char('\n') : QLatin1Char('\r');
    for (qsizetype from = 0; from < text.size();) {
        qsizetype end = text.indexOf(lineEnd, from);
        const qsizetype next = end < 0 ? text.size() : end + 1;
        if (end < 0)
            end = text.size();
        if (lineEnd == QLatin1Char('\n') && end > from && text.at(end - 1) == QLatin1Char('\r'))
            --end;
        rows.push_back(rowOf(text.mid(from, end - from)));
        from = next;
    }
    return rows;
}

std::optional<std::vector<TagListRow>> readTagListFile(const QString& path, QString* reason)
{
    const auto fail = [reason](const QString& why) {
        if (reason)
            *reason = why;
        return std::nullopt;
    };
    // Opening a named pipe would block until a writer comes, and a device need never end.
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        return fail(QStringLiteral("It is not a regular file."));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QString());
    const QString tooLarge = QStringLiteral("It is larger than %1 MB.").arg(kMaxTagListFileSize / (1024 * 1024));
    if (file.size() > kMaxTagListFileSize)
        return fail(tooLarge);
    // A file that grows meanwhile, or reports no size, is read no further than the limit.
    const QByteArray bytes = file.read(kMaxTagListFileSize + 1);
    if (file.error() != QFileDevice::NoError)
        return fail(file.errorString());
    if (bytes.size() > kMaxTagListFileSize)
        return fail(tooLarge);
    return parseTagList(decode(bytes));
}
