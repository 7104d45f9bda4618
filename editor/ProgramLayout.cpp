#include "editor/ProgramLayout.h"

#include <QTextBlock>
#include <QTextDocument>

ProgramLayout::ProgramLayout(QTextDocument* document)
    : QPlainTextDocumentLayout(document), m_blockCount(document->blockCount())
{
}

void ProgramLayout::documentChanged(int from, int removed, int added)
{
    QTextDocument* doc = document();
    const int count = doc->blockCount();
    if (count == m_blockCount && added > 0 && doc->findBlock(from).contains(from + added - 1)) {
        QPlainTextDocumentLayout::documentChanged(from, 0, added);
        return;
    }
    m_blockCount = count;
    QPlainTextDocumentLayout::documentChanged(from, removed, added);
}
