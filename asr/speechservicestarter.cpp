#include "asr/speechservicestarter.h"

#include "asr/jsonreading.h"
#include "core/programlayout.h"
#include "platform/privatefolder.h"
#include "protocol/speechprotocol.h"

#include <QHostAddress>
#include <QMessageAuthenticationCode>
#include <QProcess>
#include <QRandomGenerator>
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
// The service reads the secret from the file this names (never from its command line).
const char OwnerSecretVariable[] = "TOVARIN_OWNER_SECRET_FILE";
const char OwnerProofPath[] = "/tovarin/owner-proof";

QByteArray randomHex(int bytes)
{
    QByteArray data(bytes, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(
        reinterpret_cast<quint32 *>(data.data()), bytes / int(sizeof(quint32)));
    return data.toHex();
}

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
            exchangeEnded(false);
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

QString SpeechServiceStarter::builtInUrl()
{
    return QStringLiteral(SPEECH_SERVICE_URL);
}

QString SpeechServiceStarter::pinnedUrl(const QString &baseUrl)
{
    QUrl url(baseUrl);
    if (url.host() != QLatin1String("localhost"))
        return baseUrl;
    url.setHost(QStringLiteral("127.0.0.1"));
    return url.toString();
}

bool SpeechServiceStarter::isBuiltInAddress(const QString &baseUrl)
{
    return isLocalAddress(baseUrl) && QUrl(baseUrl).port(80) == QUrl(builtInUrl()).port(80);
}

SpeechServiceStarter::Probe SpeechServiceStarter::classifyProbeAnswer(const QByteArray &response)
{
    const int bodyStart = response.indexOf("\r\n\r\n");
    if (!response.startsWith("HTTP/") || bodyStart < 0)
        return Probe::SomethingElse;
    Json::Value root;
    if (!JsonReading::parseObject(response.mid(bodyStart + 4), &root))
        return Probe::SomethingElse;
    return root.isMember(speechprotocol::kError)
            || root.isMember(speechprotocol::token::kAccessToken)
        ? Probe::TheService
        : Probe::SomethingElse;
}

QByteArray SpeechServiceStarter::ownerProof(const QByteArray &secret, const QByteArray &nonce)
{
    return QMessageAuthenticationCode::hash(nonce, secret, QCryptographicHash::Sha256).toHex();
}

QString SpeechServiceStarter::ownerSecretFile()
{
    return ProgramLayout::serviceSecretFile();
}

bool SpeechServiceStarter::loadSecret()
{
    if (!secret.isEmpty())
        return true;
    const QString file = ownerSecretFile();
    QString error;
    if (PrivateFolder::ensure(file.left(file.lastIndexOf(QLatin1Char('/'))), &error))
        secret = PrivateFolder::readOrCreate(file, randomHex(32), &error);
    // Shorter than the service accepts: the file is not one this program wrote.
    if (secret.size() < 16) {
        secret.clear();
        finish(QStringLiteral("无法保存语音服务的校验密钥：%1").arg(error));
        return false;
    }
    return true;
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
    freePort = false;
    probe();
}

void SpeechServiceStarter::probe()
{
    askingProof = false;
    exchange(QByteArrayLiteral("GET ") + speechprotocol::path::kToken
        + QByteArrayLiteral(" HTTP/1.0\r\nHost: ") + host.toUtf8() + QByteArrayLiteral("\r\n\r\n"));
}

void SpeechServiceStarter::exchange(const QByteArray &request)
{
    probeAnswer.clear();
    probeSocket = std::make_unique<QTcpSocket>();
    QTcpSocket *socket = probeSocket.get();
    connect(socket, &QTcpSocket::connected, this, [socket, request] { socket->write(request); });
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
        probeAnswer += socket->readAll();
        if (probeAnswer.size() > MaxLogBytes)
            exchangeEnded(false);
    });
    connect(socket, &QTcpSocket::disconnected, this, [this] { exchangeEnded(true); });
    connect(socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        if (error == QAbstractSocket::RemoteHostClosedError)
            return; // the answer is complete; disconnected() follows
        // A refused connection is a free port; any other error leaves the port's holder unknown.
        if (error == QAbstractSocket::ConnectionRefusedError && !askingProof) {
            probeAnswer.clear();
            probeEnded(Probe::NothingListens);
            return;
        }
        exchangeEnded(false);
    });
    limit.start(ProbeTimeoutMs);
    socket->connectToHost(host, quint16(port));
}

void SpeechServiceStarter::exchangeEnded(bool complete)
{
    if (!probeSocket)
        return;
    if (askingProof)
        proofEnded(complete ? probeAnswer : QByteArray());
    else
        probeEnded(complete ? classifyProbeAnswer(probeAnswer) : Probe::SomethingElse);
}

// Ends the exchange under way; deleted later, as this may run inside one of its own signals.
void SpeechServiceStarter::dropSocket()
{
    limit.stop();
    QTcpSocket *socket = probeSocket.release();
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

void SpeechServiceStarter::probeEnded(Probe result)
{
    if (!probeSocket)
        return;
    dropSocket();
    switch (result) {
    case Probe::TheService:
        askForProof();
        break;
    case Probe::NothingListens:
        if (!mayStart) {
            freePort = true;
            finish(QStringLiteral("端口%1上没有语音服务。").arg(port));
            break;
        }
        startService();
        break;
    case Probe::SomethingElse:
        finish(QStringLiteral("端口%1已被其他程序占用，无法启动语音服务！").arg(port));
        break;
    }
}

void SpeechServiceStarter::askForProof()
{
    if (!loadSecret())
        return;
    nonce = randomHex(32);
    askingProof = true;
    exchange(QByteArrayLiteral("GET ") + OwnerProofPath + QByteArrayLiteral("?nonce=") + nonce
        + QByteArrayLiteral(" HTTP/1.0\r\nHost: ") + host.toUtf8() + QByteArrayLiteral("\r\n\r\n"));
}

void SpeechServiceStarter::proofEnded(const QByteArray &answer)
{
    dropSocket();
    askingProof = false;
    Json::Value root;
    const int bodyStart = answer.indexOf("\r\n\r\n");
    const bool proven = answer.startsWith("HTTP/1.") && answer.mid(9, 3) == "200" && bodyStart > 0
        && JsonReading::parseObject(answer.mid(bodyStart + 4), &root) && root["proof"].isString()
        && QByteArray::fromStdString(root["proof"].asString()) == ownerProof(secret, nonce);
    if (proven) {
        finish(QString());
        return;
    }
    // Nothing of this user's goes to it; one started here that cannot prove it is ended.
    stopService();
    finish(QStringLiteral("端口%1上的语音服务不是本程序启动的，无法使用！").arg(port));
}

void SpeechServiceStarter::startService()
{
    if (program.isEmpty()) {
        finish(QStringLiteral("未找到语音服务程序speech-service，无法启动语音服务！"));
        return;
    }
    if (!loadSecret())
        return;
    // The one started before has ended (it no longer listens): forget it.
    stopService();
    serviceLog.clear();
    service = std::make_unique<ServiceProcess>();
    service->setProgram(program);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(OwnerSecretVariable), ownerSecretFile());
    service->setProcessEnvironment(environment);
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
    ++starts;
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
    if (!probeSocket && serviceLog.contains("listening on")) {
        limit.stop();
        serviceLog.clear();
        askForProof();
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

QString SpeechServiceStarter::tokenAddress(
    const QString &serviceUrl, const QString &tokenUrl, bool serviceProven)
{
    if (serviceProven || tokenUrl.isEmpty())
        return serviceUrl;
    return isBuiltInAddress(tokenUrl) ? QString() : tokenUrl;
}
