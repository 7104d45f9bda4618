#pragma once

#include "lang/ProgramCheck.h"
#include "tags/TagKnowledge.h"

#include <QColor>
#include <QObject>
#include <QTextLayout>
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
    QColor warning;

    static ProgramColours from(const QPalette& palette);
    bool operator==(const ProgramColours& o) const;
    bool operator!=(const ProgramColours& o) const { return !(*this == o); }
};

// Colours the token classes of a program document and runs the live check. The text is never changed.
//
// Colouring is lazy: a block is coloured when a view is about to show it (highlightBlocks()) or when an
// edit of a few lines touches it, never by a pass over the whole document, so that opening a large
// program costs no more than loading its text.
//
// The live check reads every changed statement line as Parse reads it, about CheckDelayMs after the
// last change, CheckSliceLines lines at a time with the event loop running in between; a faulty line
// gets a wavy underline and keeps its message. Only faulty lines carry anything.
class CProgramHighlighter : public QObject
{
    Q_OBJECT
public:
    explicit CProgramHighlighter(QTextDocument* document);

    struct Problem
    {
        int line = 0; // from 1
        QString message;
        bool warning = false; // an unknown tag, which blocks nothing
    };
    // A tag of a line that the kernel logged on to does not know.
    using TagWarning = TagKnowledge::LineWarning;
    // The faulty lines as last checked, in line order.
    std::vector<Problem> problems() const;
    // The fault of a block as last checked, empty when none.
    static QString faultOf(const QTextBlock& block);
    // The unknown tags of a block as last checked.
    static std::vector<TagWarning> warningsOf(const QTextBlock& block);
    // The unknown tags of a line, as far as the editor's tag knowledge knows them now.
    static std::vector<TagWarning> tagWarnings(const QString& line);
    // Every line is checked again (what the kernel's names are known to be has changed).
    void recheckAll();

    // Checks every line not checked since its last change now.
    void checkNow();
    // Checks the pending lines now when they fit in one slice, else slice by slice from the next
    // turn of the event loop: a small program opens with its faults marked, a large one without
    // waiting for them.
    void checkSoon();
    bool checkPending() const { return m_timer.isActive() || m_slice.isActive(); }

    // Colours the blocks from first to last (inclusive) that do not have the current colours yet.
    void highlightBlocks(const QTextBlock& first, const QTextBlock& last);
    bool isHighlighted(const QTextBlock& block) const;
    // True while the highlighter changes formats: the text is not changing then.
    bool isColouring() const { return m_colouring; }

    const ProgramColours& colours() const { return m_colours; }
    // New colours: blocks recolour as they are shown again. False when nothing changed.
    bool setColours(const ProgramColours& colours);

    static constexpr int CheckDelayMs = 300;
    static constexpr int CheckSliceLines = 2000;
    // Edits of up to this many lines are coloured at once; larger ones as views show them.
    static constexpr int EagerLines = 64;

    QTextDocument* document() const { return m_document; }

signals:
    void problemsChanged();

private:
    void onContentsChange(int position, int removed, int added);
    // Checks up to lines pending lines (all for -1); true when none is left.
    bool checkLines(int lines);
    void checkSlice();
    // Gives a block the formats of its tokens (and its fault's underline) through its layout.
    void colour(const QTextBlock& block);
    QVector<QTextLayout::FormatRange> formatsOf(const QString& text, const QString& fault,
                                                const std::vector<TagWarning>& warnings) const;

    QTextDocument* m_document;

    ProgramColours m_colours;
    QTextCharFormat m_formats[5];
    int m_generation = 1; // of the colours; a block coloured with an older one is coloured again
    bool m_colouring = false;
    QTimer m_timer;       // the pause after an edit
    QTimer m_slice;       // the next slice of a check
    int m_dirtyFrom = -1; // block numbers to check, inclusive; -1: none
    int m_dirtyTo = -1;
    int m_blockCount = 0;
};
