#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

class QProcess;
class QTcpSocket;

// Makes sure a speech service answers at a local address: when nothing listens there it starts
// the service program itself, waits until the service says it listens, and ends the service it
// started when it is destroyed. A service that already runs is used and left alone. Either way
// the service must first prove that it holds this user's secret (kept in the user's private
// runtime folder, handed to the services started here and read there by one the user started
// by hand): on a shared machine another user may hold the port, and must never receive the
// audio or the credentials.
class SpeechServiceStarter final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(SpeechServiceStarter)

public:
    // What a probe of the address found.
    enum class Probe { NothingListens, TheService, SomethingElse };

    explicit SpeechServiceStarter(QObject *parent = nullptr);
    ~SpeechServiceStarter() override;

    // The service program to start; empty when none was found.
    void setProgram(const QString &path) { program = path; }
    QString serviceProgram() const { return program; }
    // How long the service may take to load its models and listen.
    void setStartTimeoutMs(int ms) { startTimeoutMs = ms; }
    // False only proves a service that runs: a free port fails (nothingListened() then tells).
    void setMayStart(bool may) { mayStart = may; }

    // Ends in ready() when a speech service answers at baseUrl (started here or not), in
    // failed(message) when none does and none can be started. A call while one is under way
    // joins it.
    void ensureRunning(const QString &baseUrl);
    // The process id of the service started here while it runs; 0 otherwise.
    qint64 startedServicePid() const;
    // How many services were started here so far: a token of an earlier one is not the new
    // one's (each service makes its own key).
    int startCount() const { return starts; }
    // The last failure was a free port that was not to be started.
    bool nothingListened() const { return freePort; }

    // True for an http address on this machine (127.0.0.1, ::1 or localhost).
    static bool isLocalAddress(const QString &baseUrl);
    // True for the built-in address of the local service (its port on this machine, however
    // spelled): nothing goes there before the service there proves it is the user's own.
    static bool isBuiltInAddress(const QString &baseUrl);
    // The address with "localhost" spelled 127.0.0.1, the address that is proven.
    static QString pinnedUrl(const QString &baseUrl);
    // Where a token is asked: the proven local service issues its own; a separate token
    // address at the built-in port could be anyone's, so it is refused (empty) unless the
    // recognition service is the proven local one too.
    static QString tokenAddress(
        const QString &serviceUrl, const QString &tokenUrl, bool serviceProven);
    // The built-in address ("http://127.0.0.1:18765" unless the build chose another).
    static QString builtInUrl();
    // Sorts the raw HTTP answer to a bare token request: the speech service answers with a JSON
    // object that carries "error" (or a token); anything else holds the port.
    static Probe classifyProbeAnswer(const QByteArray &response);
    // The proof a service holding the secret gives for the nonce: HMAC-SHA256, lower-case hex.
    static QByteArray ownerProof(const QByteArray &secret, const QByteArray &nonce);
    // The file of this user's secret; made, with its private folder, on first use.
    static QString ownerSecretFile();

signals:
    void ready();
    void failed(const QString &message);

private:
    void probe();
    void probeEnded(Probe result);
    void askForProof();
    void proofEnded(const QByteArray &answer);
    void exchange(const QByteArray &request);
    void exchangeEnded(bool complete);
    void dropSocket();
    bool loadSecret();
    void startService();
    void readServiceLog();
    void serviceEnded();
    void finish(const QString &failure);
    void stopService();

    QString program;
    QString host;
    int port = 0;
    int startTimeoutMs = 60000;
    bool mayStart = true;
    bool freePort = false;
    int starts = 0;
    bool busy = false;
    std::unique_ptr<QTcpSocket> probeSocket;
    QByteArray probeAnswer;
    // Whether the exchange under way is the proof rather than the first probe.
    bool askingProof = false;
    QByteArray secret;
    QByteArray nonce;
    std::unique_ptr<QProcess> service;
    // The service's log as it starts, for the notice when it does not.
    QByteArray serviceLog;
    QTimer limit;
};
