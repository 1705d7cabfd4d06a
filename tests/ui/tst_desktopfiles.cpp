// The program as a desktop meets it: folders installed or portable, files dropped on the window
// or given on the command line, files handed over by a second start, the speech service started
// and ended by the window.
#include "app/instancechannel.h"
#include "app/startup.h"
#include "asr/speechservicestarter.h"
#include "asr/transcriptionjob.h"
#include "common/scripteddialogs.h"
#include "common/scriptedhttppeer.h"
#include "common/speechservice.h"
#include "common/windowview.h"
#include "core/programlayout.h"
#include "ui/appglobals.h"
#include "ui/widget.h"

#include <QComboBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QLocalSocket>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>

#include <atomic>
#include <memory>
#include <signal.h>
#include <thread>

namespace {

QString str(const char *text)
{
    return QString::fromUtf8(text);
}

void writeFile(const QString &path, const QByteArray &bytes = "data")
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    file.write(bytes);
}

void makeExecutable(const QString &path)
{
    writeFile(path, "#!/bin/sh\n");
    QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner);
}

// Drags the URLs onto target and drops them, as a file manager does; false when the window
// refused the drag.
bool dropOn(QWidget *target, const QList<QUrl> &urls)
{
    QMimeData data;
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    return drop.isAccepted();
}

QList<QUrl> fileUrls(const QStringList &paths)
{
    QList<QUrl> urls;
    for (const QString &path : paths)
        urls << QUrl::fromLocalFile(path);
    return urls;
}

} // namespace

class TestDesktopFiles : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<ScriptedDialogs> dialogs;
    std::unique_ptr<Widget> window;

    QString path(const char *name) const { return dir->path() + QLatin1Char('/') + str(name); }

private slots:
    void init()
    {
        AppGlobals::setScreenWidth(1920);
        AppGlobals::setScreenHeight(1080);
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
        AppGlobals::setAppDir(dir->path());
        // The secret the started service proves is kept in the user's runtime folder.
        qputenv("XDG_RUNTIME_DIR", (dir->path() + str("/run")).toLocal8Bit());
        dialogs = std::make_unique<ScriptedDialogs>();
        window = std::make_unique<Widget>();
        // Nothing here may start a service on the machine's own port.
        window->setServiceAutoStart(false);
    }

    void cleanup()
    {
        window.reset();
        dialogs.reset();
        dir.reset();
    }

    void folderChoice()
    {
        const QString installedBin = path("usr/bin");
        QVERIFY(QDir().mkpath(installedBin) && QDir().mkpath(path("usr/libexec/tovarin")));
        makeExecutable(path("usr/libexec/tovarin/speech-service"));
        QVERIFY(ProgramLayout::isInstalled(installedBin));
        QCOMPARE(ProgramLayout::findServiceProgram(installedBin),
            path("usr/libexec/tovarin/speech-service"));
        const QString userData = str("/home/someone/.local/share/tovarin");
        QCOMPARE(ProgramLayout::workBase(installedBin, true, userData), userData);

        // The build tree: build/app/tovarin beside build/service/speech-service.
        const QString buildApp = path("build/app");
        QVERIFY(QDir().mkpath(buildApp) && QDir().mkpath(path("build/service")));
        makeExecutable(path("build/service/speech-service"));
        QVERIFY(!ProgramLayout::isInstalled(buildApp));
        QCOMPARE(ProgramLayout::findServiceProgram(buildApp), path("build/service/speech-service"));
        QCOMPARE(ProgramLayout::workBase(buildApp, false, userData), buildApp);

        // A portable copy without any service: the window says so when a job needs one.
        QVERIFY(QDir().mkpath(path("copy")));
        QVERIFY(!ProgramLayout::isInstalled(path("copy")));
        QCOMPARE(ProgramLayout::findServiceProgram(path("copy")), QString());

        // The folders are made, and one that cannot be is named.
        QCOMPARE(ProgramLayout::createWorkFolders(path("data/tovarin")), QString());
        for (const QString &name : ProgramLayout::workFolderNames())
            QVERIFY(QDir(path("data/tovarin/") + name).exists());
        writeFile(path("plainfile"));
        QCOMPARE(ProgramLayout::createWorkFolders(path("plainfile/tovarin")),
            path("plainfile/tovarin/myWordFiles"));
        QCOMPARE(ProgramLayout::createWorkFolders(QString()), str("~/.local/share/tovarin"));
        // One folder that cannot be made does not cost the others.
        QVERIFY(QDir().mkpath(path("data2")));
        writeFile(path("data2/myWordFiles"));
        QCOMPARE(ProgramLayout::createWorkFolders(path("data2")), path("data2/myWordFiles"));
        QVERIFY(
            QDir(path("data2/myWAVFiles")).exists() && QDir(path("data2/myTmpWAVFiles")).exists());
    }

    void dropsJoinTheTaskList()
    {
        const QStringList media
            = { path("talk one.wav"), path("会议 \"引号\" 'x'.mp3"), path("-dash.m4a") };
        for (const QString &file : media)
            writeFile(file);
        writeFile(path("notes.txt"));
        QVERIFY(QDir().mkdir(path("folder.mp3")));
        QVERIFY(QFile::link(media.first(), path("link.wav")));
        QVERIFY(QFile::link(path("vanished.mp3"), path("broken.mp3")));

        QList<QUrl> urls = fileUrls(media
            + QStringList {
                path("notes.txt"), path("folder.mp3"), path("link.wav"), path("broken.mp3") });
        urls << QUrl(str("https://example.org/talk.mp3"));
        QVERIFY(dropOn(window.get(), urls));

        // Each goes to the front, in the order dropped, as the upload dialog's choice does.
        const QStringList expected = { path("link.wav"), media[2], media[1], media[0] };
        QCOMPARE(View::taskQueue(*window), expected);
        QCOMPARE(View::taskTexts(*window),
            (QStringList { str("talk one.wav"), str("会议 \"引号\" 'x'.mp3"), str("-dash.m4a"),
                str("link.wav") }));

        // Dropped again: nothing twice. Nothing but a folder and a text: the drag is refused.
        QVERIFY(dropOn(window.get(), fileUrls(media)));
        QCOMPARE(View::taskQueue(*window), expected);
        QVERIFY(!dropOn(window.get(), fileUrls({ path("notes.txt"), path("folder.mp3") })));
        QCOMPARE(View::taskQueue(*window), expected);
        QVERIFY(dialogs->notices.isEmpty());
    }

    void dropOnTheTextPaneAndDuringAJob()
    {
        writeFile(path("a.mp3"));
        writeFile(path("b.mp3"));
        View::textPane(*window)->setPlainText(str("kept as typed"));
        View::textPane(*window)->show();
        // The text pane does not paste the file's address into the transcript.
        QVERIFY(dropOn(View::textPane(*window)->viewport(), fileUrls({ path("a.mp3") })));
        QCOMPARE(View::taskQueue(*window), QStringList { path("a.mp3") });
        QCOMPARE(View::textPane(*window)->toPlainText(), str("kept as typed"));

        // While a job runs the front entry stays as it is: the user is told. The job waits for
        // a token from a peer that never answers.
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        window->setServiceBaseUrl(str("http://127.0.0.1:%1").arg(silent.serverPort()));
        View::button(*window, "startConvertButton")->click();
        QVERIFY(View::button(*window, "stopConvertButton")->isEnabled());
        QVERIFY(dropOn(window.get(), fileUrls({ path("b.mp3") })));
        QCOMPARE(View::taskQueue(*window), QStringList { path("a.mp3") });
        QCOMPARE(dialogs->noticeTexts(), QStringList { str("正在转换，请稍后再添加文件！") });
        View::button(*window, "stopConvertButton")->click();
    }

    void commandLineFiles()
    {
        writeFile(path("-dash.m4a"));
        writeFile(path("relative name.wav"));
        writeFile(path("absolute.mp3"));
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir->path()));
        const QStringList files = filesFromCommandLine({ str("tovarin"), str("relative name.wav"),
            QUrl::fromLocalFile(path("absolute.mp3")).toString(), str("http://example.org/x.mp3"),
            str("missing.mp3"), str("--"), str("-dash.m4a") });
        QDir::setCurrent(previous);
        QCOMPARE(files,
            (QStringList { path("relative name.wav"), path("absolute.mp3"), path("missing.mp3"),
                path("-dash.m4a") }));

        window->addOutsideFiles(files);
        QCOMPARE(View::taskQueue(*window),
            (QStringList { path("-dash.m4a"), path("absolute.mp3"), path("relative name.wav") }));
    }

    void secondStartHandsFilesOver()
    {
        const QString name = str("tovarin-test-%1").arg(QCoreApplication::applicationPid());
        QVERIFY(!InstanceChannel::sendFiles(name, { path("a.mp3") }, 2000));

        InstanceChannel running(name);
        QVERIFY(running.listen());
        QSignalSpy received(&running, &InstanceChannel::filesReceived);
        const QStringList files = { path("会议 记录.mp3"), path("-x \"q\".wav") };
        std::atomic<bool> senderDone { false };
        bool taken = false;
        // The handler holds a notice open (a loop of its own) until the sender has given up or
        // got its answer: the answer must come first, and the socket must outlive nothing.
        connect(&running, &InstanceChannel::filesReceived, this,
            [&] { QVERIFY(QTest::qWaitFor([&] { return senderDone.load(); }, 30000)); });
        std::thread later([&] {
            taken = InstanceChannel::sendFiles(name, files, 3000);
            senderDone = true;
        });
        const bool arrived = received.wait(30000);
        later.join();
        QVERIFY(arrived && taken);
        QCOMPARE(received.first().first().toStringList(), files);
    }

    // What reaches the socket is bounded: a count of 2^28 allocates nothing, a connection that
    // sends nothing or a part only is dropped, and none of it reaches the window.
    void instanceMessagesAreBounded()
    {
        const QStringList files = { path("a.mp3"), QString(), str("会议.wav") };
        QStringList decoded;
        const QByteArray message = InstanceChannel::encode(files);
        QCOMPARE(InstanceChannel::decode(message, &decoded), InstanceChannel::Parse::Complete);
        QCOMPARE(decoded, files);
        QCOMPARE(InstanceChannel::decode(message.left(message.size() - 1), &decoded),
            InstanceChannel::Parse::Incomplete);
        QCOMPARE(InstanceChannel::decode(message + "x", &decoded), InstanceChannel::Parse::Invalid);
        QCOMPARE(InstanceChannel::decode(QByteArray::fromHex("10000000"), &decoded),
            InstanceChannel::Parse::Invalid);
        // One path claiming 2 GiB.
        QCOMPARE(InstanceChannel::decode(QByteArray::fromHex("000000017ffffffe"), &decoded),
            InstanceChannel::Parse::Invalid);

        const QString name = str("tovarin-bounds-%1").arg(QCoreApplication::applicationPid());
        InstanceChannel running(name);
        running.setReadTimeoutMs(300);
        QVERIFY(running.listen());
        QSignalSpy received(&running, &InstanceChannel::filesReceived);
        for (const QByteArray &sent :
            { QByteArray::fromHex("10000000"), QByteArray(), message.left(6) }) {
            QLocalSocket socket;
            socket.connectToServer(name);
            QVERIFY(socket.waitForConnected(5000));
            socket.write(sent);
            socket.flush();
            QTRY_VERIFY_WITH_TIMEOUT(socket.state() == QLocalSocket::UnconnectedState, 30000);
            QCOMPARE(socket.read(1), QByteArray());
        }
        QVERIFY(received.isEmpty());
    }

    // The window starts the service before its first token request and ends it when it goes.
    // Two files of one base name get a transcript each; the copies are made in the window's
    // own folder, never beside the sources.
    void windowStartsAndEndsTheService()
    {
        writeFile(path("speech.txt"), "the weather was cold this morning");
        QVERIFY(makeSpeechWav(path("speech.txt"), path("spoken.wav")));
        QVERIFY(QDir().mkpath(path("b")) && QFile::copy(path("spoken.wav"), path("b/spoken.wav")));
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const int port = probe.serverPort();
        probe.close();

        window->setServiceBaseUrl(str("http://127.0.0.1:%1").arg(port));
        window->setServiceAutoStart(true);
        window->serviceStarter()->setProgram(SpeechServiceProcess::program());
        View::combo(*window, "languageCombo")->setCurrentText(str("英文"));
        window->addOutsideFiles({ path("spoken.wav"), path("b/spoken.wav") });
        View::button(*window, "startConvertButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!dialogs->notices.isEmpty(), 240000);
        QCOMPARE(dialogs->noticeTexts(), QStringList { str("文件已经全部转换完成！") });
        for (const char *transcript : { "myWordFiles/spoken.txt", "myWordFiles/spoken (2).txt" })
            QVERIFY2(QFileInfo(path(transcript)).size() > 0, transcript);
        QVERIFY(!QFile::exists(path("spoken_16k.wav")) && !QFile::exists(path("b/spoken_16k.wav")));
        QVERIFY(!View::accessToken(*window).isEmpty());
        const qint64 pid = window->serviceStarter()->startedServicePid();
        QVERIFY(pid > 0);

        window.reset();
        QVERIFY(::kill(pid_t(pid), 0) != 0);
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, quint16(port));
        QVERIFY(!socket.waitForConnected(5000));
    }

    // The service is proven before every file, not only when the job asks for its token: one
    // killed between two files is started again, and a listener that took the port after a
    // file gets neither the next file's audio nor the token.
    void windowProvesTheServiceBeforeEachFile()
    {
        writeFile(path("speech.txt"), "the weather was cold this morning");
        QVERIFY(makeSpeechWav(path("speech.txt"), path("one.wav")));
        QVERIFY(QFile::copy(path("one.wav"), path("two.wav"))
            && QFile::copy(path("one.wav"), path("three.wav")));
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const int port = probe.serverPort();
        probe.close();
        // Answers as the service would, but holds no secret of the user's.
        using Reply = ScriptedHttpPeer::Reply;
        ScriptedHttpPeer standIn;
        standIn.setFallback("/oauth/2.0/token", Reply::json(R"({"access_token":"x"})"));
        standIn.setFallback("/tovarin/owner-proof", Reply::json(R"({"proof":"00"})"));
        standIn.setFallback("/server_api", Reply::json(R"({"err_no":0,"result":["stolen"]})"));

        window->setServiceBaseUrl(str("http://127.0.0.1:%1").arg(port));
        window->setServiceAutoStart(true);
        window->serviceStarter()->setProgram(SpeechServiceProcess::program());
        QList<qint64> services;
        QStringList written;
        // Between two files: the service ends; after the second, another listener takes the port.
        connect(window->transcriptionJob(), &TranscriptionJob::fileFinished, this,
            [&](const QString &, const QString &transcript) {
                written << transcript;
                services << window->serviceStarter()->startedServicePid();
                ::kill(pid_t(services.last()), SIGKILL);
                const QDeadlineTimer limit(30000);
                if (services.size() == 1) {
                    QTcpSocket socket;
                    do {
                        socket.abort();
                        socket.connectToHost(QHostAddress::LocalHost, quint16(port));
                    } while (socket.waitForConnected(5000) && !limit.hasExpired());
                } else {
                    while (!standIn.start(port) && !limit.hasExpired())
                        QThread::yieldCurrentThread();
                }
            });
        View::combo(*window, "languageCombo")->setCurrentText(str("英文"));
        window->addOutsideFiles({ path("one.wav"), path("two.wav"), path("three.wav") });
        View::button(*window, "startConvertButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!dialogs->notices.isEmpty(), 240000);
        QCOMPARE(dialogs->noticeTexts(),
            QStringList { str("端口%1上的语音服务不是本程序启动的，无法使用！").arg(port) });
        QCOMPARE(services.size(), 2);
        QVERIFY(services[0] > 0 && services[1] > 0 && services[0] != services[1]);
        // Two transcripts, from the user's services; nothing of the third file's.
        QCOMPARE(written.size(), 2);
        for (const QString &transcript : written)
            QVERIFY2(QFileInfo(transcript).size() > 0, qPrintable(transcript));
        QCOMPARE(QDir(path("myWordFiles")).entryList(QDir::Files).size(), 2);
        QVERIFY(!standIn.requestsTo("/tovarin/owner-proof").isEmpty());
        for (const ScriptedHttpPeer::Request &request : standIn.requests)
            QVERIFY2(request.path != "/server_api" && !request.query.contains("client"),
                request.path.constData());
    }

    // A new user's first job, in the default 中文近场, with the built-in service: the service is
    // asked which languages it has before anything is converted, and the answer is kept.
    void firstJobInAMissingLanguageIsRefusedBeforeConversion()
    {
        qputenv("XDG_CACHE_HOME", (dir->path() + str("/cache")).toLocal8Bit());
        writeFile(path("speech.txt"), "the weather was cold this morning");
        QVERIFY(makeSpeechWav(path("speech.txt"), path("spoken.wav")));
        window->setServiceBaseUrl(SpeechServiceStarter::builtInUrl());
        window->setServiceAutoStart(true);
        window->serviceStarter()->setProgram(SpeechServiceProcess::program());
        QCOMPARE(View::combo(*window, "languageCombo")->currentText(), str("中文近场"));
        window->addOutsideFiles({ path("spoken.wav") });
        View::button(*window, "startConvertButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!dialogs->notices.isEmpty(), 120000);
        const QString notice = dialogs->notices.last().text;
        QVERIFY2(notice.startsWith(str("该语音服务没有“中文近场”的模型，它提供的语言："))
                && notice.contains(str("英文")),
            qPrintable(notice));
        QVERIFY(window->serviceStarter()->startedServicePid() > 0);
        QCOMPARE(View::taskQueue(*window), QStringList { path("spoken.wav") });
        QDirIterator files(dir->path(), QDir::Files, QDirIterator::Subdirectories);
        while (files.hasNext())
            QVERIFY2(!files.next().endsWith(str("_16k.wav")), qPrintable(files.filePath()));
        QFile kept(dir->path() + str("/cache/tovarin/languages.json"));
        QVERIFY(kept.open(QIODevice::ReadOnly) && kept.readAll().contains("英文"));
        qunsetenv("XDG_CACHE_HOME");
    }

    void windowSaysWhenNoServiceCanStart()
    {
        writeFile(path("a.mp3"));
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        window->setServiceBaseUrl(str("http://127.0.0.1:%1").arg(probe.serverPort()));
        probe.close();
        window->setServiceAutoStart(true);
        window->serviceStarter()->setProgram(QString());
        window->addOutsideFiles({ path("a.mp3") });
        View::button(*window, "startConvertButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!dialogs->notices.isEmpty(), 30000);
        QCOMPARE(dialogs->noticeTexts(),
            QStringList { str("未找到语音服务程序speech-service，无法启动语音服务！") });
        QVERIFY(View::button(*window, "startConvertButton")->isEnabled()
            && !View::button(*window, "stopConvertButton")->isEnabled());
        QCOMPARE(View::taskQueue(*window), QStringList { path("a.mp3") });
    }
};

QTEST_MAIN(TestDesktopFiles)
#include "tst_desktopfiles.moc"
