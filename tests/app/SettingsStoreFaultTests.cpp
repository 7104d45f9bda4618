#include "app/CKelmDeskApp.h"
#include "app/SingleInstance.h"
#include "core/CSettingsKey.h"
#include "core/SettingNames.h"
#include "framework/RecentFileList.h"

#include "tests/common/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <unistd.h>

namespace {

const char* const allNames[] = {SettingName::KelmPath, SettingName::KelmSource,  SettingName::Hostname,
                                SettingName::Instance, SettingName::DefHostname, SettingName::DefInstance,
                                SettingName::DefLogon, SettingName::TagList};

void putStore(const QByteArray& bytes)
{
    resetSettings();
    const QString path = CSettingsKey::storePath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QByteArray storeBytes()
{
    QFile f(CSettingsKey::storePath());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

// Stores that are not what the program wrote: some a settings parser takes as odd keys, some it
// reports as malformed.
std::vector<std::pair<const char*, QByteArray>> garbageStores()
{
    std::vector<std::pair<const char*, QByteArray>> stores = {
        {"nul-and-high-bytes",
         QByteArray("[settings]\nkelmpath=/x\n") + QByteArray("\0\x01\xff\xfe [[[ ===\n", 13) + "[unterminated\n=v\n"},
        {"unterminated-quote", "[settings]\nhostname=\"abc\ndef_logon=on\n"},
        {"value-too-long", "[settings]\ntaglist=" + QByteArray(5000, 'a') + "\ndef_hostname=h\n"},
        {"invalid-utf8", "[settings]\nkelmpath=\xc3\x28\xa0\xa1/kelm\n"},
        {"list-and-escapes", "[settings]\ndef_hostname=a, b, \"c\"\ninstance=@Variant(\\0\\0\\0\\x7f)\n"},
        {"only-garbage", QByteArray(3000, '\xff')},
    };
    QRandomGenerator random(12);
    for (const char* name : {"random-1", "random-2", "random-3"}) {
        QByteArray bytes(4096, Qt::Uninitialized);
        random.fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
        stores.push_back({name, bytes});
    }
    return stores;
}

TEST(SettingsStoreFaults, GarbageIsReadSafelyAndNeverOverwrittenUnparsed)
{
    int parsed = 0;
    int refused = 0;
    for (const auto& [name, bytes] : garbageStores()) {
        SCOPED_TRACE(name);
        putStore(bytes);
        CSettingsKey reader;
        const bool readable = reader.open(CSettingsKey::Read);
        for (const char* value : allNames) {
            const std::optional<QString> text = reader.read(value);
            EXPECT_TRUE(!text || text->size() <= CSettingsKey::MaxValueLength);
            EXPECT_TRUE(readable || !text) << value;
        }
        reader.close();

        // The recent-file list and a switch both try to write.
        CKelmDeskApp app;
        RecentFileList::instance().reload();
        RecentFileList::instance().add(QStringLiteral("/tmp/p.kelm"));
        app.parseSwitches({QStringLiteral("kelmdesk"), QStringLiteral("-host"), QStringLiteral("h7")});

        CSettingsKey writer;
        if (writer.open(CSettingsKey::Write)) {
            ++parsed;
            // Parsed as settings: the store works, with this garbage as odd keys.
            EXPECT_EQ(readSetting(SettingName::DefHostname).value_or(QString()), QStringLiteral("h7"));
        } else {
            ++refused;
            EXPECT_FALSE(writer.errorText().isEmpty());
            EXPECT_EQ(storeBytes(), bytes) << "a store that does not parse is left byte for byte";
            EXPECT_FALSE(readSetting(SettingName::DefHostname).has_value());
        }
    }
    // The corpus holds both kinds.
    EXPECT_GT(parsed, 0);
    EXPECT_GT(refused, 0);
    RecentFileList::instance().reload();
    resetSettings();
}

// The real program on a broken store: it starts with the defaults, says on its standard error that
// the switch's value cannot be stored, keeps running, and leaves the store as it was.
class BrokenStoreStart : public ::testing::Test
{
protected:
    QString conf() const { return m_home.path() + QStringLiteral("/Vantrel/kelmdesk.conf"); }

    void runOn(const QStringList& wrapper, const char* reason)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.path());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("NORVEX_PORT_BASE"), QStringLiteral("1")); // no kernel there
        p.setProcessEnvironment(env);
        const QStringList args{QStringLiteral("-host"), QStringLiteral("127.0.0.9")};
        if (wrapper.isEmpty())
            p.start(QStringLiteral(KELMDESK_BINARY), args);
        else
            p.start(wrapper.first(), wrapper.mid(1) + QStringList{QStringLiteral(KELMDESK_BINARY)} + args);
        ASSERT_TRUE(p.waitForStarted(scaledMs(10000)));
        QByteArray err;
        const QByteArray expected =
            "kelmdesk: the settings cannot be stored in " + QFile::encodeName(conf()) + ": " + reason;
        bool answered = false;
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                err += p.readAllStandardError();
                answered = answered || answersOnItsSocket();
                return (answered && err.contains(expected)) || p.state() != QProcess::Running;
            },
            scaledMs(30000)));
        EXPECT_TRUE(err.contains(expected)) << err.toStdString();
        // Past start-up, with its window up, it keeps running: its event loop answers a request.
        EXPECT_TRUE(answered);
        EXPECT_EQ(p.state(), QProcess::Running) << "exit code " << p.exitCode() << ": " << err.toStdString();
        p.kill();
        p.waitForFinished(5000);
    }

    // A request that opens nothing, on the single-instance socket of the program in m_runtime.
    bool answersOnItsSocket() const
    {
        QLocalSocket socket;
        socket.connectToServer(m_runtime.path() + QStringLiteral("/kelmdesk.socket"));
        if (!socket.waitForConnected(scaledMs(1000)))
            return false;
        socket.write(SingleInstance::encodeRequest({}));
        QByteArray reply;
        while (!reply.contains('\n') && socket.waitForReadyRead(scaledMs(5000)))
            reply += socket.readAll();
        return reply == "OK\n";
    }

    void SetUp() override
    {
        ASSERT_TRUE(QDir().mkpath(m_home.path() + QStringLiteral("/Vantrel")));
        QFile::setPermissions(m_runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    QTemporaryDir m_home;
    QTemporaryDir m_runtime;
};

TEST_F(BrokenStoreStart, GarbageStore)
{
    const QByteArray garbage = garbageStores().front().second;
    QFile f(conf());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(garbage);
    f.close();
    runOn({}, "It is not a settings file.");
    QFile g(conf());
    ASSERT_TRUE(g.open(QIODevice::ReadOnly));
    EXPECT_EQ(g.readAll(), garbage);
}

TEST_F(BrokenStoreStart, FolderInPlaceOfTheStore)
{
    ASSERT_TRUE(QDir().mkpath(conf()));
    runOn({}, "Is a directory");
    EXPECT_TRUE(QFileInfo(conf()).isDir());
}

TEST_F(BrokenStoreStart, UnreadableStore)
{
    const QByteArray stored = "[settings]\ndef_hostname=kept\n";
    QFile f(conf());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(stored);
    f.close();
    ASSERT_TRUE(QFile::setPermissions(conf(), QFile::Permissions()));
    QStringList wrapper;
    if (::geteuid() == 0) {
        // The superuser reads any file; without the two capabilities that allow it, mode 000 holds.
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        if (setpriv.isEmpty())
            GTEST_SKIP() << "running as root and setpriv (util-linux) is missing to drop the file-access capabilities";
        wrapper = {setpriv, QStringLiteral("--bounding-set"), QStringLiteral("-dac_override,-dac_read_search"),
                   QStringLiteral("--inh-caps"), QStringLiteral("-dac_override,-dac_read_search")};
    }
    runOn(wrapper, "Permission denied");
    QFile::setPermissions(conf(), QFile::ReadOwner | QFile::WriteOwner);
    QFile g(conf());
    ASSERT_TRUE(g.open(QIODevice::ReadOnly));
    EXPECT_EQ(g.readAll(), stored);
}

} // namespace
