#pragma once

#include <QObject>
#include <QStringList>

class QLocalServer;
class QLocalSocket;

// One KelmDesk per user takes the open requests of the desktop shell. It listens on a local socket
// in the user's runtime folder (only the user can reach it); a later "-open" hands its files over
// and ends. A socket left behind by a crashed instance is taken over.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    enum class Outcome {
        HandedOver, // a running instance took the files
        Listening,  // none runs: this process now takes the requests
        Alone,      // no requests for this process (another instance listens, or no runtime folder)
        NoAnswer,   // an instance runs but did not answer in time
    };

    explicit SingleInstance(QObject* parent = nullptr);
    ~SingleInstance() override;

    // handOver: give files (absolute paths; none only raises the window) to a running instance, if
    // there is one. Without handOver, a running instance is left alone and this one does not listen.
    Outcome start(bool handOver, const QStringList& files);

    static QString socketPath();
    // The request as it goes over the socket, and its reading; for tests.
    static QByteArray encodeRequest(const QStringList& files);
    enum class Parse { Incomplete, Complete, Invalid };
    static Parse decodeRequest(const QByteArray& data, QStringList& files);

    static constexpr int AnswerTimeoutMs = 5000;
    static constexpr int MaxRequestBytes = 1 << 20;

signals:
    // Files to open (possibly none) and the window to raise, queued after the request was answered.
    void openRequested(const QStringList& files);

private:
    bool sendTo(QLocalSocket& socket, const QStringList& files);
    bool listen();
    void onNewConnection();

    QLocalServer* m_server = nullptr;
};
