#pragma once

#include "tags/TagKnowledge.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>

#include <memory>

// The program editor's one TagKnowledge, kept on the kernel KelmDesk is logged on to: a log-on to
// another kernel, or again to the same one, and a model loaded or unloaded (as the kernel's status
// shows it) drop what is known and re-check the programs' tags. The tag-list file of the "taglist" setting adds its
// names.
class CTagAssist : public QObject
{
    Q_OBJECT
public:
    // The process-wide one, made on first use; it asks the kernel through a KernelTagSource unless
    // a source was installed before.
    static CTagAssist& instance();
    // Tests: answers come from source from now on (what was known is dropped).
    static void installSource(std::unique_ptr<TagSource> source);

    TagKnowledge& knowledge() { return *m_knowledge; }
    // Brings the kernel up to date; cheap when nothing changed.
    void sync();
    // Reads the tag-list file of the "taglist" setting again when the setting or the file changed.
    void refreshTagList();

    static constexpr int SyncMs = 500;

Q_SIGNALS:
    // What is known changed: check the tags again, refresh an open completion list.
    void knowledgeChanged();

private:
    explicit CTagAssist(std::unique_ptr<TagSource> source);

    std::unique_ptr<TagSource> m_source;
    std::unique_ptr<TagKnowledge> m_knowledge;
    QTimer m_sync;
    int m_handle = 0;
    int m_model = 0; // KernelModelGeneration() as last seen
    QString m_tagListPath;
    QDateTime m_tagListStamp;
};
