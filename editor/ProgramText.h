#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// Program files as bytes and as editor text, and the command lines of the runner. No widgets here.
namespace ProgramText {

// Files larger than this are refused rather than loaded into the editor.
inline constexpr qint64 MaxFileSize = 64 * 1024 * 1024;

enum class Encoding { Utf8, Latin1, Utf16Le, Utf16Be };
// The name of an encoding as a character-set label ("UTF-8", "ISO-8859-1", "UTF-16LE", "UTF-16BE").
QString encodingName(Encoding encoding);
enum class LineEnd { Lf, CrLf, Cr };

// Stands in the editor text for a carriage return inside a line, which a text block cannot hold.
inline constexpr QChar CarriageReturnMark{0x240D};

// How a file was written, so that saving it writes it the same way. The editor text always uses
// "\n"; a final line end (or its absence) is part of the text itself. lineEnd is the most common line
// end of the file, the one new lines get.
struct FileFormat
{
    Encoding encoding = Encoding::Utf8;
    LineEnd lineEnd = LineEnd::Lf;
    bool byteOrderMark = false;
    // Every CarriageReturnMark of the text is a carriage return of the file.
    bool carriageReturnMarks = false;
};

struct Decoded
{
    QString text;
    FileFormat format;
    // lineEnds[i] ends line i of text: one entry for each "\n".
    std::vector<LineEnd> lineEnds;
};

// A file that starts with a UTF-16 byte order mark and is valid UTF-16 in that order is read as
// UTF-16; a file that is valid UTF-8 (with or without a byte order mark) as UTF-8; anything else as
// Latin-1, which maps every byte to one character and back. In a file with any LF, the line ends are
// LF and CR LF, each line keeping its own, and a CR not followed by LF belongs to its line (as
// CarriageReturnMark); in a file without LF, CR ends the lines. Fails, with a message naming the
// file, for NUL bytes, for files over MaxFileSize and for characters that a line of the editor
// cannot keep (the Unicode line and paragraph separators and the frame marks).
struct DecodeResult
{
    std::optional<Decoded> decoded;
    QString error;
};
DecodeResult decode(const QByteArray& bytes, const QString& fileName);

// The file bytes of text in format; line i ends with lineEnds[i], lines beyond lineEnds with
// format.lineEnd. Fails (std::nullopt) when the encoding cannot hold a character of the text;
// firstUnencodable then receives that character's index.
std::optional<QByteArray> encode(const QString& text, const FileFormat& format,
                                 const std::vector<LineEnd>& lineEnds = {}, int* firstUnencodable = nullptr);

// Text to be put into the editor with the Unicode line and paragraph separators as "\n", so that
// every line the user sees is a line of the file.
QString plainLineBreaks(QString text);

// Reads a file for decode(), refusing before reading anything that is not a regular file (a named
// pipe or a device would block or never end) or is larger than MaxFileSize.
struct ReadResult
{
    std::optional<QByteArray> bytes;
    QString error;
};
ReadResult readFile(const QString& path);

// A comment line starts with "*" or "//"; no blanks are skipped first.
bool isCommentLine(const QString& line);

// Where an inserted statement goes. lineStart and lineLength (without its line break) describe the
// caret's line, selectionStart is the start of the selection and textLength the length of the whole
// text. A caret at the very start of its line inserts in front of the line, anywhere else behind it.
// Behind the last line, which has no line break, the text gets a line break in front.
struct Placement
{
    int position = 0;
    bool leadingLineBreak = false;
};
Placement placeInsertion(int lineStart, int lineLength, int selectionStart, int textLength);

// The runner's Run command line as one text, and the argument vector it stands for (without the
// program name), host, instance and path each one argument.
QString runCommandLine(const QString& host, const QString& instance, const QString& path);
QStringList runArguments(const QString& host, const QString& instance, const QString& path);

// The Parse argument vector after argument 0, as a process starter takes it.
QStringList parseArguments(const QString& path);

} // namespace ProgramText
