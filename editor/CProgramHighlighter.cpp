#include "editor/CProgramHighlighter.h"

#include <QGuiApplication>
#include <QPalette>
#include <QTextBlock>
#include <QTextDocument>

#include <algorithm>

namespace {

class FaultData : public QTextBlockUserData
{
public:
    explicit FaultData(QString text) : message(std::move(text)) {}
    QString message;
};

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
    return c;
}

CProgramHighlighter::CProgramHighlighter(QTextDocument* document)
    : QSyntaxHighlighter(document), m_colours(ProgramColours::from(QGuiApplication::palette()))
{
    using ProgramCheck::TokenClass;
    m_formats[int(TokenClass::Keyword)].setForeground(m_colours.keyword);
    m_formats[int(TokenClass::Keyword)].setFontWeight(QFont::Bold);
    m_formats[int(TokenClass::Tag)].setForeground(m_colours.tag);
    m_formats[int(TokenClass::Number)].setForeground(m_colours.number);
    m_formats[int(TokenClass::String)].setForeground(m_colours.string);
    m_formats[int(TokenClass::Comment)].setForeground(m_colours.comment);

    m_timer.setSingleShot(true);
    m_timer.setInterval(CheckDelayMs);
    connect(&m_timer, &QTimer::timeout, this, &CProgramHighlighter::checkNow);
    m_blockCount = document->blockCount();
    connect(document, &QTextDocument::contentsChange, this, &CProgramHighlighter::onContentsChange);
    m_dirtyFrom = 0;
    m_dirtyTo = m_blockCount - 1;
    m_timer.start();
}

QString CProgramHighlighter::faultOf(const QTextBlock& block)
{
    auto* data = static_cast<FaultData*>(block.userData());
    return data ? data->message : QString();
}

void CProgramHighlighter::highlightBlock(const QString& text)
{
    for (const ProgramCheck::Token& t : ProgramCheck::tokens(text))
        setFormat(t.start, t.length, m_formats[int(t.kind)]);
    if (faultOf(currentBlock()).isEmpty())
        return;
    // The underline covers the statement from its first to its last visible character.
    int from = 0;
    while (from < text.size() && text.at(from).isSpace())
        ++from;
    int to = int(text.size());
    while (to > from && text.at(to - 1).isSpace())
        --to;
    for (int i = from; i < to; ++i) {
        QTextCharFormat f = format(i);
        f.setUnderlineStyle(QTextCharFormat::WaveUnderline);
        f.setUnderlineColor(m_colours.error);
        setFormat(i, 1, f);
    }
}

void CProgramHighlighter::onContentsChange(int position, int removed, int added)
{
    Q_UNUSED(removed);
    QTextDocument* doc = document();
    const int count = doc->blockCount();
    const int delta = count - m_blockCount;
    m_blockCount = count;
    const int from = doc->findBlock(position).blockNumber();
    int to = doc->findBlock(position + added).blockNumber();
    if (to < 0)
        to = count - 1;
    if (m_dirtyFrom < 0) {
        m_dirtyFrom = std::max(0, from);
        m_dirtyTo = to;
    } else {
        // Lines inserted or removed before the pending range shift it; widening it is enough.
        m_dirtyFrom = std::max(0, std::min(m_dirtyFrom, from));
        m_dirtyTo = std::max(m_dirtyTo + std::max(0, delta), to);
    }
    m_timer.start();
}

void CProgramHighlighter::checkNow()
{
    m_timer.stop();
    if (m_dirtyFrom < 0)
        return;
    QTextDocument* doc = document();
    const int last = std::min(m_dirtyTo, doc->blockCount() - 1);
    for (QTextBlock block = doc->findBlockByNumber(m_dirtyFrom); block.isValid() && block.blockNumber() <= last;
         block = block.next()) {
        const QString fault = ProgramCheck::lineFault(block.text());
        if (fault == faultOf(block))
            continue;
        block.setUserData(fault.isEmpty() ? nullptr : new FaultData(fault));
        rehighlightBlock(block);
    }
    m_dirtyFrom = m_dirtyTo = -1;
    // Removed lines take their faults with them, so the list may change even when no line did.
    emit problemsChanged();
}

std::vector<CProgramHighlighter::Problem> CProgramHighlighter::problems() const
{
    std::vector<Problem> out;
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
        if (auto* data = static_cast<FaultData*>(block.userData()))
            out.push_back({block.blockNumber() + 1, data->message});
    }
    return out;
}
