#pragma once

#include <QPlainTextEdit>
#include <QWidget>

// A plain-text editor that lets its gutter use the geometry QPlainTextEdit keeps protected.
class CGutterEdit : public QPlainTextEdit
{
public:
    using QPlainTextEdit::blockBoundingGeometry;
    using QPlainTextEdit::blockBoundingRect;
    using QPlainTextEdit::contentOffset;
    using QPlainTextEdit::firstVisibleBlock;
    using QPlainTextEdit::QPlainTextEdit;
    using QPlainTextEdit::setViewportMargins;
};

// The line-number gutter beside one program view: numbers in the view's font, the caret's line
// marked, as wide as the largest number needs. A click selects that line.
class CLineNumberArea : public QWidget
{
    Q_OBJECT
public:
    explicit CLineNumberArea(CGutterEdit* editor);

    // The width that numbers up to lineCount need in the editor's font.
    int widthFor(int lineCount) const;
    QSize sizeHint() const override;
    // Sets the editor's margin and the gutter's geometry after a change of line count or size.
    void updateGeometry();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    void selectLineAt(int y, bool extend);
    void updateLine(int line);

    CGutterEdit* m_editor;
    int m_anchorLine = -1;
    int m_currentLine = -1; // the line marked when last painted
};
