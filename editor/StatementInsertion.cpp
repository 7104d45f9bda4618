#include "editor/StatementInsertion.h"

#include "editor/ProgramFile.h"
#include "editor/ProgramText.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace StatementInsertion {

QTextCursor replaceRange(QTextDocument& text, int start, int length, const QString& replacement, int newLine)
{
    QTextCursor cursor(&text);
    cursor.beginEditBlock();
    cursor.setPosition(start);
    cursor.setPosition(start + length, QTextCursor::KeepAnchor);
    cursor.insertText(ProgramText::plainLineBreaks(replacement));
    // The split line's format, and with it its line end, went to both halves.
    if (newLine >= 0)
        ProgramFile::clearLineEnd(text.findBlock(newLine));
    cursor.endEditBlock();
    return cursor;
}

QTextCursor insertAt(QTextDocument& text, const QTextCursor& caret, const QString& statement)
{
    const QTextBlock block = caret.block();
    const ProgramText::Placement p = ProgramText::placeInsertion(block.position(), block.length() - 1,
                                                                 caret.selectionStart(), text.characterCount() - 1);
    if (p.leadingLineBreak)
        return replaceRange(text, p.position, 0, QLatin1Char('\n') + statement, p.position + 1);
    return replaceRange(text, p.position, 0, statement, p.position);
}

} // namespace StatementInsertion
