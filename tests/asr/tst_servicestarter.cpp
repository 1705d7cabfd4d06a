// The local speech service started for the user: the real service program, real loopback ports.
#include <QFile>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <signal.h>
#include <unistd.h>

#include "asr/speechservicestarter.h"
#include "common/speechservice.h"
#include "common/testtime.h"

namespace {

// A loopback port that nothing listens on right now.
int freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

QString urlFor(int port)
{
    return QStringLiteral("http://127.0.0.1:%1").arg(port);
}

bool answers(int port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, quint16(port));
    return socket.waitForConnected(5000);
}

// A stand-in for the service program: a script, or bytes that are no program at all.
QString writeProgram(const QTemporaryDir &dir, const char *name, const QByteArray &text)
{
    const QString path = dir.filePath(QString::fromUtf8(name));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        return QString();
    file.close();
    if (text.startsWith("#!"))
        file.setPermissions(file.permissions() | QFile::ExeOwner);
    return path;
}

bool processGone(qint64 pid)
{
    return ::kill(pid_t(pid), 0) != 0;
}

// Runs ensureRunning and waits for its end: empty on ready, the notice text on failure.
QString ensure(SpeechServiceStarter &starter, const QString &url, int timeoutMs = 90000)
{
    QSignalSpy ready(&starter, &SpeechServiceStarter::ready);
    QSignalSpy failed(&starter, &SpeechServiceStarter::failed);
    starter.ensureRunning(url);
    if (!QTest::qWaitFor([&] { return !ready.isEmpty() || !failed.isEmpty(); }, timeoutMs))
        return QStringLiteral("neither ready nor failed");
    if (ready.size() + failed.size() != 1)
        return QStringLiteral("ended more than once");
    return failed.isEmpty() ? QString() : failed.first().first().toString();
}

} // namespace

class TestServiceStarter : public QObject
{
    Q_OBJECT

    // The user's runtime folder, where the secret is kept: this test's own.
    QTemporaryDir runtime;

private slots:
    void initTestCase()
    {
        QVERIFY(runtime.isValid());
        qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    }

    void probeAnswers_data()
    {
        QTest::addColumn<QByteArray>("response");
        QTest::addColumn<int>("probe");
        const int service = int(SpeechServiceStarter::Probe::TheService);
        const int other = int(SpeechServiceStarter::Probe::SomethingElse);
        QTest::newRow("service refuses the bare request") << QByteArray(
            "HTTP/1.1 400 Bad Request\r\nContent-Length: 30\r\n\r\n"
            "{\"error\":\"unsupported_grant\"}") << service;
        QTest::newRow("web page") << QByteArray("HTTP/1.1 200 OK\r\n\r\n<html></html>") << other;
        QTest::newRow("other JSON") << QByteArray("HTTP/1.1 200 OK\r\n\r\n{\"ok\":true}") << other;
        QTest::newRow("not HTTP") << QByteArray("SSH-2.0-OpenSSH_9.2\r\n") << other;
        QTest::newRow("nothing") << QByteArray() << other;
    }
    void probeAnswers()
    {
        QFETCH(QByteArray, response);
        QFETCH(int, probe);
        QCOMPARE(int(SpeechServiceStarter::classifyProbeAnswer(response)), probe);
    }

    void localAddresses()
    {
        QVERIFY(SpeechServiceStarter::isLocalAddress(QStringLiteral("http://127.0.0.1:18765")));
        QVERIFY(SpeechServiceStarter::isLocalAddress(QStringLiteral("http://localhost:18765")));
        QVERIFY(SpeechServiceStarter::isLocalAddress(QStringLiteral("http://[::1]:18765")));
        QVERIFY(!SpeechServiceStarter::isLocalAddress(QStringLiteral("http://10.0.0.5:18765")));
        QVERIFY(!SpeechServiceStarter::isLocalAddress(QStringLiteral("https://127.0.0.1:18765")));
    }

    // Nothing answers: the service is started, used by a second call, and ended with the starter.
    void startsTheServiceAndEndsIt()
    {
        const int port = freePort();
        auto starter = std::make_unique<SpeechServiceStarter>();
        starter->setProgram(SpeechServiceProcess::program());
        QCOMPARE(ensure(*starter, urlFor(port)), QString());
        const qint64 pid = starter->startedServicePid();
        QVERIFY(pid > 0);
        QVERIFY(answers(port));

        QCOMPARE(ensure(*starter, urlFor(port)), QString());
        QCOMPARE(starter->startedServicePid(), pid);

        starter.reset();
        QVERIFY(processGone(pid));
        QVERIFY(!answers(port));
    }

    // A service already running is used and left running when it proves it holds this user's
    // secret (an earlier start of ours); one that holds another secret (another user's) is
    // refused and left alone, and gets nothing.
    void usesOnlyAServiceThatProvesItIsOurs()
    {
        QTemporaryDir otherUser;
        QVERIFY(otherUser.isValid());
        const QString otherSecret = otherUser.filePath(QStringLiteral("secret"));
        QFile file(otherSecret);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(64, 'e')) == 64);
        file.close();
        QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner));

        const QString ours = SpeechServiceStarter::ownerSecretFile();
        for (const QString &secretFile : { ours, otherSecret }) {
            // Made by a starter, as the program makes it before it starts a service.
            {
                SpeechServiceStarter maker;
                maker.setProgram(SpeechServiceProcess::program());
                QCOMPARE(ensure(maker, urlFor(freePort())), QString());
            }
            QVERIFY(!(QFile::permissions(ours) & (QFile::ReadGroup | QFile::ReadOther)));
            qputenv("TOVARIN_OWNER_SECRET_FILE", secretFile.toLocal8Bit());
            SpeechServiceProcess service;
            const bool started = service.start();
            qunsetenv("TOVARIN_OWNER_SECRET_FILE");
            QVERIFY2(started, qPrintable(service.logText()));
            auto starter = std::make_unique<SpeechServiceStarter>();
            starter->setProgram(SpeechServiceProcess::program());
            const QString text = ensure(*starter, service.baseUrl());
            if (secretFile == ours)
                QCOMPARE(text, QString());
            else
                QCOMPARE(text,
                    QStringLiteral("端口%1上的语音服务不是本程序启动的，无法使用！")
                        .arg(service.port()));
            QCOMPARE(starter->startedServicePid(), qint64(0));
            starter.reset();
            QVERIFY(answers(service.port()));
        }
    }

    // Started by hand (no secret file named), before the program ever made its secret: the
    // service reads the user's secret where the program keeps it, when it is asked. The same
    // program run by another account is refused, though it is handed the same runtime folder.
    void provesAServiceStartedByHand()
    {
        QVERIFY(qEnvironmentVariableIsEmpty("TOVARIN_OWNER_SECRET_FILE"));
        QFile::remove(SpeechServiceStarter::ownerSecretFile());
        SpeechServiceProcess byHand;
        QVERIFY2(byHand.start(0, 60000, false), qPrintable(byHand.logText()));
        SpeechServiceStarter starter;
        starter.setProgram(SpeechServiceProcess::program());
        QCOMPARE(ensure(starter, byHand.baseUrl()), QString());
        QCOMPARE(starter.startedServicePid(), qint64(0));
        QVERIFY(QFile::exists(SpeechServiceStarter::ownerSecretFile()));

        if (::geteuid() != 0)
            QSKIP("needs root to run the service as another user");
        const int port = freePort();
        QProcess other;
        other.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        other.start(QStringLiteral("setpriv"),
            { QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                QStringLiteral("--clear-groups"), SpeechServiceProcess::program(),
                QStringLiteral("--port"), QString::number(port) });
        QVERIFY(other.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(answers(port), 60000);
        QCOMPARE(ensure(starter, urlFor(port)),
            QStringLiteral("端口%1上的语音服务不是本程序启动的，无法使用！").arg(port));
        QCOMPARE(starter.startedServicePid(), qint64(0));
        other.terminate();
        QVERIFY(other.waitForFinished(scaledMs(30000)));
    }

    // A service that ends after it started is started again by the next call.
    void restartsAServiceThatEnded()
    {
        const int port = freePort();
        SpeechServiceStarter starter;
        starter.setProgram(SpeechServiceProcess::program());
        QCOMPARE(ensure(starter, urlFor(port)), QString());
        const qint64 first = starter.startedServicePid();
        ::kill(pid_t(first), SIGKILL);
        QTRY_VERIFY_WITH_TIMEOUT(starter.startedServicePid() == 0, 10000);
        QCOMPARE(ensure(starter, urlFor(port)), QString());
        QVERIFY(starter.startedServicePid() > 0 && starter.startedServicePid() != first);
    }

    void failuresSayWhy()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());

        // No service program was found.
        {
            SpeechServiceStarter starter;
            QVERIFY(
                ensure(starter, urlFor(freePort())).contains(QStringLiteral("未找到语音服务程序")));
        }
        // The program cannot run at all.
        {
            SpeechServiceStarter starter;
            starter.setProgram(writeProgram(dir, "speech-service", "not a program"));
            QVERIFY(ensure(starter, urlFor(freePort()))
                        .startsWith(QStringLiteral("语音服务启动失败：")));
        }
        // The program exits at once: its last words are the reason.
        {
            SpeechServiceStarter starter;
            starter.setProgram(writeProgram(dir, "quitting-service",
                "#!/bin/sh\necho 'loading models' >&2\n"
                "echo 'speech-service: cannot load the model' >&2\nexit 1\n"));
            const QString text = ensure(starter, urlFor(freePort()));
            QCOMPARE(
                text, QStringLiteral("语音服务启动失败：speech-service: cannot load the model"));
        }
        // The port is held by something that is not the service.
        {
            QTcpServer other;
            QVERIFY(other.listen(QHostAddress::LocalHost, 0));
            connect(&other, &QTcpServer::newConnection, &other, [&other] {
                QTcpSocket *socket = other.nextPendingConnection();
                socket->write("HTTP/1.0 200 OK\r\n\r\n<html>hello</html>");
                socket->disconnectFromHost();
            });
            SpeechServiceStarter starter;
            starter.setProgram(SpeechServiceProcess::program());
            const QString text = ensure(starter, urlFor(other.serverPort()));
            QVERIFY2(text.contains(QStringLiteral("已被其他程序占用")), qPrintable(text));
            QCOMPARE(starter.startedServicePid(), qint64(0));
        }
        // The program runs but never listens: it is ended at the time limit.
        {
            SpeechServiceStarter starter;
            starter.setProgram(writeProgram(dir, "silent-service", "#!/bin/sh\nexec sleep 60\n"));
            starter.setStartTimeoutMs(300);
            QSignalSpy failed(&starter, &SpeechServiceStarter::failed);
            starter.ensureRunning(urlFor(freePort()));
            QVERIFY(failed.wait(30000));
            QVERIFY(failed.first().first().toString().contains(QStringLiteral("超时")));
            QCOMPARE(starter.startedServicePid(), qint64(0));
        }
    }
};

QTEST_GUILESS_MAIN(TestServiceStarter)
#include "tst_servicestarter.moc"
