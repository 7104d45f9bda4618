#include "app/CKelmDeskApp.h"
#include "core/CSettingsKey.h"
#include "core/SettingNames.h"

#include "tests/common/QtPrinting.h"
#include "tests/common/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString stored(const char* name)
{
    return readSetting(name).value_or(QStringLiteral("<absent>"));
}

class SwitchesTest : public ::testing::Test
{
protected:
    void SetUp() override { resetSettings(); }
    void parse(const QStringList& tokens)
    {
        CKelmDeskApp app;
        app.parseSwitches(QStringList{QStringLiteral("kelmdesk")} + tokens);
        editOnly = app.m_bEditOnly;
    }
    bool editOnly = false;
};

TEST_F(SwitchesTest, EachSwitchWritesItsValue)
{
    parse({"-host", "127.0.0.9", "-instance", "3", "-kelm", "/opt/k/kelm", "-taglist", "/t/tags.txt", "-path", "/src"});
    EXPECT_EQ(stored(SettingName::DefHostname), "127.0.0.9");
    EXPECT_EQ(stored(SettingName::DefInstance), "3");
    EXPECT_EQ(stored(SettingName::KelmPath), "/opt/k/kelm");
    EXPECT_EQ(stored(SettingName::TagList), "/t/tags.txt");
    EXPECT_EQ(stored(SettingName::KelmSource), "/src");
    EXPECT_EQ(stored(SettingName::DefLogon), "on");
    EXPECT_FALSE(editOnly);
}

TEST_F(SwitchesTest, ValueSwitchConsumesTheNextTokenWhateverItIs)
{
    parse({"-host", "-editonly"});
    EXPECT_EQ(stored(SettingName::DefHostname), "-editonly");
    EXPECT_EQ(stored(SettingName::DefLogon), "on");
    EXPECT_FALSE(editOnly);
}

TEST_F(SwitchesTest, ValueSwitchAsLastTokenWritesNothing)
{
    parse({"-editonly", "-host"});
    EXPECT_TRUE(editOnly);
    EXPECT_EQ(stored(SettingName::DefHostname), "<absent>");
    EXPECT_EQ(stored(SettingName::DefLogon), "<absent>");
}

TEST_F(SwitchesTest, EmptyValueStoresNothingAndSetsNothing)
{
    parse({"-host", "", "-instance", "", "-kelm", "", "-taglist", ""});
    QSettings raw(CSettingsKey::storePath(), QSettings::IniFormat);
    EXPECT_TRUE(raw.allKeys().isEmpty()) << raw.allKeys().join(',').toStdString();

    // The empty token is still the value: the token after it is a switch of its own.
    parse({"-host", "", "-editonly"});
    EXPECT_TRUE(editOnly);
    parse({"-host", "kern", "-host", ""});
    EXPECT_EQ(stored(SettingName::DefHostname), "kern");
}

TEST_F(SwitchesTest, SwitchesAreCaseSensitiveAndOtherTokensSkipped)
{
    parse({"-HOST", "x", "program.kelm", "-Editonly"});
    EXPECT_EQ(stored(SettingName::DefHostname), "<absent>");
    EXPECT_FALSE(editOnly);
    QSettings raw(CSettingsKey::storePath(), QSettings::IniFormat);
    EXPECT_TRUE(raw.allKeys().isEmpty()) << raw.allKeys().join(',').toStdString();
}

TEST_F(SwitchesTest, ValuesWithBlanksAndQuotesAreKeptWhole)
{
    parse({"-kelm", "/opt/my tools/\"kelm\""});
    EXPECT_EQ(stored(SettingName::KelmPath), "/opt/my tools/\"kelm\"");
}

TEST(SettingsKey, ReadsAbsentOverTheLimitAndWhenNotOpen)
{
    resetSettings();
    {
        CSettingsKey key;
        ASSERT_TRUE(key.open(CSettingsKey::Write));
        EXPECT_TRUE(key.write(SettingName::KelmPath, QString(1023, QLatin1Char('a'))));
        EXPECT_TRUE(key.write(SettingName::TagList, QString(1024, QLatin1Char('b'))));
    }
    CSettingsKey key;
    EXPECT_FALSE(key.read(SettingName::KelmPath).has_value()) << "not open yet";
    ASSERT_TRUE(key.open(CSettingsKey::Read));
    EXPECT_EQ(key.read(SettingName::KelmPath).value_or(QString()).size(), 1023);
    EXPECT_FALSE(key.read(SettingName::TagList).has_value());
    EXPECT_FALSE(key.write(SettingName::Hostname, QStringLiteral("x"))) << "opened for reading only";
}

TEST(SettingsKey, ValuesLiveInTheSettingsSectionOfTheVantrelStore)
{
    resetSettings();
    {
        CSettingsKey key;
        key.open(CSettingsKey::Write);
        key.write(SettingName::Hostname, QStringLiteral("kernelhost"));
    }
    EXPECT_TRUE(CSettingsKey::storePath().endsWith(QStringLiteral("Vantrel/kelmdesk.conf")));
    QFile f(CSettingsKey::storePath());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << "written on close";
    const QByteArray text = f.readAll();
    EXPECT_TRUE(text.contains("[settings]"));
    EXPECT_TRUE(text.contains("hostname=kernelhost"));
}

TEST(SettingsKey, AStoreThatCannotBeOpenedFailsSilently)
{
    resetSettings();
    // A directory where the store's file should be: neither root nor anyone can read it as a file.
    ASSERT_TRUE(QDir().mkpath(CSettingsKey::storePath()));
    CSettingsKey key;
    EXPECT_FALSE(key.open(CSettingsKey::Write));
    EXPECT_FALSE(key.write(SettingName::Hostname, QStringLiteral("x")));
    EXPECT_FALSE(key.read(SettingName::Hostname).has_value());
    {
        CKelmDeskApp app;
        app.parseSwitches(
            {QStringLiteral("kelmdesk"), QStringLiteral("-editonly"), QStringLiteral("-host"), QStringLiteral("h")});
        EXPECT_TRUE(app.m_bEditOnly) << "-editonly still takes effect";
    }
    resetSettings();
}

// The real program, started as a user would, with its store under an empty XDG_CONFIG_HOME.
TEST(KelmdeskProcess, SwitchesLeaveExactlyTheirValuesInTheStore)
{
    QTemporaryDir home;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("NORVEX_PORT_BASE"), QStringLiteral("1")); // no kernel there
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(KELMDESK_BINARY), {"-host", "127.0.0.9", "-instance", "3", "-kelm", "/opt/k/kelm",
                                              "-taglist", "/t/tags.txt", "-path", "/src"});
    ASSERT_TRUE(p.waitForStarted(10000));
    const QString conf = home.path() + QStringLiteral("/Vantrel/kelmdesk.conf");
    auto stored = [&conf] {
        QFile f(conf);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    KD_TRY_VERIFY(stored().contains("taglist"), 10000);
    p.kill();
    p.waitForFinished(5000);
    QSettings s(conf, QSettings::IniFormat);
    s.beginGroup(QStringLiteral("settings"));
    QStringList keys = s.childKeys();
    keys.sort();
    EXPECT_EQ(keys, (QStringList{"def_hostname", "def_instance", "def_logon", "kelmpath", "kelmsource", "taglist"}));
    EXPECT_EQ(s.value("def_hostname").toString(), "127.0.0.9");
    EXPECT_EQ(s.value("def_instance").toString(), "3");
    EXPECT_EQ(s.value("def_logon").toString(), "on");
    EXPECT_EQ(s.value("kelmpath").toString(), "/opt/k/kelm");
    EXPECT_EQ(s.value("taglist").toString(), "/t/tags.txt");
    EXPECT_EQ(s.value("kelmsource").toString(), "/src");
}

} // namespace
