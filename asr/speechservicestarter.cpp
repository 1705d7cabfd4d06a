#include "asr/speechservicestarter.h"

#include "asr/jsonreading.h"

#include <QHostAddress>
#include <QProcess>
#include <QTcpSocket>
#include <QUrl>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/prctl.h>
#endif

namespace {
const int ProbeTimeoutMs = 5000;
const int StopTimeoutMs = 5000;
const int MaxLogBytes = 8192;

// The last non-empty line the service wrote: its own reason for ending.
QString lastLine(const QByteArray &log)
{
    const QList<QByteArray> lines = log.trimmed().split('\n');
    return lines.isEmpty() ? QString() : QString::fromUtf8(lines.last().trimmed());
}
// The service ends with the program even when the program is killed and cannot end it itself.
class ServiceProcess final : public QProcess
{
protected:
    void setupChildProcess() override
    {
#ifdef Q_OS_LINUX
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
#endif
    }
};
} // namespace

SpeechServiceStarter::SpeechServiceStarter(QObject *parent)
    : QObject(parent)
{
    limit.setSingleShot(true);
    connect(&limit, &QTimer::timeout, this, [this] {
        if (probeSocket) {
            probeEnded(Probe::SomethingElse);
            return;
        }
        stopService();
        finish(QStringLiteral("语音服务启动超时，请稍后重试！"));
    });
}

SpeechServiceStarter::~SpeechServiceStarter()
{
    // A probe still under way must not report into members already gone.
    if (probeSocket)
        probeSocket->disconnect(this);
    stopService();
}

bool SpeechServiceStarter::isLocalAddress(const QString &baseUrl)
{
    const QUrl url(baseUrl);
    if (url.scheme() != QLatin1String("http"))
        return false;
    const QString name = url.host();
    return name == QLatin1String("localhost") || QHostAddress(name).isLoopback();
}

SpeechServiceStarter::Probe SpeechServiceStarter::classifyProbeAnswer(const QByteArray &response)
{
    const int bodyStart = response.indexOf("\r\n\r\n");
    if (!response.startsWith("HTTP/") || bodyStart < 0)
        return Probe::SomethingElse;
    Json::Value root;
    if (!JsonReading::parseObject(response.mid(bodyStart + 4), &root))
        return Probe::SomethingElse;
    return root.isMember("error") || root.isMember("access_token") ? Probe::TheService
                                                                   : Probe::SomethingElse;
}

qint64 SpeechServiceStarter::startedServicePid() const
{
    return service && service->state() == QProcess::Running ? service->processId() : 0;
}

void SpeechServiceStarter::ensureRunning(const QString &baseUrl)
{
    if (busy)
        return;
    const QUrl url(baseUrl);
    host = url.host() == QLatin1String("localhost") ? QStringLiteral("127.0.0.1") : url.host();
    port = url.port(80);
    busy = true;
    probe();
}

void SpeechServiceStarter::probe()
{
    probeAnswer.clear();
    probeSocket = std::make_unique<QTcpSocket>();
    QTcpSocket *socket = probeSocket.get();
    connect(socket, &QTcpSocket::connected, this, [this, socket] {
        socket->write(QByteArrayLiteral("GET /oauth/2.0/token HTTP/1.0\r\nHost: ") + host.toUtf8()
            + QByteArrayLiteral("\r\n\r\n"));
    });
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
        probeAnswer += socket->readAll();
        if (probeAnswer.size() > MaxLogBytes)
            probeEnded(Probe::SomethingElse);
    });
    connect(socket, &QTcpSocket::disconnected, this,
        [this] { probeEnded(classifyProbeAnswer(probeAnswer)); });
    connect(socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        if (error == QAbstractSocket::RemoteHostClosedError)
            return; // the answer is complete; disconnected() follows
        // A refused connection is a free port; any other error leaves the port's holder unknown.
        probeEnded(error == QAbstractSocket::ConnectionRefusedError ? Probe::NothingListens
                                                                    : Probe::SomethingElse);
    });
    limit.start(ProbeTimeoutMs);
    socket->connectToHost(host, quint16(port));
}

void SpeechServiceStarter::probeEnded(Probe result)
{
    if (!probeSocket)
        return;
    limit.stop();
    // Deleted later: this may run inside one of the socket's own signals.
    QTcpSocket *socket = probeSocket.release();
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();

    switch (result) {
    case Probe::TheService:
        finish(QString());
        break;
    case Probe::NothingListens:
        startService();
        break;
    case Probe::SomethingElse:
        finish(QStringLiteral("端口%1已被其他程序占用，无法启动语音服务！").arg(port));
        break;
    }
}

void SpeechServiceStarter::startService()
{
    if (program.isEmpty()) {
        finish(QStringLiteral("未找到语音服务程序speech-service，无法启动语音服务！"));
        return;
    }
    // The one started before has ended (it no longer listens): forget it.
    stopService();
    serviceLog.clear();
    service = std::make_unique<ServiceProcess>();
    service->setProgram(program);
    service->setArguments(
        { QStringLiteral("--host"), host, QStringLiteral("--port"), QString::number(port) });
    service->setStandardOutputFile(QProcess::nullDevice());
    connect(service.get(), &QProcess::readyReadStandardError, this,
        &SpeechServiceStarter::readServiceLog);
    connect(service.get(), &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            finish(QStringLiteral("语音服务启动失败：%1").arg(service->errorString()));
    });
    connect(service.get(),
        static_cast<void (QProcess::*)(int, QProcess::ExitStatus)>(&QProcess::finished), this,
        &SpeechServiceStarter::serviceEnded);
    limit.start(startTimeoutMs);
    service->start();
}

void SpeechServiceStarter::readServiceLog()
{
    // Read all along, also once started: a full pipe would stall the service.
    serviceLog += service->readAllStandardError();
    if (!busy) {
        serviceLog = serviceLog.right(MaxLogBytes);
        return;
    }
    if (serviceLog.contains("listening on")) {
        limit.stop();
        finish(QString());
    }
    serviceLog = serviceLog.right(MaxLogBytes);
}

void SpeechServiceStarter::serviceEnded()
{
    if (!busy)
        return; // ended after it had started: the next ensureRunning finds the port free again
    limit.stop();
    serviceLog += service->readAllStandardError();
    const QString reason = lastLine(serviceLog);
    finish(
        QStringLiteral("语音服务启动失败：%1")
            .arg(reason.isEmpty() ? QStringLiteral("退出码 %1").arg(service->exitCode()) : reason));
}

void SpeechServiceStarter::finish(const QString &failure)
{
    if (!busy)
        return;
    busy = false;
    if (failure.isEmpty())
        emit ready();
    else
        emit failed(failure);
}

void SpeechServiceStarter::stopService()
{
    if (!service)
        return;
    // No signal of the ending service reaches a half-destroyed owner.
    service->disconnect(this);
    if (service->state() != QProcess::NotRunning) {
        service->terminate();
        if (!service->waitForFinished(StopTimeoutMs)) {
            service->kill();
            service->waitForFinished(StopTimeoutMs);
        }
    }
    service.reset();
}
