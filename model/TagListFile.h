#pragma once

#include <QString>

#include <optional>
#include <vector>

// The tag-list file: one row per line, fields tag, kernel tag and description, separated by blanks
// or tabs; a field in double quotes may hold blanks and tabs.

// Takes the next field off the front of rest. Leading white space is skipped. An unquoted field
// ends before the next blank or tab, which stays in rest; a quoted one ends at the closing quote,
// which is dropped with the opening one. Without a separator or closing quote the field is the
// whole rest (an opening quote included) and rest becomes empty. Empty when nothing is left.
QString NextTagListField(QString& rest);

struct TagListRow
{
    QString tag;
    QString kernelTag;
    QString description;
};

// Files larger than this are not read: a tag list is a few thousand lines at most.
constexpr qint64 kMaxTagListFileSize = 8 * 1024 * 1024;

// The rows of the file at path, one per line, every line included however long. The file is read
// as UTF-8 when it is valid UTF-8 (a byte-order mark is dropped), else as Latin-1. Lines end at a
// line feed, and a carriage return before it is not part of the line; in a file without line feeds
// carriage returns end the lines. A last line without a line end is read; an empty file has no
// rows. Nothing, with reason set where there is more to say than that the file cannot be opened,
// when the path is no readable regular file or is larger than kMaxTagListFileSize.
std::optional<std::vector<TagListRow>> readTagListFile(const QString& path, QString* reason = nullptr);

// The rows of text, split into lines as above.
std::vector<TagListRow> parseTagList(const QString& text);
