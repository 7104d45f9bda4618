#include "app/COptionsDlg.h"

#include "app/CKelmDeskApp.h"
#include "core/CSettingsKey.h"
#include "core/RunnerPath.h"
#include "core/SettingNames.h"
#include "framework/MessageBox.h"
#include "framework/Modal.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
QLabel* plainLabel(const QString& text, QWidget* parent)
{
    auto* l = new QLabel(text, parent);
    l->setTextFormat(Qt::PlainText);
    return l;
}

#ifdef Q_OS_WIN
const char* const runnerFilter = "Executable Files (*.exe)";
#else
// Runners have no extension here: the dialog lists executable files instead.
const char* const runnerFilter = "Executable Files (*)";
#endif
} // namespace

COptionsDlg::COptionsDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("KelmDesk Options"));

    m_runnerEdit = new QLineEdit(this);
    m_runnerEdit->setObjectName(QStringLiteral("runnerPath"));
    m_runnerBrowse = new QPushButton(tr("Browse..."), this);
    m_runnerBrowse->setObjectName(QStringLiteral("browseRunner"));
    m_hostCombo = new QComboBox(this);
    m_hostCombo->setObjectName(QStringLiteral("defaultHost"));
    m_hostCombo->setEditable(true);
    m_hostCombo->setInsertPolicy(QComboBox::InsertAlphabetically);
    m_instanceEdit = new QLineEdit(this);
    m_instanceEdit->setObjectName(QStringLiteral("defaultInstance"));
    m_defaultLogon = new QCheckBox(this);
    m_defaultLogon->setObjectName(QStringLiteral("defaultLogon"));
    m_tagListEdit = new QLineEdit(this);
    m_tagListEdit->setObjectName(QStringLiteral("tagListFile"));
    m_tagListBrowse = new QPushButton(tr("Browse..."), this);
    m_tagListBrowse->setObjectName(QStringLiteral("browseTagListFile"));

    auto* groups = new QVBoxLayout;
    groups->addWidget(runnerGroup());
    groups->addWidget(loginGroup());
    groups->addWidget(tagListGroup());
    auto* top = new QHBoxLayout(this);
    top->addLayout(groups, 1);
    top->addSpacing(6);
    top->addLayout(buttonColumn());

    connect(m_runnerBrowse, &QPushButton::clicked, this, &COptionsDlg::onBrowseRunner);
    connect(m_tagListBrowse, &QPushButton::clicked, this, &COptionsDlg::onBrowseTagList);

    setMinimumWidth(480);
    OnInitDialog();
}

QWidget* COptionsDlg::runnerGroup()
{
    auto* group = new QGroupBox(QStringLiteral("KELM executable"), this);
    auto* layout = new QGridLayout(group);
    layout->addWidget(plainLabel(QStringLiteral("Path to %1:").arg(QLatin1String(runnerFileName)), group), 0, 0, 1, 2);
    layout->addWidget(m_runnerEdit, 1, 0);
    layout->addWidget(m_runnerBrowse, 1, 1);
    return group;
}

QWidget* COptionsDlg::loginGroup()
{
    auto* group = new QGroupBox(QStringLiteral("Default login"), this);
    auto* layout = new QGridLayout(group);
    layout->addWidget(plainLabel(QStringLiteral("Hostname:"), group), 0, 0);
    layout->addWidget(m_hostCombo, 0, 1);
    layout->addWidget(plainLabel(QStringLiteral("Instance:"), group), 1, 0);
    layout->addWidget(m_instanceEdit, 1, 1);
    auto* logonRow = new QHBoxLayout;
    logonRow->addWidget(m_defaultLogon, 0, Qt::AlignTop);
    auto* logonLabel = plainLabel(QStringLiteral("Use this setting as the default\nkernel connection when\nrunning %1.")
                                      .arg(QLatin1String(runnerFileName)),
                                  group);
    logonLabel->setBuddy(m_defaultLogon);
    logonRow->addWidget(logonLabel, 1);
    layout->addLayout(logonRow, 0, 2, 2, 1);
    layout->setColumnStretch(1, 1);
    layout->setColumnMinimumWidth(2, 10);
    layout->setHorizontalSpacing(12);
    return group;
}

QWidget* COptionsDlg::tagListGroup()
{
    auto* group = new QGroupBox(QStringLiteral("Statement editor"), this);
    auto* layout = new QGridLayout(group);
    layout->addWidget(
        plainLabel(QStringLiteral("Enter tha name of a tag list filename here if the\nstatement editor is limited to "
                                  "a fixed tag list:"),
                   group),
        0, 0, 1, 2);
    layout->addWidget(m_tagListEdit, 1, 0);
    layout->addWidget(m_tagListBrowse, 1, 1);
    return group;
}

QLayout* COptionsDlg::buttonColumn()
{
    auto* apply = new QPushButton(tr("Apply"), this);
    apply->setObjectName(QStringLiteral("apply1"));
    apply->setDefault(true);
    auto* cancel = new QPushButton(tr("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancel2"));
    connect(apply, &QPushButton::clicked, this, &COptionsDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &COptionsDlg::reject);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(apply);
    buttons->addWidget(cancel);
    buttons->addStretch(1);
    return buttons;
}

void COptionsDlg::UpdateData(bool saveAndValidate)
{
    if (saveAndValidate) {
        m_runnerPath = m_runnerEdit->text();
        m_defaultHost = m_hostCombo->currentText();
        m_defaultInstance = m_instanceEdit->text();
        m_tagListFile = m_tagListEdit->text();
    } else {
        m_runnerEdit->setText(m_runnerPath);
        m_hostCombo->setEditText(m_defaultHost);
        m_instanceEdit->setText(m_defaultInstance);
        m_tagListEdit->setText(m_tagListFile);
    }
}

void COptionsDlg::OnInitDialog()
{
    UpdateData(false);
    m_defaultLogon->setChecked(false);

    CSettingsKey key;
    key.open(CSettingsKey::Read);
    if (auto v = key.read(SettingName::KelmPath))
        m_runnerEdit->setText(*v);
    else
        m_runnerEdit->setPlaceholderText(installedRunnerPath()); // used, but not stored, while the field is empty
    if (auto v = key.read(SettingName::DefHostname))
        m_hostCombo->setEditText(*v);
    if (auto v = key.read(SettingName::DefInstance))
        m_instanceEdit->setText(*v);
    if (auto v = key.read(SettingName::TagList))
        m_tagListEdit->setText(*v);
    if (key.read(SettingName::DefLogon).value_or(QString()) == QLatin1String("on"))
        m_defaultLogon->setChecked(true);
    key.close();

    const CKelmDeskApp* app = CKelmDeskApp::instance();
    if (app && app->m_bEditOnly) {
        for (QWidget* w : {static_cast<QWidget*>(m_runnerEdit), static_cast<QWidget*>(m_runnerBrowse),
                           static_cast<QWidget*>(m_hostCombo), static_cast<QWidget*>(m_instanceEdit),
                           static_cast<QWidget*>(m_defaultLogon)})
            w->setEnabled(false);
    }
}

void COptionsDlg::accept()
{
    CSettingsKey key;
    key.open(CSettingsKey::Write);
    if (!m_runnerEdit->text().isEmpty())
        key.write(SettingName::KelmPath, m_runnerEdit->text());
    if (!m_hostCombo->currentText().isEmpty())
        key.write(SettingName::DefHostname, m_hostCombo->currentText());
    if (!m_instanceEdit->text().isEmpty())
        key.write(SettingName::DefInstance, m_instanceEdit->text());
    key.write(SettingName::DefLogon, m_defaultLogon->isChecked() ? QStringLiteral("on") : QStringLiteral("off"));
    if (!m_tagListEdit->text().isEmpty())
        key.write(SettingName::TagList, m_tagListEdit->text());
    UpdateData(true);
    // Every reader takes its value from the store, so what was not stored is lost: the user is told.
    if (!key.close()) {
        KMessageBox::show(key.notStoredMessage(), KMessageBox::Icon::Stop, QMessageBox::Ok, this);
    }
    QDialog::accept();
}

void COptionsDlg::onBrowseRunner()
{
    const QString path = Modal::getOpenFileName(this, QStringLiteral("Select"), QString::fromLatin1(runnerFileName),
                                                QString::fromLatin1(runnerFilter), Modal::FileKind::Executable);
    if (!path.isEmpty())
        m_runnerEdit->setText(path);
}

void COptionsDlg::onBrowseTagList()
{
    const QString path = Modal::getOpenFileName(this, QStringLiteral("Select"), QStringLiteral("taglist.txt"),
                                                QStringLiteral("Text Files (*.txt)"));
    if (!path.isEmpty())
        m_tagListEdit->setText(path);
}
