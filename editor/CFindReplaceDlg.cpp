#include "editor/CFindReplaceDlg.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

QPushButton* button(const QString& text, const char* name, QWidget* parent)
{
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(name));
    b->setAutoDefault(false);
    return b;
}

} // namespace

CFindReplaceDlg::CFindReplaceDlg(QWidget* parent) : QDialog(parent)
{
    setModal(false);

    m_findEdit = new QLineEdit(this);
    m_findEdit->setObjectName("findWhat");
    m_findEdit->setMinimumWidth(m_findEdit->fontMetrics().averageCharWidth() * 32);
    auto* findLabel = new QLabel(tr("Fi&nd what:"), this);
    findLabel->setBuddy(m_findEdit);
    m_replaceEdit = new QLineEdit(this);
    m_replaceEdit->setObjectName("replaceWith");
    m_replaceLabel = new QLabel(tr("Re&place with:"), this);
    m_replaceLabel->setBuddy(m_replaceEdit);

    m_wholeWord = new QCheckBox(tr("Match &whole word only"), this);
    m_wholeWord->setObjectName("wholeWord");
    m_matchCase = new QCheckBox(tr("Match &case"), this);
    m_matchCase->setObjectName("matchCase");

    auto* direction = new QGroupBox(tr("Direction"), this);
    m_up = new QRadioButton(tr("&Up"), direction);
    m_up->setObjectName("searchUp");
    m_down = new QRadioButton(tr("&Down"), direction);
    m_down->setObjectName("searchDown");
    m_down->setChecked(true);
    auto* directionLayout = new QHBoxLayout(direction);
    directionLayout->addWidget(m_up);
    directionLayout->addWidget(m_down);
    m_direction = direction;

    m_findNext = button(tr("&Find Next"), "findNext", this);
    m_findNext->setDefault(true);
    m_replace = button(tr("&Replace"), "replace", this);
    m_replaceAll = button(tr("Replace &All"), "replaceAll", this);
    m_cancel = button(tr("Cancel"), "cancel", this);

    auto* fields = new QGridLayout;
    fields->addWidget(findLabel, 0, 0);
    fields->addWidget(m_findEdit, 0, 1);
    fields->addWidget(m_replaceLabel, 1, 0);
    fields->addWidget(m_replaceEdit, 1, 1);

    auto* options = new QHBoxLayout;
    auto* checks = new QVBoxLayout;
    checks->addWidget(m_wholeWord);
    checks->addWidget(m_matchCase);
    checks->addStretch(1);
    options->addLayout(checks);
    options->addWidget(m_direction);

    auto* left = new QVBoxLayout;
    left->addLayout(fields);
    left->addLayout(options);
    left->addStretch(1);

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(m_findNext);
    buttons->addWidget(m_replace);
    buttons->addWidget(m_replaceAll);
    buttons->addWidget(m_cancel);
    buttons->addStretch(1);

    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left, 1);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(m_findEdit, &QLineEdit::textChanged, this, &CFindReplaceDlg::updateButtons);
    connect(m_findNext, &QPushButton::clicked, this, &CFindReplaceDlg::findNextRequested);
    connect(m_replace, &QPushButton::clicked, this, &CFindReplaceDlg::replaceRequested);
    connect(m_replaceAll, &QPushButton::clicked, this, &CFindReplaceDlg::replaceAllRequested);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    updateButtons();
}

void CFindReplaceDlg::start(bool replace, const QString& what)
{
    m_replaceMode = replace;
    setWindowTitle(replace ? tr("Replace") : tr("Find"));
    m_replaceLabel->setVisible(replace);
    m_replaceEdit->setVisible(replace);
    m_replace->setVisible(replace);
    m_replaceAll->setVisible(replace);
    m_direction->setVisible(!replace);
    if (!what.isEmpty())
        m_findEdit->setText(what);
    show();
    raise();
    activateWindow();
    m_findEdit->setFocus();
    m_findEdit->selectAll();
}

CFindReplaceDlg::Options CFindReplaceDlg::options() const
{
    Options o;
    o.findWhat = m_findEdit->text();
    o.replaceWith = m_replaceEdit->text();
    o.matchCase = m_matchCase->isChecked();
    o.wholeWord = m_wholeWord->isChecked();
    o.backward = !m_replaceMode && m_up->isChecked();
    return o;
}

CFindReplaceDlg::Options& CFindReplaceDlg::lastSearch()
{
    static Options last;
    return last;
}

void CFindReplaceDlg::updateButtons()
{
    const bool any = !m_findEdit->text().isEmpty();
    m_findNext->setEnabled(any);
    m_replace->setEnabled(any);
    m_replaceAll->setEnabled(any);
}
