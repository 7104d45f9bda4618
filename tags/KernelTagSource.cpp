#include "tags/KernelTagSource.h"

#include "model/ModelQueries.h"
#include "protocol/KernelKind.h"
#include "vmsg/Context.h"
#include "vmsg/vmsg.h"

#include <QObject>

#include <chrono>

namespace {

// What the thread's connection is logged on to.
struct Connection
{
    vmsg::Context context;
    QString kernel;
    int handle = 0;

    // Logs on to kernel ("HOST:N") unless already there; the handle, 0 when that fails.
    int to(const QString& wanted)
    {
        if (wanted == kernel && handle != 0 && context.isOpen(handle))
            return handle;
        if (handle != 0)
            context.logOff(protocol::kernelService);
        kernel = wanted;
        handle = 0;
        const int colon = int(wanted.lastIndexOf(QLatin1Char(':')));
        if (colon <= 0)
            return 0;
        bool number = false;
        const int instance = wanted.mid(colon + 1).toInt(&number);
        if (!number)
            return 0;
        const QByteArray host = wanted.left(colon).toUtf8();
        handle = context.logOn(protocol::kernelService, instance, host.constData(), false);
        return handle;
    }
};

TagAnswer answer(Connection& c, const QString& kernel, const TagQuery& q)
{
    TagAnswer a;
    const int handle = c.to(kernel);
    if (handle == 0)
        return a;
    vmsg::Context* context = &c.context;
    switch (q.kind) {
    case TagQuery::Blocks:
        a.names = QueryBlocks(handle, QString(), QStringLiteral("Any"), true, context);
        a.ok = c.context.isOpen(handle);
        break;
    case TagQuery::Tags:
        a.names = QueryTags(handle, q.name, QString(), 0, context);
        a.ok = c.context.isOpen(handle);
        break;
    case TagQuery::Inspect: {
        const Inspection i = InspectVariable(handle, q.name, context);
        a.ok = i.ok;
        a.type = i.type;
        a.names = i.elements;
        break;
    }
    case TagQuery::Read: {
        const VariableReading r = readVariable(handle, q.name, context);
        a.ok = r.ok || !r.error.isEmpty();
        a.type = r.type;
        a.value = r.value;
        a.error = r.error;
        const int colon = int(q.name.indexOf(QLatin1Char(':')));
        const QString block = colon < 0 ? q.name : q.name.left(colon);
        const VariableReading d = readVariable(handle, block + QStringLiteral(":DESC"), context);
        if (d.ok)
            a.description = d.value;
        break;
    }
    }
    return a;
}

} // namespace

KernelTagSource::KernelTagSource() : m_receiver(std::make_unique<QObject>())
{
    m_thread = std::thread([this] { run(); });
}

KernelTagSource::~KernelTagSource()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
        m_jobs.clear();
    }
    m_wake.notify_all();
    m_thread.join();
}

void KernelTagSource::ask(const QString& kernel, const TagQuery& query, std::function<void(const TagAnswer&)> done)
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_jobs.push_back({kernel, query, std::move(done)});
    }
    m_wake.notify_all();
}

void KernelTagSource::run()
{
    Connection connection;
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            // Idle, the connection's unasked messages (the kernel's status) are read and dropped, so
            // that they never pile up in front of a reply.
            // Without a connection there is nothing to read: the thread sleeps until asked.
            const auto asked = [this] { return m_stop || !m_jobs.empty(); };
            if (connection.handle != 0)
                m_wake.wait_for(lock, std::chrono::milliseconds(250), asked);
            else
                m_wake.wait(lock, asked);
            if (m_stop)
                return;
            if (m_jobs.empty()) {
                lock.unlock();
                if (connection.handle != 0)
                    connection.context.scheduler(0);
                continue;
            }
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        const TagAnswer a = answer(connection, job.kernel, job.query);
        // The receiver outlives this thread (the destructor joins it first).
        QMetaObject::invokeMethod(
            m_receiver.get(), [done = std::move(job.done), a] { done(a); }, Qt::QueuedConnection);
    }
}
