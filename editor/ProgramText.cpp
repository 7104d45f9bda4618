#include "editor/ProgramText.h"
#include "protocol/Address.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <cstring>

namespace ProgramText {
namespace {

const char utf8Bom[] = "\xEF\xBB\xBF";
const char utf16LeBom[] = "\xFF\xFE";
const char utf16BeBom[] = "\xFE\xFF";

QString tr(const char* text)
{
    return QCoreApplication::translate("ProgramText", text);
}

QString shownName(const QString& fileName)
{
    return QDir::toNativeSeparators(fileName);
}

bool isAscii(const QByteArray& bytes)
{
    const char* p = bytes.constData();
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    for (; i + 8 <= n; i += 8) {
        quint64 word;
        std::memcpy(&word, p + i, 8);
        if (word & 0x8080808080808080ULL)
            return false;
    }
    for (; i < n; ++i) {
        if (p[i] & 0x80)
            return false;
    }
    return true;
}

// The text of valid UTF-8 that encodes back to the same bytes, else nothing.
std::optional<QString> strictUtf8(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    // ASCII maps one to one; only other text pays for encoding it back.
    if (decoder.hasError() || (!isAscii(bytes) && text.toUtf8() != bytes))
        return std::nullopt;
    return text;
}

// The text of a file that starts with a UTF-16 byte order mark and is valid UTF-16 (no unpaired
// surrogate) that encodes back to the same bytes, without the mark; else nothing.
std::optional<QString> strictUtf16(const QByteArray& bytes, Encoding& encoding)
{
    if (bytes.size() % 2 != 0)
        return std::nullopt;
    QStringDecoder::Encoding order;
    if (bytes.startsWith(utf16LeBom)) {
        order = QStringDecoder::Utf16LE;
        encoding = Encoding::Utf16Le;
    } else if (bytes.startsWith(utf16BeBom)) {
        order = QStringDecoder::Utf16BE;
        encoding = Encoding::Utf16Be;
    } else {
        return std::nullopt;
    }
    const QByteArray body = bytes.mid(2);
    QStringDecoder decoder(order, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(body);
    if (decoder.hasError() || !text.isValidUtf16())
        return std::nullopt;
    QStringEncoder encoder(order == QStringDecoder::Utf16LE ? QStringEncoder::Utf16LE : QStringEncoder::Utf16BE,
                           QStringEncoder::Flag::Stateless);
    if (QByteArray(encoder.encode(text)) != body)
        return std::nullopt;
    return text;
}

// Characters that QTextDocument takes for block or frame boundaries, or shows as a line break
// inside a block.
bool breaksLines(QChar c)
{
    return c == QChar::LineSeparator || c == QChar::ParagraphSeparator || c.unicode() == 0xFDD0 ||
           c.unicode() == 0xFDD1;
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

QString encodingName(Encoding encoding)
{
    switch (encoding) {
    case Encoding::Latin1:
        return QStringLiteral("ISO-8859-1");
    case Encoding::Utf16Le:
        return QStringLiteral("UTF-16LE");
    case Encoding::Utf16Be:
        return QStringLiteral("UTF-16BE");
    case Encoding::Utf8:
        break;
    }
    return QStringLiteral("UTF-8");
}

namespace {

// The characters of a file: strict UTF-16 with its byte-order mark, else strict UTF-8 (with or
// without a mark), else Latin-1; format gets the encoding and the mark. Nothing when the file holds
// NUL bytes (in UTF-16, NUL characters).
std::optional<QString> readCharacters(const QByteArray& bytes, FileFormat& format)
{
    if (std::optional<QString> text = strictUtf16(bytes, format.encoding)) {
        // In UTF-16 every ASCII character has a zero byte; a NUL is a zero character.
        if (text->contains(QChar(0)))
            return std::nullopt;
        format.byteOrderMark = true;
        return text;
    }
    if (bytes.contains('\0'))
        return std::nullopt;
    const bool hasBom = bytes.startsWith(utf8Bom);
    if (std::optional<QString> text = strictUtf8(hasBom ? bytes.mid(3) : bytes)) {
        format.encoding = Encoding::Utf8;
        format.byteOrderMark = hasBom;
        return text;
    }
    format.encoding = Encoding::Latin1;
    return QString::fromLatin1(bytes);
}

// What one pass over the characters found.
struct LineScan
{
    qsizetype crlf = 0;
    bool innerCr = false;    // a CR inside a line, now a mark
    bool markInText = false; // the mark itself was in the text
    QChar breaking;          // a character that breaks lines, if any (the text is then unusable)
};

// One pass, in place (the text only shrinks): line ends become "\n" and are recorded in lineEnds, a
// CR inside a line becomes its mark.
LineScan normaliseLines(QString& raw, std::vector<LineEnd>& lineEnds)
{
    LineScan scan;
    const bool crFile = !raw.contains(QLatin1Char('\n'));
    const qsizetype n = raw.size();
    QChar* o = raw.data();
    const QChar* in = raw.constData();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = in[i];
        if (c == QLatin1Char('\r')) {
            if (crFile) {
                lineEnds.push_back(LineEnd::Cr);
                *o++ = QLatin1Char('\n');
            } else if (i + 1 < n && in[i + 1] == QLatin1Char('\n')) {
                lineEnds.push_back(LineEnd::CrLf);
                ++scan.crlf;
                *o++ = QLatin1Char('\n');
                ++i;
            } else {
                scan.innerCr = true;
                *o++ = CarriageReturnMark;
            }
        } else if (c == QLatin1Char('\n')) {
            lineEnds.push_back(LineEnd::Lf);
            *o++ = c;
        } else if (breaksLines(c)) {
            scan.breaking = c;
            return scan;
        } else {
            scan.markInText = scan.markInText || c == CarriageReturnMark;
            *o++ = c;
        }
    }
    raw.truncate(o - raw.constData());
    return scan;
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
    Decoded decoded;
    std::optional<QString> raw = readCharacters(bytes, decoded.format);
    if (!raw) {
        result.error = tr("%1 contains NUL bytes and is not a program text file.").arg(shownName(fileName));
        return result;
    }
    const bool crFile = !raw->contains(QLatin1Char('\n'));
    const LineScan scan = normaliseLines(*raw, decoded.lineEnds);
    if (!scan.breaking.isNull()) {
        result.error = tr("%1 is not opened: line %2 contains the character U+%3, which the editor cannot keep "
                          "within a line.")
                           .arg(shownName(fileName))
                           .arg(static_cast<qulonglong>(decoded.lineEnds.size()) + 1)
                           .arg(QString::number(scan.breaking.unicode(), 16).toUpper());
        return result;
    }
    if (scan.innerCr && scan.markInText) {
        result.error = tr("%1 is not opened: it has carriage returns inside lines, which the editor shows as \"%2\", "
                          "and the character \"%2\" itself.")
                           .arg(shownName(fileName), QString(CarriageReturnMark));
        return result;
    }
    decoded.format.carriageReturnMarks = scan.innerCr;
    const qsizetype lf = static_cast<qsizetype>(decoded.lineEnds.size()) - scan.crlf;
    if (crFile && !decoded.lineEnds.empty())
        decoded.format.lineEnd = LineEnd::Cr;
    else if (scan.crlf > 0 && scan.crlf >= lf)
        decoded.format.lineEnd = LineEnd::CrLf;
    decoded.text = std::move(*raw);
    result.decoded = std::move(decoded);
    return result;
}

std::optional<QByteArray> encode(const QString& text, const FileFormat& format, const std::vector<LineEnd>& lineEnds,
                                 int* firstUnencodable)
{
    const bool marks = format.carriageReturnMarks;
    if (format.encoding == Encoding::Latin1) {
        for (qsizetype i = 0; i < text.size(); ++i) {
            const QChar c = text.at(i);
            if (c.unicode() > 0xFF && !(marks && c == CarriageReturnMark)) {
                if (firstUnencodable)
                    *firstUnencodable = static_cast<int>(i);
                return std::nullopt;
            }
        }
    }

    QString body;
    body.reserve(text.size() + static_cast<qsizetype>(lineEnds.size()));
    std::size_t line = 0;
    for (qsizetype from = 0;;) {
        const qsizetype end = text.indexOf(QLatin1Char('\n'), from);
        body += QStringView(text).mid(from, (end < 0 ? text.size() : end) - from);
        if (end < 0)
            break;
        body += lineEndText(line < lineEnds.size() ? lineEnds[line] : format.lineEnd);
        ++line;
        from = end + 1;
    }
    if (marks)
        body.replace(CarriageReturnMark, QLatin1Char('\r'));

    if (format.encoding == Encoding::Latin1)
        return body.toLatin1();
    QByteArray bytes;
    if (format.encoding == Encoding::Utf16Le || format.encoding == Encoding::Utf16Be) {
        const bool le = format.encoding == Encoding::Utf16Le;
        // A UTF-16 file is only recognised by its mark, so it always gets one.
        bytes = QByteArray(le ? utf16LeBom : utf16BeBom);
        QStringEncoder encoder(le ? QStringEncoder::Utf16LE : QStringEncoder::Utf16BE, QStringEncoder::Flag::Stateless);
        bytes += QByteArray(encoder.encode(body));
        return bytes;
    }
    if (format.byteOrderMark)
        bytes = QByteArray(utf8Bom);
    bytes += body.toUtf8();
    return bytes;
}

QString plainLineBreaks(QString text)
{
    text.replace(QChar::LineSeparator, QLatin1Char('\n'));
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    return text;
}

ReadResult readFile(const QString& path)
{
    ReadResult result;
    // Opening a named pipe would block until a writer comes, and a device need never end.
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        result.error = tr("Cannot open %1.\nIt is not a regular file.").arg(shownName(path));
        return result;
    }
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
    // A growing file, or one that reports no size (as in /proc), is read no further than the limit. A
    // buffer of the reported size plus one byte, not of the limit: reading into one of the limit costs
    // more than decoding the file.
    QByteArray bytes = file.read(file.size() + 1);
    while (bytes.size() <= MaxFileSize && file.error() == QFileDevice::NoError) {
        const QByteArray more = file.read(std::min<qint64>(1 << 20, MaxFileSize + 1 - bytes.size()));
        if (more.isEmpty())
            break;
        bytes += more;
    }
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

bool isCommentLine(const QString& line)
{
    return line.startsWith(QLatin1Char('*')) || line.startsWith(QLatin1String("//"));
}

Placement placeInsertion(int lineStart, int lineLength, int selectionStart, int textLength)
{
    Placement p;
    p.position = selectionStart > lineStart ? lineStart + lineLength + 1 : lineStart;
    if (p.position > textLength) {
        p.position = textLength;
        p.leadingLineBreak = true;
    }
    return p;
}

QString runCommandLine(const QString& host, const QString& instance, const QString& path)
{
    return QStringLiteral("kelm -npstatus -host ") + host + QStringLiteral(" -instance ") +
           QLatin1String(protocol::instancePrefix) + instance + QStringLiteral(" \"") + path + QStringLiteral("\"");
}

QStringList runArguments(const QString& host, const QString& instance, const QString& path)
{
    return {QStringLiteral("-npstatus"),
            QStringLiteral("-host"),
            host,
            QStringLiteral("-instance"),
            QLatin1String(protocol::instancePrefix) + instance,
            path};
}

QStringList parseArguments(const QString& path)
{
    return {QStringLiteral("-parse"), QStringLiteral("-npstatus"), path};
}

} // namespace ProgramText
