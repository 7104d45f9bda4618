#pragma once

#include <QPlainTextDocumentLayout>

// The program view's layout. QPlainTextDocumentLayout takes a change to end at from + removed +
// added, though added alone is its extent in the new text: a keystroke reached into the lines below,
// which were laid out again, and every view repainted entirely. A change whose new text lies in one
// line, with the line count unchanged, touched that line alone and is passed on as such. (A change
// that made a line break spans two lines here.)
class ProgramLayout : public QPlainTextDocumentLayout
{
public:
    explicit ProgramLayout(QTextDocument* document);

protected:
    void documentChanged(int from, int removed, int added) override;

private:
    int m_blockCount;
};
