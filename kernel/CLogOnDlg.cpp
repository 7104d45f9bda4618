#include "kernel/CLogOnDlg.h"

#include "core/CSettingsKey.h"
#include "core/SettingNames.h"
#include "framework/MessageBox.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CLogOnDlg::CLogOnDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(tr("Log on to kernel..."));

    m_hostCombo = new QComboBox(this);
    m_hostCombo->setObjectName(QStringLiteral("hostname"));
    m_hostCombo->setEditable(true);
    // The list stays empty: a typed name is not added to it.
    m_hostCombo->setInsertPolicy(QComboBox::NoInsert);
    m_hostCombo->setCompleter(nullptr);
    m_hostCombo->lineEdit()->setMaxLength(MaxTextLength);
    m_hostCombo->setMinimumContentsLength(24);

    m_instanceEdit = new QLineEdit(this);
    m_instanceEdit->setObjectName(QStringLiteral("instance"));
    m_instanceEdit->setMaxLength(MaxTextLength);

    auto* form = new QFormLayout;
    auto* hostLabel = new QLabel(tr("Hostname:"), this);
    hostLabel->setTextFormat(Qt::PlainText);
    hostLabel->setBuddy(m_hostCombo);
    auto* instanceLabel = new QLabel(tr("Instance:"), this);
    instanceLabel->setTextFormat(Qt::PlainText);
    instanceLabel->setBuddy(m_instanceEdit);
    form->addRow(hostLabel, m_hostCombo);
    form->addRow(instanceLabel, m_instanceEdit);

    auto* buttons = new QDialogButtonBox(this);
    m_okButton = buttons->addButton(tr("OK"), QDialogButtonBox::AcceptRole);
    m_okButton->setObjectName(QStringLiteral("ok1"));
    m_okButton->setDefault(true);
    m_cancelButton = buttons->addButton(tr("Cancel"), QDialogButtonBox::RejectRole);
    m_cancelButton->setObjectName(QStringLiteral("cancel2"));
    connect(buttons, &QDialogButtonBox::accepted, this, &CLogOnDlg::OnOK);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    setSizeGripEnabled(false);
}

void CLogOnDlg::UpdateData(bool saveAndValidate)
{
    if (saveAndValidate) {
        hostname = m_hostCombo->currentText();
        instance = m_instanceEdit->text();
    } else {
        m_hostCombo->setEditText(hostname);
        m_instanceEdit->setText(instance);
    }
}

void CLogOnDlg::showEvent(QShowEvent* event)
{
    if (!m_initialised) {
        m_initialised = true;
        OnInitDialog();
    }
    QDialog::showEvent(event);
}

void CLogOnDlg::OnInitDialog()
{
    UpdateData(false);
    CSettingsKey key;
    key.open(CSettingsKey::Read);
    if (const std::optional<QString> host = key.read(SettingName::Hostname))
        m_hostCombo->setEditText(*host);
    if (const std::optional<QString> number = key.read(SettingName::Instance))
        m_instanceEdit->setText(*number);
    key.close();
    m_hostCombo->lineEdit()->selectAll();
    m_hostCombo->setFocus();
}

void CLogOnDlg::OnOK()
{
    CSettingsKey key;
    key.open(CSettingsKey::Write);
    if (!m_hostCombo->currentText().isEmpty())
        key.write(SettingName::Hostname, m_hostCombo->currentText());
    if (!m_instanceEdit->text().isEmpty())
        key.write(SettingName::Instance, m_instanceEdit->text());
    // The log-on goes ahead; the user only learns that the dialog will not remember these texts.
    if (!key.close())
        KMessageBox::show(key.notStoredMessage(), KMessageBox::Icon::Warning, QMessageBox::Ok, this);
    UpdateData(true);
    accept();
}
