#pragma once

#include "editor/ProgramCheck.h"

#include <QColor>
#include <QSyntaxHighlighter>
#include <QTimer>

#include <vector>

class QPalette;

// The colours of program text, derived from a palette so that a dark one stays readable.
struct ProgramColours
{
    QColor keyword;
    QColor tag;
    QColor number;
    QColor string;
    QColor comment;
    QColor error;

    static ProgramColours from(const QPalette& palette);
};

// Colours the token classes of a program document and runs the live check: about CheckDelayMs after
// the last change, every changed statement line is read as Parse reads it; a faulty line gets a wavy
// underline and keeps its message. The text is never changed.
class CProgramHighlighter : public QSyntaxHighlighter
{
    Q_OBJECT
public:
    explicit CProgramHighlighter(QTextDocument* document);

    struct Problem
    {
        int line = 0; // from 1
        QString message;
    };
    // The faulty lines as last checked, in line order.
    std::vector<Problem> problems() const;
    // The fault of a block as last checked, empty when none.
    static QString faultOf(const QTextBlock& block);
    // Checks every line not checked since its last change now.
    void checkNow();
    bool checkPending() const { return m_timer.isActive(); }

    static constexpr int CheckDelayMs = 300;

signals:
    void problemsChanged();

protected:
    void highlightBlock(const QString& text) override;

private:
    void onContentsChange(int position, int removed, int added);

    ProgramColours m_colours;
    QTextCharFormat m_formats[5];
    QTimer m_timer;
    int m_dirtyFrom = -1; // block numbers to check, inclusive; -1: none
    int m_dirtyTo = -1;
    int m_blockCount = 0;
};
