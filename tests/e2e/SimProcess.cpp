#include "tests/e2e/SimProcess.h"

#include "tests/common/ChildProcess.h"
#include "tests/common/TimeScale.h"

#include <QTcpServer>
#include <QTest>

#include <vector>

bool waitFor(const std::function<bool()>& done, int timeoutMs)
{
    return QTest::qWaitFor(done, scaledMs(timeoutMs));
}

int freePortBase(int count)
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        QTcpServer first;
        if (!first.listen(QHostAddress::LocalHost, 0))
            return 0;
        const int base = first.serverPort();
        if (base + count > 65535)
            continue;
        std::vector<std::unique_ptr<QTcpServer>> others;
        bool free = true;
        for (int i = 1; i < count && free; ++i) {
            others.push_back(std::make_unique<QTcpServer>());
            free = others.back()->listen(QHostAddress::LocalHost, quint16(base + i));
        }
        if (free)
            return base;
    }
    return 0;
}

SimProcess::SimProcess(int portBase, const QStringList& arguments)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("NORVEX_PORT_BASE"), QString::number(portBase));
    m_process.setProcessEnvironment(env);
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    endWithTest(m_process);
    m_process.start(QStringLiteral(NORVEXSIM_PATH), arguments);
}

SimProcess::~SimProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(10000))
            kill();
    }
}

QString SimProcess::log()
{
    m_log += QString::fromLocal8Bit(m_process.readAllStandardError());
    return m_log;
}

bool SimProcess::waitForLog(const QString& text)
{
    return waitFor([&] { return log().contains(text); });
}

bool SimProcess::waitUntilListening()
{
    return m_process.waitForStarted(scaledMs(10000)) && waitForLog(QStringLiteral(" listening on "));
}

void SimProcess::kill()
{
    m_process.kill();
    m_process.waitForFinished(10000);
}
