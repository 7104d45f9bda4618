#include "framework/CStatusBar.h"

#include <QFontMetrics>
#include <QLabel>

CStatusBar::CStatusBar(QWidget* parent) : QStatusBar(parent)
{
    setSizeGripEnabled(true);
}

void CStatusBar::setIndicators(const QStringList& initialTexts)
{
    qDeleteAll(m_panes);
    m_panes.clear();
    for (int i = 0; i < initialTexts.size(); ++i) {
        auto* label = new QLabel(initialTexts.at(i), this);
        label->setObjectName(QStringLiteral("pane%1").arg(i));
        label->setTextFormat(Qt::PlainText);
        if (i == 0) {
            label->setIndent(2);
            addWidget(label, 1);
        } else {
            // Blanks are kept: the initial texts are width placeholders.
            label->setTextInteractionFlags(Qt::NoTextInteraction);
            label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            label->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
            const int margin = label->frameWidth() * 2 + label->margin() * 2 + 6;
            label->setFixedWidth(QFontMetrics(label->font()).horizontalAdvance(initialTexts.at(i)) + margin);
            label->setIndent(3);
            addPermanentWidget(label);
        }
        m_panes.append(label);
    }
}

void CStatusBar::SetPaneText(int pane, const QString& text)
{
    if (pane < 0 || pane >= m_panes.size() || m_panes.at(pane)->text() == text)
        return;
    m_panes.at(pane)->setText(text);
    emit paneTextChanged(pane, text);
}

QString CStatusBar::paneText(int pane) const
{
    return pane >= 0 && pane < m_panes.size() ? m_panes.at(pane)->text() : QString();
}

QLabel* CStatusBar::pane(int index) const
{
    return index >= 0 && index < m_panes.size() ? m_panes.at(index) : nullptr;
}

void CStatusBar::setPaneEnabled(int pane, bool enabled)
{
    if (QLabel* l = this->pane(pane))
        l->setEnabled(enabled);
}
