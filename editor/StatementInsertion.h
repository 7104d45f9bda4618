#pragma once

#include <QString>

class QTextCursor;
class QTextDocument;

// Edits the statement and model-variable commands make to a program's text. Each is one undo step,
// the line end of a new line included, and returns the cursor behind the new text.
namespace StatementInsertion {

// Replaces a range. A line that starts at newLine is a new line and ends like most lines of the file.
QTextCursor replaceRange(QTextDocument& text, int start, int length, const QString& replacement, int newLine = -1);
// Inserts statement (ending in "\n") at or behind the line of caret, a cursor taken before the
// statement dialog ran.
QTextCursor insertAt(QTextDocument& text, const QTextCursor& caret, const QString& statement);

} // namespace StatementInsertion
