// The program as a desktop meets it: folders installed or portable, files dropped on the window
// or given on the command line, files handed over by a second start, the speech service started
// and ended by the window.
#include "ui/appglobals.h"
#include "app/instancechannel.h"
#include "core/programlayout.h"
#include "app/startup.h"
#include "asr/speechservicestarter.h"
#include "common/scripteddialogs.h"
#include "common/speechservice.h"
#include "ui/widget.h"

#include <QComboBox>
#include <QDir>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>

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

QStringList comboTexts(const QComboBox *combo)
{
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i)
        texts << combo->itemText(i);
    return texts;
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
        AppGlobals::screenWidth = 1920;
        AppGlobals::screenHeight = 1080;
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
        AppGlobals::appDir = dir->path();
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
        QCOMPARE(window->taskFiles, expected);
        QCOMPARE(comboTexts(window->taskFileCombo),
            (QStringList { str("talk one.wav"), str("会议 \"引号\" 'x'.mp3"), str("-dash.m4a"),
                str("link.wav") }));

        // Dropped again: nothing twice. Nothing but a folder and a text: the drag is refused.
        QVERIFY(dropOn(window.get(), fileUrls(media)));
        QCOMPARE(window->taskFiles, expected);
        QVERIFY(!dropOn(window.get(), fileUrls({ path("notes.txt"), path("folder.mp3") })));
        QCOMPARE(window->taskFiles, expected);
        QVERIFY(dialogs->notices.isEmpty());
    }

    void dropOnTheTextPaneAndDuringAJob()
    {
        writeFile(path("a.mp3"));
        writeFile(path("b.mp3"));
        window->textEdit->setPlainText(str("kept as typed"));
        window->textEdit->show();
        // The text pane does not paste the file's address into the transcript.
        QVERIFY(dropOn(window->textEdit->viewport(), fileUrls({ path("a.mp3") })));
        QCOMPARE(window->taskFiles, QStringList { path("a.mp3") });
        QCOMPARE(window->textEdit->toPlainText(), str("kept as typed"));

        // While a job runs the front entry stays as it is: the user is told. The job waits for
        // a token from a peer that never answers.
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        window->setServiceBaseUrl(str("http://127.0.0.1:%1").arg(silent.serverPort()));
        window->startConvertButton->click();
        QVERIFY(window->stopConvertButton->isEnabled());
        QVERIFY(dropOn(window.get(), fileUrls({ path("b.mp3") })));
        QCOMPARE(window->taskFiles, QStringList { path("a.mp3") });
        QCOMPARE(dialogs->noticeTexts(), QStringList { str("正在转换，请稍后再添加文件！") });
        window->stopConvertButton->click();
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
        QCOMPARE(window->taskFiles,
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
        bool taken = false;
        // The later start blocks until the files are taken; the running one needs its loop.
        std::thread later([&] { taken = InstanceChannel::sendFiles(name, files, 30000); });
        const bool arrived = received.wait(30000);
        later.join();
        QVERIFY(arrived && taken);
        QCOMPARE(received.first().first().toStringList(), files);
    }

    // The window starts the service before its first token request and ends it when it goes.
    void windowStartsAndEndsTheService()
    {
        writeFile(path("speech.txt"), "the weather was cold this morning");
        QVERIFY(makeSpeechWav(path("speech.txt"), path("spoken.wav")));
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const int port = probe.serverPort();
        probe.close();

        window->setServiceBaseUrl(str("http://127.0.0.1:%1").arg(port));
        window->setServiceAutoStart(true);
        window->serviceStarter()->setProgram(SpeechServiceProcess::program());
        window->languageCombo->setCurrentText(str("英文"));
        window->addOutsideFiles({ path("spoken.wav") });
        window->startConvertButton->click();
        QTRY_VERIFY_WITH_TIMEOUT(!dialogs->notices.isEmpty(), 120000);
        QCOMPARE(dialogs->noticeTexts(), QStringList { str("文件已经全部转换完成！") });
        QVERIFY(!window->accessToken.isEmpty());
        const qint64 pid = window->serviceStarter()->startedServicePid();
        QVERIFY(pid > 0);

        window.reset();
        QVERIFY(::kill(pid_t(pid), 0) != 0);
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, quint16(port));
        QVERIFY(!socket.waitForConnected(5000));
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
        window->startConvertButton->click();
        QTRY_VERIFY_WITH_TIMEOUT(!dialogs->notices.isEmpty(), 30000);
        QCOMPARE(dialogs->noticeTexts(),
            QStringList { str("未找到语音服务程序speech-service，无法启动语音服务！") });
        QVERIFY(window->startConvertButton->isEnabled() && !window->stopConvertButton->isEnabled());
        QCOMPARE(window->taskFiles, QStringList { path("a.mp3") });
    }
};

QTEST_MAIN(TestDesktopFiles)
#include "tst_desktopfiles.moc"
