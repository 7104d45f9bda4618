#include "statement/CStatementDlg.h"

#include "framework/MessageBox.h"
#include "statement/CSpinButton.h"

#include <QComboBox>
#include <QEvent>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <initializer_list>
#include <iterator>
#include <limits>

namespace {

constexpr int kSpinMaximum = 32767;

QLineEdit* lineEdit(const char* name, QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    edit->setMaxLength(std::numeric_limits<int>::max()); // the default limit would cut long lines
    return edit;
}

QComboBox* comboBox(const char* name, const char* const* entries, int count, QWidget* parent)
{
    auto* combo = new QComboBox(parent);
    combo->setObjectName(QLatin1String(name));
    for (int i = 0; i < count; ++i)
        combo->addItem(QString::fromLatin1(entries[i]));
    return combo;
}

QLabel* label(const char* text, QWidget* buddy, QWidget* parent)
{
    auto* l = new QLabel(QString::fromLatin1(text), parent);
    l->setTextFormat(Qt::PlainText);
    l->setBuddy(buddy);
    return l;
}

QString fromStd(const std::string& s)
{
    return QString::fromStdString(s);
}

CStatementDlg::TagPicker& tagPicker()
{
    static CStatementDlg::TagPicker picker;
    return picker;
}

bool hasTagPicker()
{
    return static_cast<bool>(tagPicker());
}

} // namespace

CStatementDlg::CStatementDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(tr("Insert/Edit Statement..."));

    QGroupBox* triggerGroup = createTriggerGroup();
    QGroupBox* operationGroup = createOperationGroup();
    m_previewEdit = lineEdit("preview", this);
    m_previewEdit->setReadOnly(true);
    m_previewEdit->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_previewEdit->setMinimumWidth(m_previewEdit->fontMetrics().averageCharWidth() * 60);

    QLayout* buttons = createButtons();
    auto* groups = new QVBoxLayout;
    groups->addWidget(triggerGroup);
    groups->addWidget(operationGroup);

    auto* top = new QHBoxLayout;
    top->addLayout(groups, 1);
    top->addLayout(buttons);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(label("Statement:", m_previewEdit, this));
    layout->addWidget(m_previewEdit);
    layout->setSizeConstraint(QLayout::SetMinimumSize);
    connectControls();
}

QGroupBox* CStatementDlg::createTriggerGroup()
{
    auto* triggerGroup = new QGroupBox(tr("Statement trigger"), this);
    m_triggerList = comboBox("trigger", kTriggerKeywords, kTriggerKindCount, triggerGroup);
    m_dateEdit = lineEdit("date", triggerGroup);
    m_hoursEdit = lineEdit("hours", triggerGroup);
    m_hoursSpin = new CSpinButton(m_hoursEdit, triggerGroup);
    m_hoursSpin->setObjectName("spinHours");
    m_minutesEdit = lineEdit("minutes", triggerGroup);
    m_minutesSpin = new CSpinButton(m_minutesEdit, triggerGroup);
    m_minutesSpin->setObjectName("spinMinutes");
    m_secondsEdit = lineEdit("seconds", triggerGroup);
    m_secondsSpin = new CSpinButton(m_secondsEdit, triggerGroup);
    m_secondsSpin->setObjectName("spinSeconds");
    m_expressionEdit = lineEdit("expression", triggerGroup);
    m_insertTagButton = new QPushButton(tr("Insert Tag..."), triggerGroup);
    m_insertTagButton->setObjectName("insertTag");
    m_insertTagButton->setAutoDefault(false);

    auto* timeRow = new QHBoxLayout;
    const auto addTimeBox = [&](const char* text, QLineEdit* edit, CSpinButton* spin) {
        auto* box = new QHBoxLayout;
        box->setSpacing(0);
        box->addWidget(edit);
        box->addWidget(spin);
        timeRow->addWidget(label(text, edit, triggerGroup));
        timeRow->addLayout(box, 1);
    };
    addTimeBox("Hours:", m_hoursEdit, m_hoursSpin);
    timeRow->addSpacing(8);
    addTimeBox("Minutes:", m_minutesEdit, m_minutesSpin);
    timeRow->addSpacing(8);
    addTimeBox("Seconds:", m_secondsEdit, m_secondsSpin);

    auto* triggerGrid = new QGridLayout(triggerGroup);
    triggerGrid->addWidget(m_triggerList, 0, 0);
    triggerGrid->addWidget(label("Date (dd-mm-yy):", m_dateEdit, triggerGroup), 0, 1, Qt::AlignRight);
    triggerGrid->addWidget(m_dateEdit, 0, 2);
    triggerGrid->addLayout(timeRow, 1, 0, 1, 3);
    triggerGrid->addWidget(label("Expression:", m_expressionEdit, triggerGroup), 2, 0, 1, 3);
    auto* expressionRow = new QHBoxLayout;
    expressionRow->addWidget(m_expressionEdit, 1);
    expressionRow->addWidget(m_insertTagButton);
    triggerGrid->addLayout(expressionRow, 3, 0, 1, 3);
    triggerGrid->setColumnStretch(2, 1);
    return triggerGroup;
}

QGroupBox* CStatementDlg::createOperationGroup()
{
    auto* operationGroup = new QGroupBox(tr("Statement operation"), this);
    m_operationList = comboBox("operation", kOperationKeywords, kOperationKindCount, operationGroup);
    m_tagEdit = lineEdit("tag", operationGroup);
    m_tagsButton = new QPushButton(tr("Tags..."), operationGroup);
    m_tagsButton->setObjectName("tagsButton");
    m_tagsButton->setAutoDefault(false);
    m_valueEdit = lineEdit("value", operationGroup);
    m_rampTimeEdit = lineEdit("rampTime", operationGroup);
    m_rampStepEdit = lineEdit("rampStep", operationGroup);
    m_opcodeCombo = comboBox("opcode", kSendOpcodes, static_cast<int>(std::size(kSendOpcodes)), operationGroup);
    m_opcodeCombo->setEditable(true);
    m_opcodeCombo->setInsertPolicy(QComboBox::NoInsert);
    m_opcodeCombo->setCompleter(nullptr); // an opcode is free text; completion would change what is typed
    m_opcodeCombo->lineEdit()->setMaxLength(std::numeric_limits<int>::max());
    m_argumentsEdit = lineEdit("arguments", operationGroup);

    auto* operationGrid = new QGridLayout(operationGroup);
    operationGrid->addWidget(m_operationList, 0, 0);
    operationGrid->addWidget(label("Tag:", m_tagEdit, operationGroup), 1, 0);
    auto* tagRow = new QHBoxLayout;
    tagRow->addWidget(m_tagEdit, 1);
    tagRow->addWidget(m_tagsButton);
    operationGrid->addLayout(tagRow, 1, 1, 1, 3);
    operationGrid->addWidget(label("Value:", m_valueEdit, operationGroup), 2, 0);
    operationGrid->addWidget(m_valueEdit, 2, 1, 1, 3);
    operationGrid->addWidget(label("Over time:", m_rampTimeEdit, operationGroup), 3, 0);
    operationGrid->addWidget(m_rampTimeEdit, 3, 1);
    operationGrid->addWidget(label("In steps:", m_rampStepEdit, operationGroup), 3, 2, Qt::AlignRight);
    operationGrid->addWidget(m_rampStepEdit, 3, 3);
    operationGrid->addWidget(label("Opcode:", m_opcodeCombo, operationGroup), 4, 0);
    operationGrid->addWidget(m_opcodeCombo, 4, 1, 1, 3);
    operationGrid->addWidget(label("Arguments (arg1, arg2, ...):", m_argumentsEdit, operationGroup), 5, 0, 1, 4);
    operationGrid->addWidget(m_argumentsEdit, 6, 0, 1, 4);
    operationGrid->setColumnStretch(1, 1);
    operationGrid->setColumnStretch(3, 1);
    return operationGroup;
}

QLayout* CStatementDlg::createButtons()
{
    m_insertButton = new QPushButton(tr("Insert"), this);
    m_insertButton->setObjectName("insert1");
    m_insertButton->setDefault(true);
    m_replaceButton = new QPushButton(tr("Replace"), this);
    m_replaceButton->setObjectName("replace");
    m_cancelButton = new QPushButton(tr("Cancel"), this);
    m_cancelButton->setObjectName("cancel2");

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(m_insertButton);
    buttons->addWidget(m_replaceButton);
    buttons->addWidget(m_cancelButton);
    buttons->addStretch(1);
    return buttons;
}

void CStatementDlg::connectControls()
{
    for (QLineEdit* edit : {m_hoursEdit, m_minutesEdit, m_secondsEdit, m_dateEdit, m_expressionEdit, m_tagEdit,
                            m_valueEdit, m_rampTimeEdit, m_rampStepEdit, m_argumentsEdit})
        connect(edit, &QLineEdit::textChanged, this, &CStatementDlg::refreshPreview);
    connect(m_opcodeCombo, &QComboBox::currentTextChanged, this, &CStatementDlg::refreshPreview);
    connect(m_triggerList, &QComboBox::currentIndexChanged, this, [this] {
        if (!m_writingControls)
            applyTriggerRule();
    });
    connect(m_operationList, &QComboBox::currentIndexChanged, this, [this] {
        if (!m_writingControls)
            applyOperationRule();
    });
    connect(m_insertTagButton, &QPushButton::clicked, this, &CStatementDlg::onInsertTag);
    connect(m_tagsButton, &QPushButton::clicked, this, &CStatementDlg::onTags);
    m_expressionEdit->installEventFilter(this);
    connect(m_insertButton, &QPushButton::clicked, this, [this] { closeWithResult(true); });
    connect(m_replaceButton, &QPushButton::clicked, this, [this] { closeWithResult(false); });
    connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

// Each text field of a statement once: its member, its control and its part of StatementFields.
struct CStatementDlg::TextBinding
{
    QString CStatementDlg::*member;
    QLineEdit* CStatementDlg::*control;
    std::string StatementFields::*field;
};

const CStatementDlg::TextBinding CStatementDlg::textBindings[] = {
    {&CStatementDlg::rampStep, &CStatementDlg::m_rampStepEdit, &StatementFields::rampStep},
    {&CStatementDlg::arguments, &CStatementDlg::m_argumentsEdit, &StatementFields::arguments},
    {&CStatementDlg::rampTime, &CStatementDlg::m_rampTimeEdit, &StatementFields::rampTime},
    {&CStatementDlg::tag, &CStatementDlg::m_tagEdit, &StatementFields::tag},
    {&CStatementDlg::value, &CStatementDlg::m_valueEdit, &StatementFields::value},
    {&CStatementDlg::expression, &CStatementDlg::m_expressionEdit, &StatementFields::expression},
    {&CStatementDlg::hours, &CStatementDlg::m_hoursEdit, &StatementFields::hours},
    {&CStatementDlg::minutes, &CStatementDlg::m_minutesEdit, &StatementFields::minutes},
    {&CStatementDlg::seconds, &CStatementDlg::m_secondsEdit, &StatementFields::seconds},
    {&CStatementDlg::date, &CStatementDlg::m_dateEdit, &StatementFields::date},
};

void CStatementDlg::UpdateData(bool saveAndValidate)
{
    if (saveAndValidate) {
        opcode = m_opcodeCombo->currentText();
        trigger = m_triggerList->currentIndex();
        operation = m_operationList->currentIndex();
        for (const TextBinding& b : textBindings)
            this->*b.member = (this->*b.control)->text();
        preview = m_previewEdit->text();
        return;
    }
    // Each control's change signal would otherwise read the half-written controls back into the members.
    const bool wasWriting = m_writingControls;
    m_writingControls = true;
    // An editable combo box takes a text without moving its list: select the entry that matches.
    const int opcodeEntry = m_opcodeCombo->findText(opcode, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (opcodeEntry >= 0)
        m_opcodeCombo->setCurrentIndex(opcodeEntry);
    m_opcodeCombo->setCurrentText(opcode);
    m_triggerList->setCurrentIndex(trigger);
    m_operationList->setCurrentIndex(operation);
    for (const TextBinding& b : textBindings)
        (this->*b.control)->setText(this->*b.member);
    m_previewEdit->setText(preview);
    m_writingControls = wasWriting;
}

void CStatementDlg::showEvent(QShowEvent* event)
{
    if (!m_initialised) {
        m_initialised = true;
        OnInitDialog();
    }
    QDialog::showEvent(event);
}

void CStatementDlg::OnInitDialog()
{
    UpdateData(false);
    ready = true;
    for (QWidget* w : std::initializer_list<QWidget*>{m_expressionEdit, m_rampTimeEdit, m_rampStepEdit, m_argumentsEdit,
                                                      m_opcodeCombo, m_insertTagButton})
        w->setEnabled(false);
    m_tagsButton->setEnabled(hasTagPicker());
    if (statementText.isEmpty())
        m_replaceButton->setEnabled(false);
    for (CSpinButton* spin : {m_hoursSpin, m_minutesSpin, m_secondsSpin})
        spin->setRange(0, kSpinMaximum);

    if (!statementText.isEmpty()) {
        StatementFields parsed = fields();
        if (StatementError error = ParseStatement(statementText.toStdString(), parsed)) {
            KMessageBox::show(fromStd(*error), KMessageBox::Icon::None, QMessageBox::Ok, parentWidget());
        } else {
            setFields(parsed);
            UpdateData(false);
            applyTriggerRule();
            applyOperationRule();
        }
    }
    refreshPreview();
}

void CStatementDlg::refreshPreview()
{
    if (!ready || m_writingControls)
        return;
    UpdateData(true);
    preview = fromStd(ComposeStatement(fields()));
    m_previewEdit->setText(preview);
}

void CStatementDlg::applyTriggerRule()
{
    const int selected = m_triggerList->currentIndex();
    if (selected >= 0 && selected < kTriggerKindCount) {
        const auto kind = static_cast<TriggerKind>(selected);
        const bool timed = kind != TriggerKind::When;
        m_dateEdit->setEnabled(kind == TriggerKind::At);
        for (QWidget* w : std::initializer_list<QWidget*>{m_hoursEdit, m_minutesEdit, m_secondsEdit, m_hoursSpin,
                                                          m_minutesSpin, m_secondsSpin})
            w->setEnabled(timed);
        m_expressionEdit->setEnabled(!timed);
        m_insertTagButton->setEnabled(!timed && hasTagPicker());
    }
    refreshPreview();
}

void CStatementDlg::applyOperationRule()
{
    const int selected = m_operationList->currentIndex();
    if (selected >= 0 && selected < kOperationKindCount) {
        const auto kind = static_cast<OperationKind>(selected);
        const bool withTag = kind == OperationKind::Ramp || kind == OperationKind::Set;
        m_tagEdit->setEnabled(withTag);
        m_tagsButton->setEnabled(withTag && hasTagPicker());
        m_valueEdit->setEnabled(withTag);
        m_rampTimeEdit->setEnabled(kind == OperationKind::Ramp);
        m_rampStepEdit->setEnabled(kind == OperationKind::Ramp);
        m_argumentsEdit->setEnabled(kind == OperationKind::Send);
        m_opcodeCombo->setEnabled(kind == OperationKind::Send);
    }
    refreshPreview();
}

CStatementDlg::TagPicker CStatementDlg::setTagPicker(TagPicker picker)
{
    TagPicker previous = std::move(tagPicker());
    tagPicker() = std::move(picker);
    return previous;
}

bool CStatementDlg::eventFilter(QObject* watched, QEvent* event)
{
    // The line edit drops its selection when a click takes the focus away.
    if (watched == m_expressionEdit && event->type() == QEvent::FocusOut) {
        m_expressionSelectionStart = m_expressionEdit->hasSelectedText() ? m_expressionEdit->selectionStart() : -1;
        m_expressionSelectionLength = m_expressionEdit->selectionLength();
    }
    return QDialog::eventFilter(watched, event);
}

void CStatementDlg::onInsertTag()
{
    const TagPicker picker = tagPicker(); // the picker's dialogs may replace it meanwhile
    if (!picker)
        return;
    const int start = m_expressionSelectionStart;
    const int length = m_expressionSelectionLength;
    const QString before = m_expressionEdit->text();
    const std::optional<QString> name = picker(this);
    if (!name)
        return;
    if (!m_expressionEdit->hasSelectedText() && start >= 0 && m_expressionEdit->text() == before &&
        start + length <= before.size())
        m_expressionEdit->setSelection(start, length);
    m_expressionEdit->insert(QLatin1Char('{') + *name + QLatin1Char('}'));
    m_expressionEdit->setFocus();
}

void CStatementDlg::onTags()
{
    const TagPicker picker = tagPicker();
    if (!picker)
        return;
    if (const std::optional<QString> name = picker(this)) {
        m_tagEdit->setText(*name);
        m_valueEdit->setFocus();
    }
}

void CStatementDlg::closeWithResult(bool insert)
{
    UpdateData(true);
    if (StatementError error = ValidateStatement(fields())) {
        KMessageBox::show(fromStd(*error), KMessageBox::Icon::None, QMessageBox::Ok, this);
        return;
    }
    insertRequested = insert;
    accept();
}

StatementFields CStatementDlg::fields() const
{
    StatementFields f;
    f.trigger = static_cast<TriggerKind>(trigger);
    f.operation = static_cast<OperationKind>(operation);
    f.opcode = opcode.toStdString();
    for (const TextBinding& b : textBindings)
        f.*b.field = (this->*b.member).toStdString();
    return f;
}

void CStatementDlg::setFields(const StatementFields& f)
{
    trigger = static_cast<int>(f.trigger);
    operation = static_cast<int>(f.operation);
    opcode = fromStd(f.opcode);
    for (const TextBinding& b : textBindings)
        this->*b.member = fromStd(f.*b.field);
}
