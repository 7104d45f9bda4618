#include "editor/CTagAssist.h"

#include "core/AppCore.h"
#include "core/CSettingsKey.h"
#include "core/SettingNames.h"
#include "kernel/KernelConnection.h"
#include "model/TagListFile.h"
#include "tags/KernelTagSource.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace {
std::unique_ptr<CTagAssist>& holder()
{
    static std::unique_ptr<CTagAssist> one;
    return one;
}
} // namespace

CTagAssist& CTagAssist::instance()
{
    if (!holder())
        installSource(std::make_unique<KernelTagSource>());
    return *holder();
}

void CTagAssist::installSource(std::unique_ptr<TagSource> source)
{
    if (!holder()) {
        // Gone with the application object: its timer and the source's thread end before Qt does.
        qAddPostRoutine([] { holder().reset(); });
    }
    holder().reset(new CTagAssist(std::move(source)));
}

CTagAssist::CTagAssist(std::unique_ptr<TagSource> source)
    : m_source(std::move(source)), m_knowledge(std::make_unique<TagKnowledge>(*m_source))
{
    m_knowledge->setChanged([this] { Q_EMIT knowledgeChanged(); });
    m_sync.setInterval(SyncMs);
    connect(&m_sync, &QTimer::timeout, this, &CTagAssist::sync);
    m_sync.start();
    sync();
}

void CTagAssist::sync()
{
    const AppCore* app = AppCore::instance();
    const bool editOnly = !app || app->m_bEditOnly;
    const QString kernel = editOnly ? QString() : KernelName();
    const int handle = editOnly ? 0 : GetKernelHandle();
    const int model = KernelModelGeneration();
    if (kernel != m_knowledge->kernel()) {
        m_handle = handle;
        m_model = model;
        m_knowledge->setKernel(kernel); // reports the change
    } else if (handle != m_handle || model != m_model) {
        m_handle = handle;
        m_model = model;
        m_knowledge->invalidate(); // logged on again, or a model loaded or unloaded
    }
}

void CTagAssist::refreshTagList()
{
    CSettingsKey key;
    const QString path = key.read(SettingName::TagList).value_or(QString());
    const QDateTime stamp = path.isEmpty() ? QDateTime() : QFileInfo(path).lastModified();
    if (path == m_tagListPath && stamp == m_tagListStamp)
        return;
    m_tagListPath = path;
    m_tagListStamp = stamp;
    std::vector<TagListName> names;
    if (!path.isEmpty()) {
        for (const TagListRow& row : readTagListFile(path).value_or(std::vector<TagListRow>()))
            names.push_back({row.tag, row.kernelTag, row.description});
    }
    m_knowledge->setTagList(std::move(names));
}
