#include "monitor/CFollowBar.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>

CFollowBar::CFollowBar(QAbstractScrollArea* pane) : QFrame(pane), m_pane(pane)
{
    setObjectName(QStringLiteral("followBar"));
    setFrameShape(QFrame::NoFrame);
    // The pane's fixed-pitch font (zoomed with Ctrl+wheel in the console) is not the strip's.
    QFont font = QApplication::font(this);
    font.setResolveMask(QFont::AllPropertiesResolved);
    setFont(font);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::ToolTipBase);
    setForegroundRole(QPalette::ToolTipText);
    auto* label = new QLabel(tr("Following paused \u2014 End to resume"), this);
    label->setTextFormat(Qt::PlainText);
    label->setForegroundRole(QPalette::ToolTipText);
    auto* resume = new QToolButton(this);
    resume->setObjectName(QStringLiteral("resumeFollowing"));
    resume->setText(tr("Resume"));
    resume->setAutoRaise(true);
    resume->setFocusPolicy(Qt::NoFocus);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 1, 2, 1);
    layout->addWidget(label, 1);
    layout->addWidget(resume);
    connect(resume, &QToolButton::clicked, this, &CFollowBar::resumeRequested);
    hide();
}

int CFollowBar::stripHeight() const
{
    return sizeHint().height();
}

void CFollowBar::place()
{
    const QRect viewport = m_pane->viewport()->geometry();
    setGeometry(viewport.left(), viewport.bottom() + 1, viewport.width(), stripHeight());
    raise();
}
