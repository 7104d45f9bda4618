#include "monitor/CMonitorFindBar.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

CMonitorFindBar::CMonitorFindBar(QWidget* parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("findBar"));
    setFrameShape(QFrame::NoFrame);
    m_label = new QLabel(this);
    m_label->setTextFormat(Qt::PlainText);
    m_edit = new QLineEdit(this);
    m_edit->setObjectName(QStringLiteral("findWhat"));
    m_edit->setClearButtonEnabled(true);
    m_edit->setMinimumWidth(m_edit->fontMetrics().averageCharWidth() * 24);
    m_label->setBuddy(m_edit);
    m_next = new QPushButton(tr("&Next"), this);
    m_next->setObjectName(QStringLiteral("findNext"));
    m_previous = new QPushButton(tr("Pre&vious"), this);
    m_previous->setObjectName(QStringLiteral("findPrevious"));
    for (QPushButton* b : {m_next, m_previous}) {
        b->setAutoDefault(false);
        b->setFocusPolicy(Qt::TabFocus);
    }
    m_matchCase = new QCheckBox(tr("Match &case"), this);
    m_matchCase->setObjectName(QStringLiteral("matchCase"));
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("findStatus"));
    m_status->setTextFormat(Qt::PlainText);
    auto* close = new QToolButton(this);
    close->setObjectName(QStringLiteral("closeFind"));
    close->setText(tr("Close"));
    close->setAutoRaise(true);
    close->setToolTip(tr("Close the find bar (Esc)"));

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->addWidget(m_label);
    layout->addWidget(m_edit);
    layout->addWidget(m_next);
    layout->addWidget(m_previous);
    layout->addWidget(m_matchCase);
    layout->addWidget(m_status, 1);
    layout->addWidget(close);

    connect(m_edit, &QLineEdit::returnPressed, this,
            [this] { emit findRequested(QGuiApplication::keyboardModifiers() & Qt::ShiftModifier); });
    connect(m_edit, &QLineEdit::textChanged, this, [this](const QString& what) {
        setNotFound(false);
        m_next->setEnabled(!what.isEmpty());
        m_previous->setEnabled(!what.isEmpty());
    });
    connect(m_matchCase, &QCheckBox::toggled, this, [this] { setNotFound(false); });
    connect(m_next, &QPushButton::clicked, this, [this] { emit findRequested(false); });
    connect(m_previous, &QPushButton::clicked, this, [this] { emit findRequested(true); });
    connect(close, &QToolButton::clicked, this, [this] {
        hide();
        emit closed();
    });
    m_next->setEnabled(false);
    m_previous->setEnabled(false);
    hide();
}

void CMonitorFindBar::start(const QString& paneName, const QString& what)
{
    setPaneName(paneName);
    if (!what.isEmpty())
        m_edit->setText(what);
    setNotFound(false);
    show();
    m_edit->setFocus(Qt::ShortcutFocusReason);
    m_edit->selectAll();
}

void CMonitorFindBar::setPaneName(const QString& paneName)
{
    m_label->setText(tr("Find in %1:").arg(paneName));
}

QString CMonitorFindBar::text() const
{
    return m_edit->text();
}

bool CMonitorFindBar::matchCase() const
{
    return m_matchCase->isChecked();
}

void CMonitorFindBar::setNotFound(bool notFound)
{
    m_status->setText(notFound ? tr("Not found") : QString());
}

void CMonitorFindBar::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        hide();
        emit closed();
        return;
    }
    QFrame::keyPressEvent(event);
}
