#include "app/SingleInstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>

#include <memory>

namespace {
const QByteArray requestHeader = QByteArrayLiteral("KELMDESK-OPEN 1\n");
const QByteArray answer = QByteArrayLiteral("OK\n");

QString runtimeFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}
} // namespace

SingleInstance::SingleInstance(QObject* parent) : QObject(parent) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::socketPath()
{
    const QString folder = runtimeFolder();
    return folder.isEmpty() ? QString() : folder + QStringLiteral("/kelmdesk.socket");
}

QByteArray SingleInstance::encodeRequest(const QStringList& files)
{
    // File names are bytes without NUL on this platform, so NUL separates them and an empty name ends
    // the list.
    QByteArray data = requestHeader;
    for (const QString& f : files) {
        if (f.isEmpty())
            continue;
        data += QFile::encodeName(f);
        data += '\0';
    }
    data += '\0';
    return data;
}

SingleInstance::Parse SingleInstance::decodeRequest(const QByteArray& data, QStringList& files)
{
    files.clear();
    if (data.size() < requestHeader.size())
        return requestHeader.startsWith(data) ? Parse::Incomplete : Parse::Invalid;
    if (!data.startsWith(requestHeader))
        return Parse::Invalid;
    qsizetype pos = requestHeader.size();
    for (;;) {
        const qsizetype end = data.indexOf('\0', pos);
        if (end < 0)
            return data.size() > MaxRequestBytes ? Parse::Invalid : Parse::Incomplete;
        if (end == pos)
            return end + 1 == data.size() ? Parse::Complete : Parse::Invalid;
        files << QFile::decodeName(data.mid(pos, end - pos));
        pos = end + 1;
    }
}

SingleInstance::Outcome SingleInstance::start(bool handOver, const QStringList& files)
{
    const QString path = socketPath();
    if (path.isEmpty())
        return Outcome::Alone;
    // Two instances starting together must not both decide that none runs.
    QLockFile lock(runtimeFolder() + QStringLiteral("/kelmdesk.lock"));
    lock.tryLock(AnswerTimeoutMs);

    QLocalSocket probe;
    probe.connectToServer(path);
    if (probe.waitForConnected(1000)) {
        if (!handOver)
            return Outcome::Alone;
        return sendTo(probe, files) ? Outcome::HandedOver : Outcome::NoAnswer;
    }
    return listen() ? Outcome::Listening : Outcome::Alone;
}

bool SingleInstance::sendTo(QLocalSocket& socket, const QStringList& files)
{
    const QDeadlineTimer deadline(AnswerTimeoutMs);
    socket.write(encodeRequest(files));
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime())))
            return false;
    }
    QByteArray reply;
    while (!reply.contains('\n')) {
        if (!socket.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
            return false;
        reply += socket.readAll();
    }
    return reply == answer;
}

bool SingleInstance::listen()
{
    // Nothing answered on the socket: what is there is left by an instance that ended without
    // removing it.
    QLocalServer::removeServer(socketPath());
    auto server = std::make_unique<QLocalServer>();
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(socketPath())) {
        qWarning("kelmdesk: cannot listen on %s: %s", qPrintable(socketPath()), qPrintable(server->errorString()));
        return false;
    }
    m_server = server.release();
    m_server->setParent(this);
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::onNewConnection);
    return true;
}

void SingleInstance::onNewConnection()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        auto buffer = std::make_shared<QByteArray>();
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, buffer] {
            *buffer += socket->readAll();
            QStringList files;
            switch (decodeRequest(*buffer, files)) {
            case Parse::Incomplete:
                return;
            case Parse::Invalid:
                socket->abort();
                return;
            case Parse::Complete:
                break;
            }
            buffer->clear();
            socket->write(answer);
            socket->flush();
            socket->disconnectFromServer();
            // Opening may show a message box: not while the client waits for its answer.
            QMetaObject::invokeMethod(
                this, [this, files] { emit openRequested(files); }, Qt::QueuedConnection);
        });
    }
}
