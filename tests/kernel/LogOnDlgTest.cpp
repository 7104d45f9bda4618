#include "tests/kernel/AppFixture.h"

#include "core/SettingNames.h"
#include "framework/MessageBox.h"
#include "framework/Modal.h"
#include "kernel/CLogOnDlg.h"
#include "kernel/KernelConnection.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTest>

#include <functional>

namespace {

class LogOnDlgTest : public AppFixture
{
protected:
    void SetUp() override
    {
        AppFixture::SetUp();
        m_oldHook = Modal::setDialogHook([this](QDialog& d) {
            ++dialogs;
            host = d.findChild<QComboBox*>("hostname");
            instance = d.findChild<QLineEdit*>("instance");
            ok = d.findChild<QPushButton*>("ok1");
            cancel = d.findChild<QPushButton*>("cancel2");
            ASSERT_TRUE(host && instance && ok && cancel);
            if (drive)
                drive(d);
        });
    }
    void TearDown() override
    {
        Modal::setDialogHook(std::move(m_oldHook));
        AppFixture::TearDown();
    }

    static void store(const char* name, const QString& text)
    {
        CSettingsKey key;
        ASSERT_TRUE(key.open(CSettingsKey::Write));
        key.write(name, text);
    }
    static std::optional<QString> stored(const char* name) { return readSetting(name); }

    void retype(const QString& text, QWidget* edit)
    {
        QLineEdit* line = qobject_cast<QLineEdit*>(edit);
        if (!line)
            line = qobject_cast<QComboBox*>(edit)->lineEdit();
        line->selectAll();
        QTest::keyClick(line, Qt::Key_Delete);
        QTest::keyClicks(line, text);
    }

    std::function<void(QDialog&)> drive;
    int dialogs = 0;
    QComboBox* host = nullptr;
    QLineEdit* instance = nullptr;
    QPushButton* ok = nullptr;
    QPushButton* cancel = nullptr;

private:
    Modal::DialogHook m_oldHook;
};

} // namespace

TEST_F(LogOnDlgTest, StartsWithLocalhostAndZeroAndStoresThemOnOk)
{
    drive = [this](QDialog& d) {
        EXPECT_EQ(d.windowTitle(), "Log on to kernel...");
        QStringList labels;
        for (QLabel* l : d.findChildren<QLabel*>())
            labels << l->text();
        EXPECT_TRUE(labels.contains("Hostname:"));
        EXPECT_TRUE(labels.contains("Instance:"));
        EXPECT_TRUE(host->isEditable());
        EXPECT_EQ(host->count(), 0);
        EXPECT_EQ(host->currentText(), "localhost");
        EXPECT_EQ(instance->text(), "0");
        EXPECT_EQ(ok->text(), "OK");
        EXPECT_EQ(cancel->text(), "Cancel");
        QTest::mouseClick(ok, Qt::LeftButton);
    };
    CLogOnDlg dlg;
    EXPECT_EQ(Modal::run(dlg), QDialog::Accepted);
    EXPECT_EQ(dlg.hostname, "localhost");
    EXPECT_EQ(dlg.instance, "0");
    EXPECT_EQ(stored(SettingName::Hostname), "localhost");
    EXPECT_EQ(stored(SettingName::Instance), "0");
    EXPECT_FALSE(stored(SettingName::DefHostname));
}

TEST_F(LogOnDlgTest, StartsWithTheLastTextsAndKeepsWhatIsTyped)
{
    store(SettingName::Hostname, "kernelhost");
    store(SettingName::Instance, "3");
    drive = [this](QDialog&) {
        EXPECT_EQ(host->currentText(), "kernelhost");
        EXPECT_EQ(instance->text(), "3");
        retype("simhost", host);
        retype("12abc", instance);
        QTest::keyClick(host->lineEdit(), Qt::Key_Return);
    };
    CLogOnDlg dlg;
    EXPECT_EQ(Modal::run(dlg), QDialog::Accepted);
    EXPECT_EQ(dlg.hostname, "simhost");
    EXPECT_EQ(dlg.instance, "12abc");
    EXPECT_EQ(host->count(), 0); // Return accepted the dialog without adding to the list
    EXPECT_EQ(stored(SettingName::Hostname), "simhost");
    EXPECT_EQ(stored(SettingName::Instance), "12abc");
}

TEST_F(LogOnDlgTest, AStoreThatCannotBeWrittenIsReportedAndTheLogOnGoesAhead)
{
    ASSERT_TRUE(QDir().mkpath(CSettingsKey::storePath()));
    std::vector<QString> boxes;
    const KMessageBox::Hook previous = KMessageBox::setHook([&boxes](const KMessageBox::Request& r) {
        boxes.push_back(r.text);
        return QMessageBox::Ok;
    });
    drive = [this](QDialog&) {
        retype("simhost", host);
        QTest::mouseClick(ok, Qt::LeftButton);
    };
    CLogOnDlg dlg;
    const int result = Modal::run(dlg);
    KMessageBox::setHook(previous);
    QDir(CSettingsKey::storePath()).removeRecursively();
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(dlg.hostname, "simhost");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], QStringLiteral("The settings cannot be stored in ") + CSettingsKey::storePath() +
                            QStringLiteral(".\nIs a directory"));
}

TEST_F(LogOnDlgTest, EmptyTextsLeaveTheStoredValues)
{
    store(SettingName::Hostname, "old");
    store(SettingName::Instance, "4");
    drive = [this](QDialog&) {
        retype("", host);
        retype("", instance);
        QTest::mouseClick(ok, Qt::LeftButton);
    };
    CLogOnDlg dlg;
    EXPECT_EQ(Modal::run(dlg), QDialog::Accepted);
    EXPECT_EQ(dlg.hostname, "");
    EXPECT_EQ(dlg.instance, "");
    EXPECT_EQ(stored(SettingName::Hostname), "old");
    EXPECT_EQ(stored(SettingName::Instance), "4");
}

TEST_F(LogOnDlgTest, CancelAndEscapeStoreNothing)
{
    drive = [this](QDialog&) {
        retype("elsewhere", host);
        QTest::mouseClick(cancel, Qt::LeftButton);
    };
    CLogOnDlg first;
    EXPECT_EQ(Modal::run(first), QDialog::Rejected);
    drive = [this](QDialog&) {
        retype("elsewhere", host);
        QTest::keyClick(instance, Qt::Key_Escape);
    };
    CLogOnDlg second;
    EXPECT_EQ(Modal::run(second), QDialog::Rejected);
    EXPECT_EQ(dialogs, 2);
    EXPECT_FALSE(stored(SettingName::Hostname));
    EXPECT_FALSE(stored(SettingName::Instance));
}

TEST_F(LogOnDlgTest, TextsAreLimitedToNinetyNineCharacters)
{
    store(SettingName::Hostname, QString(150, QLatin1Char('a')));
    drive = [this](QDialog&) {
        EXPECT_EQ(host->currentText(), QString(99, QLatin1Char('a')));
        retype(QString(120, QLatin1Char('7')), instance);
        EXPECT_EQ(instance->text().size(), 99);
        QTest::mouseClick(ok, Qt::LeftButton);
    };
    CLogOnDlg dlg;
    EXPECT_EQ(Modal::run(dlg), QDialog::Accepted);
    EXPECT_EQ(dlg.hostname.size(), 99);
    EXPECT_EQ(stored(SettingName::Instance), QString(99, QLatin1Char('7')));
}

TEST_F(LogOnDlgTest, TheLogOnCommandRunsTheDialogAndStaysSilentWhenNoKernelAnswers)
{
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 port = probe.serverPort();
    probe.close();
    qputenv("NORVEX_PORT_BASE", QByteArray::number(port));
    drive = [this](QDialog&) {
        retype("127.0.0.1", host);
        retype("0", instance);
        QTest::mouseClick(ok, Qt::LeftButton);
    };
    onLogOn();
    EXPECT_EQ(dialogs, 1);
    EXPECT_EQ(app->kernelHandle, 0);
    EXPECT_EQ(messageBoxes, 0);
    EXPECT_EQ(stored(SettingName::Hostname), "127.0.0.1");
    qunsetenv("NORVEX_PORT_BASE");
}
