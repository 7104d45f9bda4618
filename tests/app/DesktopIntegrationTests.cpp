#include "core/CSettingsKey.h"
#include "app/CKelmDeskApp.h"
#include "app/CMainFrame.h"
#include "app/DesktopRegistration.h"
#include "core/RunnerPath.h"
#include "core/SettingNames.h"
#include "framework/CommandIds.h"
#include "res/Icons.h"
#include "res/Resource.h"

#include "tests/common/ChildProcess.h"
#include "tests/common/QtPrinting.h"
#include "tests/common/TestSupport.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QScopeGuard>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString appId = QLatin1String(DesktopRegistration::AppId);

QString dataHome()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

struct ToolResult
{
    int exitCode = -1;
    QString output;
};

ToolResult runTool(const QString& tool, const QStringList& args, const QProcessEnvironment& env = {})
{
    ToolResult r;
    QProcess p;
    if (!env.isEmpty())
        p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(tool, args);
    if (p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit)
        r.exitCode = p.exitCode();
    r.output = QString::fromLocal8Bit(p.readAll()).trimmed();
    return r;
}

void requireTools(const QStringList& tools)
{
    for (const QString& t : tools)
        ASSERT_FALSE(QStandardPaths::findExecutable(t).isEmpty()) << t.toStdString() << " is missing: scripts/setup";
}

TEST(DesktopRegistration, WritesWhatIsMissingOrOutdatedAndNothingElse)
{
    QDir(dataHome()).removeRecursively();
    // The system's data folders: what is installed there unchanged needs no copy of the user's.
    QTemporaryDir system;
    const QByteArray previousDirs = qgetenv("XDG_DATA_DIRS");
    qputenv("XDG_DATA_DIRS", QFile::encodeName(system.path()));
    auto restore = qScopeGuard([&previousDirs] { qputenv("XDG_DATA_DIRS", previousDirs); });
    QDir().mkpath(system.filePath("mime/packages"));
    QDir().mkpath(system.filePath("icons/hicolor/scalable/apps"));
    QFile::copy(":/kelmdesk/desktop/" + appId + ".xml", system.filePath("mime/packages/" + appId + ".xml"));
    QFile changed(system.filePath("icons/hicolor/scalable/apps/" + appId + ".svg"));
    ASSERT_TRUE(changed.open(QIODevice::WriteOnly));
    changed.write("<svg/>");
    changed.close();

    const QStringList expected = {"applications/" + appId + ".desktop", "icons/hicolor/scalable/apps/" + appId + ".svg",
                                  "icons/hicolor/scalable/apps/" + appId + "-monitor.svg",
                                  "icons/hicolor/scalable/mimetypes/text-x-kelm.svg"};
    // Somebody else's entry in the same folder is no business of ours.
    QDir().mkpath(dataHome() + "/applications");
    QFile other(dataHome() + "/applications/other.desktop");
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write("[Desktop Entry]\nType=Application\nName=Other\nExec=other\n");
    other.close();

    EXPECT_EQ(DesktopRegistration::registerForUser(), expected);
    for (const QString& f : expected)
        EXPECT_GT(QFileInfo(dataHome() + '/' + f).size(), 100) << f.toStdString();
    EXPECT_TRUE(DesktopRegistration::registerForUser().isEmpty()) << "up to date: nothing is written";

    // An outdated copy of the user's hides the system's good one, so it is brought up to date.
    QDir().mkpath(dataHome() + "/mime/packages");
    QFile stale(dataHome() + "/mime/packages/" + appId + ".xml");
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.write("<mime-info/>");
    stale.close();
    QFile::remove(dataHome() + "/icons/hicolor/scalable/mimetypes/text-x-kelm.svg");
    EXPECT_EQ(DesktopRegistration::registerForUser(),
              (QStringList{"mime/packages/" + appId + ".xml", "icons/hicolor/scalable/mimetypes/text-x-kelm.svg"}));
    QFile packaged(":/kelmdesk/desktop/" + appId + ".xml");
    ASSERT_TRUE(packaged.open(QIODevice::ReadOnly) && stale.open(QIODevice::ReadOnly));
    EXPECT_EQ(stale.readAll(), packaged.readAll());

    ASSERT_TRUE(other.open(QIODevice::ReadOnly));
    EXPECT_EQ(other.readAll(), "[Desktop Entry]\nType=Application\nName=Other\nExec=other\n");
}

TEST(DesktopRegistration, ExecNamesTheProgramAsADesktopEntryMust)
{
    EXPECT_EQ(DesktopRegistration::execArgument("/usr/bin/kelmdesk"), "/usr/bin/kelmdesk");
    EXPECT_EQ(DesktopRegistration::execArgument("/opt/my apps/kelmdesk"), "\"/opt/my apps/kelmdesk\"");
    // Quoting escapes $ and \ with a backslash, and the string value then doubles every backslash.
    EXPECT_EQ(DesktopRegistration::execArgument("/opt/a$b\\c/kelmdesk"), "\"/opt/a\\\\$b\\\\\\\\c/kelmdesk\"");
    EXPECT_EQ(DesktopRegistration::execArgument("/opt/100%/kelmdesk"), "/opt/100%%/kelmdesk");

    QByteArray entry;
    for (const auto& f : DesktopRegistration::files("/opt/my apps/kelmdesk")) {
        if (f.relativePath.endsWith(".desktop"))
            entry = f.content;
    }
    EXPECT_TRUE(entry.contains("\nExec=\"/opt/my apps/kelmdesk\" -open %F\n")) << entry.toStdString();
    EXPECT_TRUE(entry.contains("\nMimeType=text/x-kelm;\n"));
}

TEST(DesktopFiles, EntryAndMimeTypeAreValid)
{
    requireTools({"desktop-file-validate", "xmllint"});
    QTemporaryDir dir;
    for (const QString& program : {QStringLiteral("kelmdesk"), QStringLiteral("/opt/my apps/kelm$desk")}) {
        for (const auto& f : DesktopRegistration::files(program)) {
            const QString path = dir.filePath(QFileInfo(f.relativePath).fileName());
            QFile out(path);
            ASSERT_TRUE(out.open(QIODevice::WriteOnly));
            out.write(f.content);
            out.close();
            if (path.endsWith(".desktop")) {
                const ToolResult r = runTool("desktop-file-validate", {path});
                EXPECT_EQ(r.exitCode, 0) << r.output.toStdString();
                EXPECT_TRUE(r.output.isEmpty()) << r.output.toStdString();
            }
        }
    }
    // The shared-mime-info document type, as the system's own database declares it.
    QFile database("/usr/share/mime/packages/freedesktop.org.xml");
    ASSERT_TRUE(database.open(QIODevice::ReadOnly)) << "shared-mime-info is missing: scripts/setup";
    const QByteArray head = database.read(16384);
    const qsizetype from = head.indexOf("<!DOCTYPE mime-info [");
    const qsizetype to = head.indexOf("]>", from);
    ASSERT_TRUE(from >= 0 && to > from);
    QFile dtd(dir.filePath("shared-mime-info.dtd"));
    ASSERT_TRUE(dtd.open(QIODevice::WriteOnly));
    dtd.write(head.mid(from + 21, to - from - 21));
    dtd.close();
    const ToolResult r = runTool("xmllint", {"--noout", "--dtdvalid", dtd.fileName(), dir.filePath(appId + ".xml")});
    EXPECT_EQ(r.exitCode, 0) << r.output.toStdString();
    EXPECT_TRUE(r.output.isEmpty()) << r.output.toStdString();
}

// What a desktop asks after one start of the real program, in a data folder of its own.
TEST(DesktopFiles, OneStartMakesKelmFilesKelmDesksOwn)
{
    requireTools({"xdg-mime", "mimetype", "update-mime-database", "update-desktop-database"});
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_DATA_HOME", home.filePath("data"));
    env.insert("XDG_CONFIG_HOME", home.filePath("config"));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("NORVEX_PORT_BASE", "1");
    // No desktop session: xdg-mime answers from the freedesktop databases themselves.
    for (const char* v : {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "XDG_SESSION_DESKTOP", "KDE_FULL_SESSION",
                          "GNOME_DESKTOP_SESSION_ID", "MATE_DESKTOP_SESSION_ID", "DISPLAY", "WAYLAND_DISPLAY"})
        env.remove(v);

    QProcess kelmdesk;
    kelmdesk.setProcessEnvironment(env);
    endWithTest(kelmdesk);
    kelmdesk.start(KELMDESK_BINARY, {"-editonly"});
    ASSERT_TRUE(kelmdesk.waitForStarted(10000));
    const QString globs = home.filePath("data/mime/globs2");
    const QString cache = home.filePath("data/applications/mimeinfo.cache");
    auto contains = [](const QString& path, const QByteArray& text) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) && f.readAll().contains(text);
    };
    KD_TRY_VERIFY(contains(globs, "text/x-kelm:*.kelm") && contains(cache, "text/x-kelm="), 20000);
    kelmdesk.kill();
    kelmdesk.waitForFinished(5000);

    QFile program(home.filePath("x.kelm"));
    ASSERT_TRUE(program.open(QIODevice::WriteOnly));
    program.write("stop\n");
    program.close();
    ToolResult r = runTool("xdg-mime", {"query", "filetype", program.fileName()}, env);
    EXPECT_EQ(r.output, "text/x-kelm");
    r = runTool("xdg-mime", {"query", "default", "text/x-kelm"}, env);
    EXPECT_EQ(r.output, appId + ".desktop");
}

// Sharp at 1x and 2x: each icon is drawn for the device pixels of the size asked, not scaled up
// from a smaller picture.
TEST(Icons, ToolBarAndWindowIconsRenderAtEveryScale)
{
    const int commands[] = {Cmd::FileNew,   Cmd::FileOpen, Cmd::FileSave,        Cmd::Parse,
                            Cmd::Run,       Cmd::Stop,     Cmd::EditCut,         Cmd::EditCopy,
                            Cmd::EditPaste, Cmd::EditUndo, Cmd::InsertStatement, Cmd::FilePrint};
    QList<std::pair<QString, QIcon>> icons;
    for (int id : commands)
        icons.append({QString::number(id), Icons::command(id)});
    for (int id : {Res::MainFrame, Res::ProgramDoc, Res::MonitorDoc})
        icons.append({QStringLiteral("window %1").arg(id), Icons::window(id)});
    for (const auto& [name, icon] : icons) {
        for (qreal scale : {1.0, 2.0}) {
            const QSize size = name.startsWith("window") ? QSize(16, 16) : QSize(16, 15);
            const QImage image = icon.pixmap(size, scale).toImage();
            EXPECT_GE(image.width(), qRound(15 * scale)) << name.toStdString() << " at " << scale;
            EXPECT_GE(image.height(), qRound(15 * scale)) << name.toStdString() << " at " << scale;
            int opaque = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    opaque += qAlpha(image.pixel(x, y)) >= 128;
            EXPECT_GT(opaque, 10 * scale * scale) << name.toStdString() << " is empty at " << scale;
        }
    }
}

// The start-up shows our icons and takes the desktop theme's once the window is painted; a theme
// without an icon for a command leaves ours, and hicolor (application icons only) is not searched.
TEST(Icons, TheThemesIconsReplaceOursAfterTheStartUp)
{
    QTemporaryDir themes;
    ASSERT_TRUE(themes.isValid());
    const QString theme = themes.path() + QStringLiteral("/probe");
    ASSERT_TRUE(QDir().mkpath(theme + QStringLiteral("/16x16/actions")));
    QFile index(theme + QStringLiteral("/index.theme"));
    ASSERT_TRUE(index.open(QIODevice::WriteOnly));
    index.write("[Icon Theme]\nName=probe\nDirectories=16x16/actions\n\n[16x16/actions]\nSize=16\nType=Fixed\n");
    index.close();
    QImage red(16, 16, QImage::Format_ARGB32);
    red.fill(Qt::red);
    ASSERT_TRUE(red.save(theme + QStringLiteral("/16x16/actions/document-new.png")));
    const QStringList paths = QIcon::themeSearchPaths();
    const QString name = QIcon::themeName();
    auto restore = qScopeGuard([&] {
        QIcon::setThemeSearchPaths(paths);
        QIcon::setThemeName(name);
    });
    QIcon::setThemeSearchPaths({themes.path()});
    QIcon::setThemeName(QStringLiteral("probe"));

    resetSettings();
    CKelmDeskApp app;
    ASSERT_TRUE(app.initInstance({QStringLiteral("kelmdesk"), QStringLiteral("-editonly")}));
    QAction* fileNew = app.mainFrame()->action(Cmd::FileNew);
    const auto centre = [](const QIcon& icon) { return icon.pixmap(16, 16).toImage().pixelColor(8, 8); };
    EXPECT_NE(centre(fileNew->icon()), QColor(Qt::red)) << "ours until the window has been painted";
    KD_TRY_COMPARE(centre(fileNew->icon()), QColor(Qt::red), 5000);
    EXPECT_TRUE(app.mainFrame()->action(Cmd::Parse)->icon().name().isEmpty()) << "no theme name: always ours";
    EXPECT_TRUE(Icons::themeCommand(Cmd::EditCut).isNull()) << "not in the theme";

    QIcon::setThemeName(QStringLiteral("hicolor"));
    EXPECT_TRUE(Icons::themeCommand(Cmd::FileNew).isNull());
}

TEST(RunnerPath, TheInstalledRunnerServesOnlyWhereTheStoreHasNone)
{
    resetSettings();
    QTemporaryDir bin;
    const QString runner = bin.filePath("kelm");
    EXPECT_TRUE(installedRunnerPath(bin.path()).isEmpty());
    EXPECT_FALSE(readRunnerPath(bin.path()).has_value());

    QFile f(runner);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("#!/bin/sh\n");
    f.close();
    EXPECT_TRUE(installedRunnerPath(bin.path()).isEmpty()) << "not executable";
    f.setPermissions(f.permissions() | QFile::ExeOwner);
    EXPECT_EQ(installedRunnerPath(bin.path()), runner);
    EXPECT_EQ(readRunnerPath(bin.path()).value_or(QString()), runner);
    EXPECT_FALSE(readSetting(SettingName::KelmPath).has_value()) << "the default is not written to the store";

    {
        CSettingsKey key;
        key.open(CSettingsKey::Write);
        key.write(SettingName::KelmPath, "/opt/other/kelm");
    }
    EXPECT_EQ(readRunnerPath(bin.path()).value_or(QString()), "/opt/other/kelm");
    resetSettings();
}

} // namespace
