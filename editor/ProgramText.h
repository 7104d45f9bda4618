#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// Program files as bytes and as editor text, and the command lines of the runner. No widgets here.
namespace ProgramText {

// Files larger than this are refused rather than loaded into the editor.
inline constexpr qint64 MaxFileSize = 64 * 1024 * 1024;

enum class Encoding { Utf8, Latin1 };
enum class LineEnd { Lf, CrLf, Cr };

// How a file was written, so that saving it writes it the same way. The editor text always uses
// "\n"; a final line end (or its absence) is part of the text itself.
struct FileFormat
{
    Encoding encoding = Encoding::Utf8;
    LineEnd lineEnd = LineEnd::Lf;
    bool byteOrderMark = false;
};

struct Decoded
{
    QString text;
    FileFormat format;
};

// A file that is valid UTF-8 (with or without a byte order mark) is read as UTF-8; anything else as
// Latin-1, which maps every byte to one character and back. The line end that occurs most often is
// kept for saving; every line end becomes "\n". Fails, with a message naming the file, for NUL bytes
// and for files over MaxFileSize.
struct DecodeResult
{
    std::optional<Decoded> decoded;
    QString error;
};
DecodeResult decode(const QByteArray& bytes, const QString& fileName);

// The file bytes of text in format. Fails (std::nullopt) when the encoding cannot hold a character of
// the text; firstUnencodable then receives that character's index.
std::optional<QByteArray> encode(const QString& text, const FileFormat& format, int* firstUnencodable = nullptr);

// Reads a file for decode(), refusing before reading when it is larger than MaxFileSize.
struct ReadResult
{
    std::optional<QByteArray> bytes;
    QString error;
};
ReadResult readFile(const QString& path);

// A comment line starts with "*" or "//"; no blanks are skipped first.
bool IsCommentLine(const QString& line);

// Where an inserted statement goes. lineStart and lineLength (without its line break) describe the
// caret's line, selectionStart is the start of the selection and textLength the length of the whole
// text. A caret at the very start of its line inserts in front of the line, anywhere else behind it.
// Behind the last line, which has no line break, the text gets a line break in front.
struct Placement
{
    int position = 0;
    bool leadingLineBreak = false;
};
Placement PlaceInsertion(int lineStart, int lineLength, int selectionStart, int textLength);

// The runner's Run command line as one text, and the argument vector it stands for (without the
// program name), host, instance and path each one argument.
QString RunCommandLine(const QString& host, const QString& instance, const QString& path);
QStringList RunArguments(const QString& host, const QString& instance, const QString& path);

// The Parse argument vector: argv0 first, then the arguments.
QStringList ParseArgv(const QString& path);
// The part of ParseArgv after argv0, as a process starter takes it.
QStringList ParseArguments(const QString& path);

} // namespace ProgramText
