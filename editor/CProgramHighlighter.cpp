#include "editor/CProgramHighlighter.h"

#include "editor/CTagAssist.h"

#include <QGuiApplication>
#include <QPalette>
#include <QTextBlock>
#include <QTextDocument>

#include <algorithm>

namespace {

// What a block carries: its fault, if any, and the colours it was coloured with. Only blocks that
// were shown or are faulty have one.
class BlockData : public QTextBlockUserData
{
public:
    QString fault;
    std::vector<CProgramHighlighter::TagWarning> warnings;
    int generation = 0; // 0: not coloured
};

BlockData* dataOf(const QTextBlock& block)
{
    return static_cast<BlockData*>(block.userData());
}

} // namespace

ProgramColours ProgramColours::from(const QPalette& palette)
{
    // Light backgrounds take the classic dark hues (the comment green is the monitor's); dark ones
    // the same hues lightened.
    const bool dark = palette.color(QPalette::Base).lightness() < 128;
    ProgramColours c;
    c.keyword = dark ? QColor(120, 170, 255) : QColor(0, 0, 200);
    c.tag = dark ? QColor(220, 140, 230) : QColor(128, 0, 128);
    c.number = dark ? QColor(235, 170, 90) : QColor(170, 85, 0);
    c.string = dark ? QColor(240, 130, 120) : QColor(163, 21, 21);
    c.comment = dark ? QColor(100, 210, 100) : QColor(0, 170, 0);
    c.error = dark ? QColor(255, 95, 95) : QColor(220, 0, 0);
    c.warning = dark ? QColor(250, 190, 60) : QColor(215, 135, 0);
    return c;
}

bool ProgramColours::operator==(const ProgramColours& o) const
{
    return keyword == o.keyword && tag == o.tag && number == o.number && string == o.string && comment == o.comment &&
           error == o.error && warning == o.warning;
}

CProgramHighlighter::CProgramHighlighter(QTextDocument* document) : QObject(document), m_document(document)
{
    // The blocks to colour are chosen here (shown ones and small edits), never every block an edit
    // touches or a whole loaded file.
    setColours(ProgramColours::from(QGuiApplication::palette()));

    m_timer.setSingleShot(true);
    m_timer.setInterval(CheckDelayMs);
    connect(&m_timer, &QTimer::timeout, this, &CProgramHighlighter::checkSlice);
    m_slice.setSingleShot(true);
    m_slice.setInterval(0);
    connect(&m_slice, &QTimer::timeout, this, &CProgramHighlighter::checkSlice);
    m_blockCount = document->blockCount();
    connect(document, &QTextDocument::contentsChange, this, &CProgramHighlighter::onContentsChange);
    m_dirtyFrom = 0;
    m_dirtyTo = m_blockCount - 1;
    m_timer.start();
    connect(&CTagAssist::instance(), &CTagAssist::knowledgeChanged, this, &CProgramHighlighter::recheckAll);
}

void CProgramHighlighter::recheckAll()
{
    m_dirtyFrom = 0;
    m_dirtyTo = m_document->blockCount() - 1;
    if (!m_timer.isActive())
        checkSoon();
}

bool CProgramHighlighter::setColours(const ProgramColours& colours)
{
    if (colours == m_colours)
        return false;
    m_colours = colours;
    using ProgramCheck::TokenClass;
    for (QTextCharFormat& f : m_formats)
        f = QTextCharFormat();
    m_formats[int(TokenClass::Keyword)].setForeground(m_colours.keyword);
    m_formats[int(TokenClass::Keyword)].setFontWeight(QFont::Bold);
    m_formats[int(TokenClass::Tag)].setForeground(m_colours.tag);
    m_formats[int(TokenClass::Number)].setForeground(m_colours.number);
    m_formats[int(TokenClass::String)].setForeground(m_colours.string);
    m_formats[int(TokenClass::Comment)].setForeground(m_colours.comment);
    ++m_generation;
    return true;
}

QString CProgramHighlighter::faultOf(const QTextBlock& block)
{
    const BlockData* data = dataOf(block);
    return data ? data->fault : QString();
}

std::vector<CProgramHighlighter::TagWarning> CProgramHighlighter::warningsOf(const QTextBlock& block)
{
    const BlockData* data = dataOf(block);
    return data ? data->warnings : std::vector<TagWarning>();
}

std::vector<CProgramHighlighter::TagWarning> CProgramHighlighter::tagWarnings(const QString& line)
{
    return CTagAssist::instance().knowledge().lineWarnings(line);
}

bool CProgramHighlighter::isHighlighted(const QTextBlock& block) const
{
    const BlockData* data = dataOf(block);
    return data && data->generation == m_generation;
}

void CProgramHighlighter::colour(const QTextBlock& block)
{
    QTextBlock b = block;
    auto* data = dataOf(b);
    if (!data) {
        data = new BlockData;
        b.setUserData(data);
    }
    data->generation = m_generation;
    QTextLayout* layout = b.layout();
    const QVector<QTextLayout::FormatRange> formats = formatsOf(b.text(), data->fault, data->warnings);
    if (!layout || layout->formats() == formats)
        return;
    // Formats change no text: the document relays out and repaints the block alone.
    m_colouring = true;
    layout->setFormats(formats);
    m_document->markContentsDirty(b.position(), b.length());
    m_colouring = false;
}

void CProgramHighlighter::highlightBlocks(const QTextBlock& first, const QTextBlock& last)
{
    if (!first.isValid())
        return;
    for (QTextBlock block = first; block.isValid(); block = block.next()) {
        if (!isHighlighted(block))
            colour(block);
        if (block == last)
            break;
    }
}

QVector<QTextLayout::FormatRange> CProgramHighlighter::formatsOf(const QString& text, const QString& fault,
                                                                 const std::vector<TagWarning>& warnings) const
{
    QVector<QTextLayout::FormatRange> formats;
    for (const ProgramCheck::Token& t : ProgramCheck::tokens(text)) {
        QTextCharFormat f = m_formats[int(t.kind)];
        // An unknown tag: a dotted underline in the warning colour, apart from a fault's wave.
        for (const TagWarning& w : warnings) {
            if (w.start == t.start) {
                f.setUnderlineStyle(QTextCharFormat::DotLine);
                f.setUnderlineColor(m_colours.warning);
            }
        }
        formats.push_back({t.start, t.length, f});
    }
    if (fault.isEmpty())
        return formats;
    // The underline covers the statement from its first to its last visible character: over the
    // tokens and the gaps between them.
    int from = 0;
    while (from < text.size() && text.at(from).isSpace())
        ++from;
    int to = int(text.size());
    while (to > from && text.at(to - 1).isSpace())
        --to;
    const auto underlined = [this](QTextCharFormat f) {
        f.setUnderlineStyle(QTextCharFormat::WaveUnderline);
        f.setUnderlineColor(m_colours.error);
        return f;
    };
    QVector<QTextLayout::FormatRange> out;
    int at = from;
    for (const QTextLayout::FormatRange& r : formats) {
        const int start = std::max(r.start, from);
        const int end = std::min(r.start + r.length, to);
        if (end <= start)
            continue;
        if (start > at)
            out.push_back({at, start - at, underlined(QTextCharFormat())});
        out.push_back({start, end - start, underlined(r.format)});
        at = end;
    }
    if (to > at)
        out.push_back({at, to - at, underlined(QTextCharFormat())});
    return out;
}

void CProgramHighlighter::onContentsChange(int position, int removed, int added)
{
    Q_UNUSED(removed);
    if (m_colouring)
        return; // formats only
    QTextDocument* doc = document();
    const int count = doc->blockCount();
    const int delta = count - m_blockCount;
    m_blockCount = count;
    const QTextBlock first = doc->findBlock(position);
    QTextBlock last = doc->findBlock(position + added);
    if (!last.isValid())
        last = doc->lastBlock();
    const int from = std::max(0, first.blockNumber());
    const int to = last.blockNumber();

    if (to - from < EagerLines) {
        // Coloured now, while the document is still reporting the change, so that the lines are laid
        // out once, with their colours; colouring after the layout would lay them out again.
        for (QTextBlock block = first; block.isValid(); block = block.next()) {
            colour(block);
            if (block == last)
                break;
        }
    } else {
        // Lines between the ends of a large edit are new; the two ends kept part of their text.
        for (const QTextBlock& end : {first, last}) {
            if (BlockData* data = dataOf(end))
                data->generation = 0;
        }
    }

    if (m_dirtyFrom < 0) {
        m_dirtyFrom = from;
        m_dirtyTo = to;
    } else {
        // Lines inserted or removed before the pending range shift it; widening it is enough.
        m_dirtyFrom = std::min(m_dirtyFrom, from);
        m_dirtyTo = std::max(m_dirtyTo + std::max(0, delta), to);
    }
    // Typing pauses the check; it goes on after the pause.
    m_slice.stop();
    m_timer.start();
}

bool CProgramHighlighter::checkLines(int lines)
{
    if (m_dirtyFrom < 0)
        return true;
    QTextDocument* doc = document();
    const int last = std::min(m_dirtyTo, doc->blockCount() - 1);
    QTextBlock block = doc->findBlockByNumber(m_dirtyFrom);
    for (; block.isValid() && m_dirtyFrom <= last && lines != 0; block = block.next(), ++m_dirtyFrom, --lines) {
        const QString text = block.text();
        const QString fault = ProgramCheck::lineFault(text);
        std::vector<TagWarning> warnings = tagWarnings(text);
        BlockData* data = dataOf(block);
        if (fault == (data ? data->fault : QString()) &&
            warnings == (data ? data->warnings : std::vector<TagWarning>()))
            continue;
        if (!data) {
            data = new BlockData;
            block.setUserData(data);
        }
        data->fault = fault;
        data->warnings = std::move(warnings);
        // A block not shown yet gets its underline when it is.
        if (data->generation == m_generation)
            colour(block);
    }
    if (block.isValid() && m_dirtyFrom <= last)
        return false;
    m_dirtyFrom = m_dirtyTo = -1;
    return true;
}

void CProgramHighlighter::checkSlice()
{
    m_timer.stop();
    if (!checkLines(CheckSliceLines)) {
        m_slice.start();
        return;
    }
    // Removed lines take their faults with them, so the list may change even when no line did.
    emit problemsChanged();
}

void CProgramHighlighter::checkNow()
{
    m_timer.stop();
    m_slice.stop();
    if (m_dirtyFrom < 0)
        return;
    checkLines(-1);
    emit problemsChanged();
}

void CProgramHighlighter::checkSoon()
{
    if (m_dirtyFrom >= 0 && m_dirtyTo - m_dirtyFrom < CheckSliceLines) {
        checkNow();
        return;
    }
    m_timer.stop();
    m_slice.start();
}

std::vector<CProgramHighlighter::Problem> CProgramHighlighter::problems() const
{
    std::vector<Problem> out;
    int line = 0;
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
        ++line;
        const BlockData* data = dataOf(block);
        if (!data)
            continue;
        if (!data->fault.isEmpty())
            out.push_back({line, data->fault, false});
        for (const TagWarning& w : data->warnings)
            out.push_back({line, w.message, true});
    }
    return out;
}
