#include "editor/ProgramText.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStringDecoder>

namespace ProgramText {
namespace {

const char utf8Bom[] = "\xEF\xBB\xBF";

QString tr(const char* text)
{
    return QCoreApplication::translate("ProgramText", text);
}

QString shownName(const QString& fileName)
{
    return QDir::toNativeSeparators(fileName);
}

// The text of valid UTF-8 that encodes back to the same bytes, else nothing.
std::optional<QString> strictUtf8(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    if (decoder.hasError() || text.toUtf8() != bytes)
        return std::nullopt;
    return text;
}

LineEnd dominantLineEnd(const QString& text)
{
    qsizetype lf = 0, crlf = 0, cr = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\n')) {
            ++lf;
        } else if (c == QLatin1Char('\r')) {
            if (i + 1 < n && text.at(i + 1) == QLatin1Char('\n')) {
                ++crlf;
                ++i;
            } else {
                ++cr;
            }
        }
    }
    if (crlf >= lf && crlf >= cr && crlf > 0)
        return LineEnd::CrLf;
    if (cr > lf)
        return LineEnd::Cr;
    return LineEnd::Lf;
}

QString lineEndText(LineEnd lineEnd)
{
    switch (lineEnd) {
    case LineEnd::CrLf:
        return QStringLiteral("\r\n");
    case LineEnd::Cr:
        return QStringLiteral("\r");
    case LineEnd::Lf:
        break;
    }
    return QStringLiteral("\n");
}

} // namespace

DecodeResult decode(const QByteArray& bytes, const QString& fileName)
{
    DecodeResult result;
    if (bytes.size() > MaxFileSize) {
        result.error = tr("%1 is too large to open (the limit is %2 MB).")
                           .arg(shownName(fileName))
                           .arg(MaxFileSize / (1024 * 1024));
        return result;
    }
    if (bytes.contains('\0')) {
        result.error = tr("%1 contains NUL bytes and is not a program text file.").arg(shownName(fileName));
        return result;
    }

    Decoded decoded;
    const bool hasBom = bytes.startsWith(utf8Bom);
    std::optional<QString> text = strictUtf8(hasBom ? bytes.mid(3) : bytes);
    if (text) {
        decoded.format.encoding = Encoding::Utf8;
        decoded.format.byteOrderMark = hasBom;
        decoded.text = std::move(*text);
    } else {
        decoded.format.encoding = Encoding::Latin1;
        decoded.text = QString::fromLatin1(bytes);
    }
    decoded.format.lineEnd = dominantLineEnd(decoded.text);
    decoded.text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    decoded.text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    result.decoded = std::move(decoded);
    return result;
}

std::optional<QByteArray> encode(const QString& text, const FileFormat& format, int* firstUnencodable)
{
    QString body = text;
    if (format.lineEnd != LineEnd::Lf)
        body.replace(QLatin1Char('\n'), lineEndText(format.lineEnd));
    if (format.encoding == Encoding::Latin1) {
        for (qsizetype i = 0; i < body.size(); ++i) {
            if (body.at(i).unicode() > 0xFF) {
                if (firstUnencodable) {
                    // Report the index in text, which has single-character line ends.
                    const QStringView before = QStringView(body).left(i);
                    const qsizetype extra = format.lineEnd == LineEnd::CrLf ? before.count(QLatin1Char('\r')) : 0;
                    *firstUnencodable = static_cast<int>(i - extra);
                }
                return std::nullopt;
            }
        }
        return body.toLatin1();
    }
    QByteArray bytes;
    if (format.byteOrderMark)
        bytes = QByteArray(utf8Bom);
    bytes += body.toUtf8();
    return bytes;
}

ReadResult readFile(const QString& path)
{
    ReadResult result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.error = tr("Cannot open %1.\n%2").arg(shownName(path), file.errorString());
        return result;
    }
    const QString tooLarge =
        tr("%1 is too large to open (the limit is %2 MB).").arg(shownName(path)).arg(MaxFileSize / (1024 * 1024));
    if (file.size() > MaxFileSize) {
        result.error = tooLarge;
        return result;
    }
    // Devices and growing files report a size that need not hold: never read past the limit.
    QByteArray bytes = file.read(MaxFileSize + 1);
    if (file.error() != QFileDevice::NoError) {
        result.error = tr("Cannot read %1.\n%2").arg(shownName(path), file.errorString());
        return result;
    }
    if (bytes.size() > MaxFileSize) {
        result.error = tooLarge;
        return result;
    }
    result.bytes = std::move(bytes);
    return result;
}

bool IsCommentLine(const QString& line)
{
    return line.startsWith(QLatin1Char('*')) || line.startsWith(QLatin1String("//"));
}

Placement PlaceInsertion(int lineStart, int lineLength, int selectionStart, int textLength)
{
    Placement p;
    p.position = selectionStart > lineStart ? lineStart + lineLength + 1 : lineStart;
    if (p.position > textLength) {
        p.position = textLength;
        p.leadingLineBreak = true;
    }
    return p;
}

QString RunCommandLine(const QString& host, const QString& instance, const QString& path)
{
    return QStringLiteral("kelm -npstatus -host ") + host + QStringLiteral(" -instance norvex:") + instance +
           QStringLiteral(" \"") + path + QStringLiteral("\"");
}

QStringList RunArguments(const QString& host, const QString& instance, const QString& path)
{
    return {QStringLiteral("-npstatus"),
            QStringLiteral("-host"),
            host,
            QStringLiteral("-instance"),
            QStringLiteral("norvex:") + instance,
            path};
}

QStringList ParseArgv(const QString& path)
{
    return QStringList{QStringLiteral("kelm")} + ParseArguments(path);
}

QStringList ParseArguments(const QString& path)
{
    return {QStringLiteral("-parse"), QStringLiteral("-npstatus"), path};
}

} // namespace ProgramText
