#include "app/CKelmDeskApp.h"
#include "app/COptionsDlg.h"
#include "core/CSettingsKey.h"
#include "core/SettingNames.h"
#include "framework/MessageBox.h"
#include "framework/Modal.h"

#include "tests/common/QtPrinting.h"
#include "tests/common/TestSupport.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {

QString stored(const char* name)
{
    return readSetting(name).value_or(QStringLiteral("<absent>"));
}

void store(const char* name, const QString& value)
{
    CSettingsKey key;
    key.open(CSettingsKey::Write);
    key.write(name, value);
}

class OptionsDlgTest : public ::testing::Test
{
protected:
    void SetUp() override { resetSettings(); }
    void TearDown() override { Modal::setFileHook({}); }
    template <class T> T* child(COptionsDlg& dlg, const char* name)
    {
        T* w = dlg.findChild<T*>(QLatin1String(name));
        EXPECT_TRUE(w) << name;
        return w;
    }
    void click(COptionsDlg& dlg, const char* name) { QTest::mouseClick(child<QPushButton>(dlg, name), Qt::LeftButton); }
};

TEST_F(OptionsDlgTest, ApplyOnAnEmptyStoreWritesTheDefaultLogin)
{
    COptionsDlg dlg;
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("KelmDesk Options"));
    EXPECT_EQ(child<QComboBox>(dlg, "defaultHost")->currentText(), QStringLiteral("localhost"));
    EXPECT_EQ(child<QLineEdit>(dlg, "defaultInstance")->text(), QStringLiteral("0"));
    EXPECT_FALSE(child<QCheckBox>(dlg, "defaultLogon")->isChecked());
    click(dlg, "apply1");
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(stored(SettingName::DefHostname), "localhost");
    EXPECT_EQ(stored(SettingName::DefInstance), "0");
    EXPECT_EQ(stored(SettingName::DefLogon), "off");
    EXPECT_EQ(stored(SettingName::KelmPath), "<absent>");
    EXPECT_EQ(stored(SettingName::TagList), "<absent>");
}

TEST_F(OptionsDlgTest, OpensWithStoredValuesAndClearingAFieldRemovesNothing)
{
    store(SettingName::KelmPath, QStringLiteral("/opt/k/kelm"));
    store(SettingName::DefHostname, QStringLiteral("sim7"));
    store(SettingName::DefInstance, QStringLiteral("abc"));
    store(SettingName::DefLogon, QStringLiteral("on"));
    store(SettingName::TagList, QStringLiteral("/t/tags.txt"));
    COptionsDlg dlg;
    EXPECT_EQ(child<QLineEdit>(dlg, "runnerPath")->text(), QStringLiteral("/opt/k/kelm"));
    EXPECT_EQ(child<QComboBox>(dlg, "defaultHost")->currentText(), QStringLiteral("sim7"));
    EXPECT_EQ(child<QLineEdit>(dlg, "defaultInstance")->text(), QStringLiteral("abc"));
    EXPECT_TRUE(child<QCheckBox>(dlg, "defaultLogon")->isChecked());
    EXPECT_EQ(child<QLineEdit>(dlg, "tagListFile")->text(), QStringLiteral("/t/tags.txt"));

    child<QLineEdit>(dlg, "runnerPath")->clear();
    child<QLineEdit>(dlg, "tagListFile")->clear();
    child<QCheckBox>(dlg, "defaultLogon")->click();
    click(dlg, "apply1");
    EXPECT_EQ(stored(SettingName::KelmPath), "/opt/k/kelm");
    EXPECT_EQ(stored(SettingName::TagList), "/t/tags.txt");
    EXPECT_EQ(stored(SettingName::DefInstance), "abc") << "no input is validated";
    EXPECT_EQ(stored(SettingName::DefLogon), "off");
}

TEST_F(OptionsDlgTest, OnlyExactOnChecksTheBox)
{
    for (const char* value : {"On", "on ", "yes"}) {
        store(SettingName::DefLogon, QString::fromLatin1(value));
        COptionsDlg dlg;
        EXPECT_FALSE(child<QCheckBox>(dlg, "defaultLogon")->isChecked()) << value;
        click(dlg, "apply1");
        EXPECT_EQ(stored(SettingName::DefLogon), "off");
    }
}

TEST_F(OptionsDlgTest, BrowseFillsTheFieldAndCancelStoresNothing)
{
    QStringList titles, filters, proposals;
    Modal::setFileHook([&](const QString& title, const QString& filter, const QString& proposed) {
        titles << title;
        filters << filter;
        proposals << proposed;
        return QStringLiteral("/chosen/file");
    });
    COptionsDlg dlg;
    click(dlg, "browseRunner");
    click(dlg, "browseTagListFile");
    EXPECT_EQ(child<QLineEdit>(dlg, "runnerPath")->text(), QStringLiteral("/chosen/file"));
    EXPECT_EQ(child<QLineEdit>(dlg, "tagListFile")->text(), QStringLiteral("/chosen/file"));
    EXPECT_EQ(titles, (QStringList{"Select", "Select"}));
    EXPECT_EQ(filters.value(1), QStringLiteral("Text Files (*.txt)"));
    EXPECT_EQ(proposals.value(1), QStringLiteral("taglist.txt"));
    click(dlg, "cancel2");
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
    EXPECT_EQ(stored(SettingName::KelmPath), "<absent>");
    EXPECT_EQ(stored(SettingName::DefLogon), "<absent>");

    Modal::setFileHook([](const QString&, const QString&, const QString&) { return QString(); });
    COptionsDlg again;
    child<QLineEdit>(again, "tagListFile")->setText(QStringLiteral("/kept"));
    click(again, "browseTagListFile");
    EXPECT_EQ(child<QLineEdit>(again, "tagListFile")->text(), QStringLiteral("/kept")) << "cancelled browse";
}

TEST_F(OptionsDlgTest, EditOnlyModeDisablesAllButTheTagList)
{
    CKelmDeskApp app;
    app.m_bEditOnly = true;
    COptionsDlg dlg;
    for (const char* name : {"runnerPath", "browseRunner", "defaultHost", "defaultInstance", "defaultLogon"})
        EXPECT_FALSE(dlg.findChild<QWidget*>(QLatin1String(name))->isEnabled()) << name;
    EXPECT_TRUE(dlg.findChild<QWidget*>(QStringLiteral("tagListFile"))->isEnabled());
    EXPECT_TRUE(dlg.findChild<QWidget*>(QStringLiteral("browseTagListFile"))->isEnabled());
    click(dlg, "apply1");
    EXPECT_EQ(stored(SettingName::DefHostname), "localhost") << "disabled fields are stored as shown";
}

} // namespace

namespace {

TEST_F(OptionsDlgTest, RunnerBrowseListsExecutablesUnderTheRunnerName)
{
    QString filter, proposed;
    Modal::setFileHook([&](const QString&, const QString& f, const QString& p) {
        filter = f;
        proposed = p;
        return QString();
    });
    COptionsDlg dlg;
    click(dlg, "browseRunner");
#ifdef Q_OS_WIN
    EXPECT_EQ(filter, QStringLiteral("Executable Files (*.exe)"));
    EXPECT_EQ(proposed, QStringLiteral("kelm.exe"));
#else
    EXPECT_EQ(filter, QStringLiteral("Executable Files (*)"));
    EXPECT_EQ(proposed, QStringLiteral("kelm"));
#endif
    EXPECT_TRUE(child<QLineEdit>(dlg, "runnerPath")->text().isEmpty());
}

TEST_F(OptionsDlgTest, AStoreThatCannotBeOpenedShowsDefaultsAndApplyStillCloses)
{
    ASSERT_TRUE(QDir().mkpath(CSettingsKey::storePath()));
    std::vector<QString> boxes;
    const KMessageBox::Hook previous = KMessageBox::setHook([&boxes](const KMessageBox::Request& r) {
        boxes.push_back(r.text);
        return QMessageBox::Ok;
    });
    COptionsDlg dlg;
    EXPECT_EQ(child<QComboBox>(dlg, "defaultHost")->currentText(), QStringLiteral("localhost"));
    child<QLineEdit>(dlg, "runnerPath")->setText(QStringLiteral("/opt/k/kelm"));
    click(dlg, "apply1");
    KMessageBox::setHook(previous);
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_TRUE(QFileInfo(CSettingsKey::storePath()).isDir()) << "nothing was written";
    // What was typed is lost, so the user hears why.
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], QStringLiteral("The settings cannot be stored in ") + CSettingsKey::storePath() +
                            QStringLiteral(".\nIs a directory"));
    QDir(CSettingsKey::storePath()).removeRecursively();
}

} // namespace
