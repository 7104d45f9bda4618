#include "tests/common/TestSupport.h"

#include "core/CSettingsKey.h"
#include "framework/CMDIFrame.h"

#include <QAction>
#include <QDir>
#include <QFile>

void resetSettings()
{
    const QString path = CSettingsKey::storePath();
    QFile::remove(path);
    QDir(path).removeRecursively();
}

::testing::AssertionResult triggerAction(int id)
{
    CMDIFrame* frame = CMDIFrame::instance();
    if (!frame)
        return ::testing::AssertionFailure() << "no main frame for command " << id;
    frame->updateCommands();
    QAction* action = frame->action(id);
    if (!action)
        return ::testing::AssertionFailure() << "command " << id << " has no action";
    if (!action->isEnabled())
        return ::testing::AssertionFailure() << "command " << id << " is disabled";
    action->trigger();
    return ::testing::AssertionSuccess();
}

bool actionEnabled(int id)
{
    CMDIFrame* frame = CMDIFrame::instance();
    if (!frame)
        return false;
    frame->updateCommands();
    QAction* action = frame->action(id);
    return action && action->isEnabled();
}

QString writeFileIn(const QString& folder, const QString& name, const QByteArray& bytes)
{
    const QString path = folder + QLatin1Char('/') + name;
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    EXPECT_EQ(f.write(bytes), bytes.size()) << path.toStdString();
    return path;
}
