// The program as a whole under the faults users meet: the real window (offscreen) and real
// ffmpeg, with a scripted peer in place of the speech service (recognition by the real one is
// proved in tst_endtoend and tst_resume). Every case checks that the user is told, that the
// window is Idle again, and that no file of the user's is lost.
#include <QApplication>
#include <QListWidget>
#include <QSignalSpy>

#include <csignal>
#include <sys/types.h>

#include "asr/accesstoken.h"
#include "asr/backoff.h"
#include "asr/qthttpclass.h"
#include "asr/transcriptionjob.h"
#include "common/drivenjob.h"
#include "common/scripteddialogs.h"
#include "common/scriptedhttppeer.h"
#include "common/windowview.h"
#include "faultkit.h"
#include "ui/widget.h"

using namespace FaultKit;

namespace {
const QString done = QStringLiteral("文件已经全部转换完成！");
const QString networkFailed = QStringLiteral("转换失败，请检查网络信号是否充足！");
const QString tokenFailed = QStringLiteral("获取访问令牌失败，请检查网络连接是否断开！");
const QString authFailed = QStringLiteral("鉴权失败！");
const QString noFfmpeg = QStringLiteral("未找到ffmpeg程序，无法处理音频！");
const QString conversionFailed = QStringLiteral("音频转换失败，请检查文件是否完整！");
const QString cutFailed = QStringLiteral("音频分割失败！");
const QString noDuration = QStringLiteral("无法读取音频时长，请检查文件格式！");
const QString sentenceA
    = QStringLiteral("The children played in the park until the sun went down.");
const QString sentenceB = QStringLiteral("My grandmother grows vegetables in her garden.");
const QString sentenceC
    = QStringLiteral("We took the train to visit our grandparents in the country.");
} // namespace

class FaultsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void serviceNotRunningAtStart();
    void serviceKilledMidJobThenBack();
    void serviceRestartedWithNewKey();
    void serviceMisbehaves_data();
    void serviceMisbehaves();
    void stopWhileAuthenticatingOrBackingOff();
    void ffmpegMissingFromPath();
    void ffmpegKilledDuringConversionAndCut();
    void badInputFiles_data();
    void badInputFiles();
    void awkwardButValidNames_data();
    void awkwardButValidNames();
    void fileRenamedWhileJobRuns();
    void staleSegmentsAreNeverSent();
    void programKilledMidJobLosesNothing();
    void stopAtEveryState_data();
    void stopAtEveryState();
    void transcriptFolderNotWritable();
    void twoJobsInARowAndARecordingDuringAJob();

private:
    void newWindow();
    // The scripted peer in place of the service, for cases where recognition is not what is
    // tested: it gives a token and answers every segment with the words of sentence A.
    void startPeer();
    void addTasks(const QStringList &paths);
    bool runToNotice(int timeoutMs = 60000);
    void verifyIdle();
    void verifyNothingLost();
    // No process, request or timer of the job is left to move it on after a stop.
    void verifyNothingUnderWay();
    QString transcriptOf(const QString &taskFile) const;

    QTemporaryDir *home = nullptr;
    ScriptedDialogs *dialogs = nullptr;
    Widget *window = nullptr;
    ScriptedHttpPeer *peer = nullptr;
    FileRecord record;
    // Three 5 s segments of tone, made once for every case.
    QTemporaryDir media;
    QString longTone;
};

namespace {
const int shortSegment = 5;
}

void FaultsTest::initTestCase()
{
    QVERIFY(media.isValid());
    longTone = media.filePath(QStringLiteral("long.wav"));
    QVERIFY(ffmpeg({ QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
        QStringLiteral("sine=frequency=300:duration=%1").arg(3 * shortSegment), longTone }));
}

void FaultsTest::init()
{
    home = new QTemporaryDir;
    QVERIFY(home->isValid());
    AppGlobals::setAppDir(home->path());
    dialogs = new ScriptedDialogs;
}

void FaultsTest::cleanup()
{
    delete window;
    window = nullptr;
    delete peer;
    peer = nullptr;
    delete dialogs;
    dialogs = nullptr;
    delete home;
    home = nullptr;
}

void FaultsTest::newWindow()
{
    delete window;
    window = new Widget;
    View::combo(*window, "languageCombo")->setCurrentText(QStringLiteral("英文"));
    if (peer)
        window->setServiceBaseUrl(peer->baseUrl());
}

void FaultsTest::startPeer()
{
    delete peer;
    peer = new ScriptedHttpPeer;
    QVERIFY(peer->start());
    peer->setFallback("/oauth/2.0/token",
        ScriptedHttpPeer::Reply::json(R"({"access_token":"t","expires_in":2592000})"));
    peer->setFallback("/server_api",
        ScriptedHttpPeer::Reply::json(R"({"err_no":0,"err_msg":"success.","sn":"1","result":[")"
            + sentenceA.toUtf8() + "\"]}"));
}

void FaultsTest::addTasks(const QStringList &paths)
{
    dialogs->openResults.enqueue(paths);
    View::button(*window, "uploadButton")->click();
}

bool FaultsTest::runToNotice(int timeoutMs)
{
    const int before = dialogs->notices.size();
    // Sleeps in the event loop until a notice shows, so the peer and ffmpeg keep the cores.
    QEventLoop loop;
    dialogs->onInformation = [&](const QString &) { loop.quit(); };
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    View::button(*window, "startConvertButton")->click();
    if (dialogs->notices.size() == before)
        loop.exec();
    dialogs->onInformation = nullptr;
    return dialogs->notices.size() > before;
}

void FaultsTest::verifyIdle()
{
    QCOMPARE(View::button(*window, "startConvertButton")->text(), QStringLiteral("开始转换"));
    QVERIFY(View::button(*window, "startConvertButton")->isEnabled());
    QVERIFY(!View::button(*window, "stopConvertButton")->isEnabled());
    QVERIFY(View::button(*window, "closeDocButton")->isEnabled());
    QVERIFY(View::button(*window, "uploadButton")->isEnabled());
    QVERIFY(View::button(*window, "clearListButton")->isEnabled());
}

void FaultsTest::verifyNothingUnderWay()
{
    TranscriptionJob *job = window->transcriptionJob();
    for (QProcess *process :
        { View::convertProcess(*window), View::probeProcess(*window), View::cutProcess(*window) })
        QCOMPARE(process->state(), QProcess::NotRunning);
    QCOMPARE(View::http(*window)->outstandingRequests(AccessToken::RequestId), 0);
    QCOMPARE(View::http(*window)->outstandingRequests(TranscriptionJob::SpeechRequestId), 0);
    // The reply's and the token's time limits, the back-off.
    for (const QTimer *timer : job->findChildren<QTimer *>())
        QVERIFY2(!timer->isActive(), timer->parent()->metaObject()->className());
}

void FaultsTest::verifyNothingLost()
{
    const QStringList lost = record.lost();
    QVERIFY2(lost.isEmpty(), qPrintable(lost.join(QLatin1Char(' '))));
}

QString FaultsTest::transcriptOf(const QString &taskFile) const
{
    return home->filePath(QStringLiteral("myWordFiles/") + QFileInfo(taskFile).completeBaseName()
        + QStringLiteral(".txt"));
}

void FaultsTest::serviceNotRunningAtStart()
{
    const QString clip = home->filePath(QStringLiteral("a.wav"));
    QVERIFY(makeClip(clip, sentenceA));
    newWindow();
    // Nothing listens on this port.
    window->setServiceBaseUrl(QStringLiteral("http://127.0.0.1:1"));
    addTasks({ clip });
    record.take({ home->path() });

    QVERIFY(runToNotice());
    QCOMPARE(dialogs->notices.last().text, tokenFailed);
    verifyIdle();
    verifyNothingLost();
    QCOMPARE(View::taskQueue(*window), QStringList { clip });
}

void FaultsTest::serviceKilledMidJobThenBack()
{
    const QString a = home->filePath(QStringLiteral("a.wav"));
    const QString b = home->filePath(QStringLiteral("b.mp3"));
    const QString c = home->filePath(QStringLiteral("c.m4a"));
    QVERIFY(makeClip(a, sentenceA));
    QVERIFY(makeClip(b, sentenceB));
    QVERIFY(makeClip(c, sentenceC));
    startPeer();
    // The service dies right after the first file's only segment is answered: every later
    // connection breaks until it is back. Then it answers the other two files.
    bool down = false;
    QStringList answers { sentenceC, sentenceB, sentenceA };
    peer->setHandler("/server_api", [&](const ScriptedHttpPeer::Request &) {
        if (down || answers.isEmpty())
            return ScriptedHttpPeer::Reply::closing();
        down = answers.size() == 3;
        return ScriptedHttpPeer::Reply::json(
            R"({"err_no":0,"result":[")" + answers.takeFirst().toUtf8() + "\"]}");
    });
    newWindow();
    addTasks({ a, b, c }); // the job takes c first, then b, then a
    record.take({ home->path() });

    QVERIFY(runToNotice());
    QCOMPARE(dialogs->notices.last().text, networkFailed);
    verifyIdle();
    verifyNothingLost();
    QCOMPARE(readTranscript(transcriptOf(c)).trimmed(), sentenceC);
    QVERIFY(!QFile::exists(transcriptOf(b)));
    QCOMPARE(View::taskQueue(*window), (QStringList { b, a }));
    QCOMPARE(View::combo(*window, "taskFileCombo")->count(), 2);

    // Back with the stored token still good: the next run asks for none.
    record.add(transcriptOf(c));
    down = false;
    QVERIFY(runToNotice());
    QCOMPARE(dialogs->notices.last().text, done);
    verifyIdle();
    verifyNothingLost();
    QCOMPARE(peer->requestsTo("/oauth/2.0/token").size(), 1);
    QCOMPARE(readTranscript(transcriptOf(b)).trimmed(), sentenceB);
    QCOMPARE(readTranscript(transcriptOf(a)).trimmed(), sentenceA);
    QVERIFY(View::taskQueue(*window).isEmpty());
}

void FaultsTest::serviceRestartedWithNewKey()
{
    const QString a = home->filePath(QStringLiteral("a.wav"));
    QVERIFY(makeClip(a, sentenceA));
    startPeer();
    // Each token asked for is a new one; the restarted service refuses the first.
    int tokens = 0;
    peer->setHandler("/oauth/2.0/token", [&](const ScriptedHttpPeer::Request &) {
        return ScriptedHttpPeer::Reply::json(QByteArray(R"({"access_token":"t)")
            + QByteArray::number(++tokens) + R"(","expires_in":2592000})");
    });
    newWindow();
    addTasks({ a });
    QVERIFY(runToNotice());
    QCOMPARE(dialogs->notices.last().text, done);
    const QString token = View::accessToken(*window);
    QVERIFY(!token.isEmpty());

    peer->enqueue("/server_api", ScriptedHttpPeer::Reply::json(R"({"err_no":3302})"));
    addTasks({ a });
    record.take({ home->path() });
    QVERIFY(runToNotice());
    QCOMPARE(dialogs->notices.last().text, authFailed);
    verifyIdle();
    verifyNothingLost();
    QVERIFY(View::accessToken(*window).isEmpty());

    QVERIFY(runToNotice());
    QCOMPARE(dialogs->notices.last().text, done);
    QVERIFY(!View::accessToken(*window).isEmpty());
    QVERIFY(View::accessToken(*window) != token);
    const QList<ScriptedHttpPeer::Request> sent = peer->requestsTo("/server_api");
    QCOMPARE(sent.size(), 3);
    QVERIFY(sent.last().body.contains(View::accessToken(*window).toUtf8()));
    QVERIFY(readTranscript(transcriptOf(a)).contains(sentenceA));
}

// What a broken service in place of ours may do; the peer stands in for it.
void FaultsTest::serviceMisbehaves_data()
{
    QTest::addColumn<int>("action");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("message");
    QTest::newRow("slower than the request limit")
        << int(ScriptedHttpPeer::Reply::Silent) << QByteArray() << networkFailed;
    QTest::newRow("garbage") << int(ScriptedHttpPeer::Reply::Answer)
                             << QByteArray("\x89PNG not json at all")
                             << QStringLiteral("语音服务返回了无法识别的数据！");
    QTest::newRow("connection closed half-way")
        << int(ScriptedHttpPeer::Reply::Close) << QByteArray() << networkFailed;
}

void FaultsTest::serviceMisbehaves()
{
    QFETCH(int, action);
    QFETCH(QByteArray, body);
    QFETCH(QString, message);
    const QString a = home->filePath(QStringLiteral("a.wav"));
    QVERIFY(makeClip(a, sentenceA));
    ScriptedHttpPeer peer;
    QVERIFY(peer.start());
    peer.setFallback("/oauth/2.0/token",
        ScriptedHttpPeer::Reply::json(R"({"access_token":"t","expires_in":2592000})"));
    ScriptedHttpPeer::Reply reply = ScriptedHttpPeer::Reply::json(body);
    reply.action = ScriptedHttpPeer::Reply::Action(action);
    peer.setFallback("/server_api", reply);
    newWindow();
    window->setServiceBaseUrl(peer.baseUrl());
    window->setRecognitionTimeoutMs(1500);
    addTasks({ a });
    record.take({ home->path() });

    QVERIFY(runToNotice());
    QCOMPARE(dialogs->notices.last().text, message);
    verifyIdle();
    verifyNothingLost();
    QVERIFY(!QFile::exists(transcriptOf(a)));
    QCOMPARE(View::taskQueue(*window), QStringList { a });
}

void FaultsTest::stopWhileAuthenticatingOrBackingOff()
{
    const QString a = home->filePath(QStringLiteral("a.wav"));
    QVERIFY(makeClip(a, sentenceA));
    ScriptedHttpPeer peer;
    QVERIFY(peer.start());
    const QByteArray token = R"({"access_token":"t","expires_in":2592000})";
    peer.enqueue("/oauth/2.0/token", ScriptedHttpPeer::Reply::json(token).after(300));
    peer.setFallback("/oauth/2.0/token", ScriptedHttpPeer::Reply::json(token));
    peer.setFallback("/server_api", ScriptedHttpPeer::Reply::json(R"({"err_no":3304})"));
    newWindow();
    window->setServiceBaseUrl(peer.baseUrl());
    // A drawn second of the back-off lasts 50 ms: the whole wait is over within half a second.
    window->setBackoffScale(0.05);
    addTasks({ a });
    record.take({ home->path() });

    // Authenticating: the token is on its way when stop is pressed; it must not start the job.
    View::button(*window, "startConvertButton")->click();
    QTRY_COMPARE_WITH_TIMEOUT(
        View::button(*window, "startConvertButton")->text(), QStringLiteral("认证中..."), 20000);
    View::button(*window, "stopConvertButton")->click();
    verifyIdle();
    // Nothing is left that could bring it: the request is dropped (it may not even have
    // reached the peer) and no time limit is set.
    verifyNothingUnderWay();
    QCoreApplication::processEvents();
    verifyIdle();
    QVERIFY(View::accessToken(*window).isEmpty());
    QVERIFY(peer.requestsTo("/server_api").isEmpty());

    // Backing off: the service is busy, and stop is pressed during the wait.
    // Stopped as soon as the job begins the wait the busy answer started.
    connect(window->transcriptionJob(), &TranscriptionJob::stepChanged, this,
        [&](TranscriptionJob::Step step) {
            if (step == TranscriptionJob::Step::BackingOff)
                QTimer::singleShot(
                    0, View::button(*window, "stopConvertButton"), &QPushButton::click);
        });
    View::button(*window, "startConvertButton")->click();
    QTRY_VERIFY_WITH_TIMEOUT(!peer.requestsTo("/server_api").isEmpty(), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(!View::button(*window, "stopConvertButton")->isEnabled(), 5000);
    QVERIFY(View::button(*window, "startConvertButton")->text() == QStringLiteral("开始转换"));
    const int sent = peer.requestsTo("/server_api").size();
    QCOMPARE(sent, 1);
    // The wait is over with the stop: nothing is left to send the segment again.
    verifyNothingUnderWay();
    QCoreApplication::processEvents();
    verifyIdle();
    QCOMPARE(peer.requestsTo("/server_api").size(), sent);
    QCOMPARE(View::textPane(*window)->toPlainText(), QString());
    verifyNothingLost();
    QCOMPARE(View::taskQueue(*window), QStringList { a });
}

void FaultsTest::ffmpegMissingFromPath()
{
    const QString a = home->filePath(QStringLiteral("a.wav"));
    QVERIFY(makeClip(a, sentenceA));
    startPeer();
    newWindow();
    addTasks({ a });
    record.take({ home->path() });

    QTemporaryDir emptyBin;
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", emptyBin.path().toUtf8());
    const bool noticed = runToNotice();
    qputenv("PATH", path);
    QVERIFY(noticed);
    QCOMPARE(dialogs->notices.last().text, noFfmpeg);
    verifyIdle();
    verifyNothingLost();
    QCOMPARE(View::taskQueue(*window), QStringList { a });
    QCOMPARE(View::textPane(*window)->toPlainText(), QString());

    // With ffmpeg back the same task goes through.
    QVERIFY(runToNotice());
    QCOMPARE(dialogs->notices.last().text, done);
}

void FaultsTest::ffmpegKilledDuringConversionAndCut()
{
    // Long enough to be cut into three segments.
    const QString longFile = home->filePath(QStringLiteral("long.mp3"));
    QVERIFY(ffmpeg({ QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
        QStringLiteral("sine=frequency=300:duration=15"), longFile }));
    startPeer();
    newWindow();
    window->setSegmentSeconds(shortSegment);
    addTasks({ longFile });
    record.take({ home->path() });

    auto killOnStart = [](QProcess *process) {
        return connect(process, &QProcess::started, process,
            [process] { ::kill(pid_t(process->processId()), SIGKILL); });
    };
    QMetaObject::Connection c1 = killOnStart(View::convertProcess(*window));
    QVERIFY(runToNotice());
    disconnect(c1);
    QCOMPARE(dialogs->notices.last().text, conversionFailed);
    verifyIdle();
    verifyNothingLost();
    QCOMPARE(View::taskQueue(*window), QStringList { longFile });

    QMetaObject::Connection c2 = killOnStart(View::cutProcess(*window));
    QVERIFY(runToNotice());
    disconnect(c2);
    QCOMPARE(dialogs->notices.last().text, cutFailed);
    verifyIdle();
    verifyNothingLost();
    // A restart begins with the file as the user added it.
    QCOMPARE(View::taskQueue(*window), QStringList { longFile });
}

void FaultsTest::badInputFiles_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QStringList>("messages");
    const QStringList unreadable { conversionFailed, noDuration };
    QTest::newRow("zero bytes") << "empty" << unreadable;
    QTest::newRow("random bytes") << "random" << unreadable;
    QTest::newRow("directory") << "directory" << unreadable;
    QTest::newRow("deleted after added") << "deleted" << unreadable;
    // A cut-off file still holds some speech: it is either transcribed or refused, never stuck.
    QTest::newRow("truncated") << "truncated"
                               << (unreadable
                                      + QStringList { done, QStringLiteral("音频长度过短！") });
}

void FaultsTest::badInputFiles()
{
    QFETCH(QString, kind);
    QFETCH(QStringList, messages);
    startPeer();
    newWindow();
    QString path = home->filePath(QStringLiteral("input.mp3"));
    if (kind == QLatin1String("empty")) {
        QVERIFY(writeFile(path, QByteArray()));
    } else if (kind == QLatin1String("random")) {
        QByteArray noise(200000, '\0');
        for (int i = 0; i < noise.size(); ++i)
            noise[i] = char(QRandomGenerator::global()->generate());
        QVERIFY(writeFile(path, noise));
    } else if (kind == QLatin1String("directory")) {
        path = home->filePath(QStringLiteral("folder.wav"));
        QVERIFY(QDir().mkpath(path));
    } else if (kind == QLatin1String("deleted")) {
        QVERIFY(makeClip(path, sentenceA));
    } else if (kind == QLatin1String("truncated")) {
        QVERIFY(makeClip(path, sentenceA + QLatin1Char(' ') + sentenceB));
        QByteArray bytes = readAll(path);
        QVERIFY(writeFile(path, bytes.left(bytes.size() / 3)));
    }
    addTasks({ path });
    if (kind == QLatin1String("deleted"))
        QVERIFY(QFile::remove(path));
    record.take({ home->path() });

    QVERIFY(runToNotice());
    QVERIFY2(
        messages.contains(dialogs->notices.last().text), qPrintable(dialogs->notices.last().text));
    verifyIdle();
    verifyNothingLost();
    // No half-written transcript is left for a file that failed.
    if (dialogs->notices.last().text != done)
        QVERIFY(!QFile::exists(transcriptOf(path)));
}

void FaultsTest::awkwardButValidNames_data()
{
    QTest::addColumn<QString>("relativePath");
    QTest::newRow("quotes, blanks and Chinese") << QStringLiteral("it's \"my\" 会议 录音 v1.2.mp3");
    QTest::newRow("path over 200 characters")
        << (QString(QLatin1Char('d')).repeated(90) + QLatin1Char('/')
               + QString(QLatin1Char('e')).repeated(90) + QStringLiteral("/long name.wav"));
}

void FaultsTest::awkwardButValidNames()
{
    QFETCH(QString, relativePath);
    const QString path = home->filePath(relativePath);
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QVERIFY(makeClip(path, sentenceB));
    startPeer();
    newWindow();
    addTasks({ path });
    record.take({ home->path() });

    QVERIFY(runToNotice());
    QCOMPARE(dialogs->notices.last().text, done);
    verifyIdle();
    verifyNothingLost();
    QCOMPARE(peer->requestsTo("/server_api").size(), 1);
    const QString text = readTranscript(transcriptOf(path));
    QVERIFY2(text.contains(sentenceA), qPrintable(text));
}

void FaultsTest::fileRenamedWhileJobRuns()
{
    const QString path = home->filePath(QStringLiteral("talk.mp3"));
    const QString moved = home->filePath(QStringLiteral("talk renamed.mp3"));
    QVERIFY(makeClip(path, sentenceC));
    startPeer();
    newWindow();
    addTasks({ path });
    // The user renames the file while the job measures its converted copy.
    connect(View::probeProcess(*window), &QProcess::started, window,
        [&] { QVERIFY(QFile::rename(path, moved)); });

    QVERIFY(runToNotice());
    QCOMPARE(dialogs->notices.last().text, done);
    verifyIdle();
    QVERIFY(QFile::exists(moved));
    QVERIFY(readTranscript(transcriptOf(path)).contains(sentenceA));
}

void FaultsTest::staleSegmentsAreNeverSent()
{
    QVERIFY(QDir(home->path()).mkpath(QStringLiteral("myTmpWAVFiles")));
    for (int k = 0; k < 4; ++k) {
        QVERIFY(makeClip(home->filePath(QStringLiteral("myTmpWAVFiles/%1.wav").arg(k)),
            QStringLiteral("Stale words from a job that was killed.")));
    }
    const QByteArray stale = readAll(home->filePath(QStringLiteral("myTmpWAVFiles/0.wav")));
    const QString a = home->filePath(QStringLiteral("a.wav"));
    QVERIFY(makeClip(a, sentenceA));
    startPeer();
    newWindow();
    addTasks({ a });

    QVERIFY(runToNotice());
    QCOMPARE(dialogs->notices.last().text, done);
    // One request, with this file's only segment, not a stale one.
    const QList<ScriptedHttpPeer::Request> sent = peer->requestsTo("/server_api");
    QCOMPARE(sent.size(), 1);
    QVERIFY(!stale.isEmpty() && !sent[0].body.contains(stale.toBase64()));
    QVERIFY(readTranscript(transcriptOf(a)).contains(sentenceA));
}

void FaultsTest::programKilledMidJobLosesNothing()
{
    // Five segments, so the job has segments on disk when it is killed.
    const QString longFile = home->filePath(QStringLiteral("long.wav"));
    QVERIFY(ffmpeg({ QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
        QStringLiteral("sine=frequency=300:duration=25"), longFile }));
    QVERIFY(QDir(home->path()).mkpath(QStringLiteral("myWAVFiles")));
    QVERIFY(QDir(home->path()).mkpath(QStringLiteral("myWordFiles")));
    QVERIFY(makeClip(home->filePath(QStringLiteral("myWAVFiles/recording.wav")), sentenceA));
    QVERIFY(writeFile(home->filePath(QStringLiteral("myWordFiles/earlier.txt")),
        QByteArray("an earlier transcript\n")));
    record.take({ home->path() });
    startPeer();

    // The job runs in a program of its own, which is killed once it is cutting or uploading.
    QProcess driver;
    driver.start(QCoreApplication::applicationFilePath(),
        DrivenJob::arguments(home->path(), longFile, peer->baseUrl(), shortSegment));
    QVERIFY(driver.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(
        QDir(home->filePath(QStringLiteral("myTmpWAVFiles"))).entryList(QDir::Files).size() >= 2,
        60000);
    ::kill(pid_t(driver.processId()), SIGKILL);
    QVERIFY(driver.waitForFinished(5000));
    verifyNothingLost();

    // Started again on the same folders: everything is listed, and the next job empties the
    // temporary folder before it cuts.
    newWindow();
    QVERIFY(
        window->audioPaths().contains(home->filePath(QStringLiteral("myWAVFiles/recording.wav"))));
    QVERIFY(window->transcriptPaths().contains(
        home->filePath(QStringLiteral("myWordFiles/earlier.txt"))));
    const QString clip = home->filePath(QStringLiteral("b.wav"));
    QVERIFY(makeClip(clip, sentenceB));
    addTasks({ clip });
    QVERIFY(runToNotice());
    QCOMPARE(dialogs->notices.last().text, done);
    verifyNothingLost();
    QVERIFY(QDir(home->filePath(QStringLiteral("myTmpWAVFiles"))).entryList(QDir::Files).isEmpty());
}

void FaultsTest::stopAtEveryState_data()
{
    QTest::addColumn<QString>("state");
    QTest::newRow("preprocessing") << "preprocessing";
    QTest::newRow("cutting") << "cutting";
    QTest::newRow("uploading") << "uploading";
}

void FaultsTest::stopAtEveryState()
{
    QFETCH(QString, state);
    const QString longFile = home->filePath(QStringLiteral("long.wav"));
    QVERIFY(QFile::copy(longTone, longFile));
    const QString second = home->filePath(QStringLiteral("b.wav"));
    QVERIFY(makeClip(second, sentenceB));
    startPeer();
    // Answered a little later, so that a request is still out when stop is pressed.
    peer->setFallback("/server_api",
        ScriptedHttpPeer::Reply::json(R"({"err_no":0,"result":[")" + sentenceA.toUtf8() + "\"]}")
            .after(200));
    newWindow();
    window->setSegmentSeconds(shortSegment);
    addTasks({ second, longFile }); // the long file is first
    record.take({ home->path() });

    bool stopped = false;
    auto stopNow = [&] {
        if (!stopped) {
            stopped = true;
            View::button(*window, "stopConvertButton")->click();
        }
    };
    if (state == QLatin1String("preprocessing"))
        connect(View::convertProcess(*window), &QProcess::started, window, stopNow);
    else if (state == QLatin1String("cutting"))
        connect(View::cutProcess(*window), &QProcess::started, window, stopNow);
    else
        connect(View::http(*window), &QtHttpClass::sigReplyFinish, window,
            [&](int id, const QByteArray &) {
                // The first recognition reply has been handled and the next request is out.
                if (id == 2 && !stopped)
                    QTimer::singleShot(0, window, stopNow);
            });

    View::button(*window, "startConvertButton")->click();
    QTRY_VERIFY_WITH_TIMEOUT(stopped, 60000);
    verifyIdle();
    const QString textAtStop = View::textPane(*window)->toPlainText();
    // Nothing that was under way when stop was pressed is left to move the job on, and the
    // answer to the last request has come due.
    verifyNothingUnderWay();
    QTRY_COMPARE_WITH_TIMEOUT(
        peer->repliesSent("/server_api"), peer->requestsTo("/server_api").size(), 20000);
    QCoreApplication::processEvents();
    verifyIdle();
    QCOMPARE(View::textPane(*window)->toPlainText(), textAtStop);
    QCOMPARE(textAtStop.isEmpty(), state != QLatin1String("uploading"));
    QVERIFY(dialogs->notices.isEmpty());
    verifyNothingLost();
    QCOMPARE(View::taskQueue(*window).first(), longFile);

    // A new start works from the first task file as it was added: its three segments (less
    // the one recognised before the stop, kept for resuming), then the second file's one.
    const int kept = state == QLatin1String("uploading") ? 1 : 0;
    const int sentBefore = peer->requestsTo("/server_api").size();
    QVERIFY(runToNotice());
    QCOMPARE(dialogs->notices.last().text, done);
    QCOMPARE(peer->requestsTo("/server_api").size() - sentBefore, 3 - kept + 1);
    const QString longText = readTranscript(transcriptOf(longFile));
    QCOMPARE(longText.count(sentenceA), 3);
    QCOMPARE(readTranscript(transcriptOf(second)).count(sentenceA), 1);
    QVERIFY(!QFile::exists(home->filePath(QStringLiteral("myWordFiles/long_16k.txt"))));
}

void FaultsTest::transcriptFolderNotWritable()
{
    // A plain file where the transcript folder should be: nothing can be written there, even
    // for root.
    QVERIFY(writeFile(home->filePath(QStringLiteral("myWordFiles")), QByteArray("not a folder")));
    const QString a = home->filePath(QStringLiteral("a.wav"));
    QVERIFY(makeClip(a, sentenceA));
    startPeer();
    newWindow();
    addTasks({ a });
    record.take({ home->path() });

    QVERIFY(runToNotice());
    QVERIFY(dialogs->notices.last().text != done);
    QCOMPARE(
        dialogs->notices.last().text, QStringLiteral("转写文本保存失败，请检查文件夹是否可写！"));
    verifyIdle();
    verifyNothingLost();
    // The text is still in the pane and the file is still queued.
    QVERIFY(View::textPane(*window)->toPlainText().contains(
        QStringLiteral("park"), Qt::CaseInsensitive));
    QCOMPARE(View::taskQueue(*window), QStringList { a });
}

void FaultsTest::twoJobsInARowAndARecordingDuringAJob()
{
    const QString a = home->filePath(QStringLiteral("a.wav"));
    const QString b = home->filePath(QStringLiteral("b.wav"));
    QVERIFY(makeClip(a, sentenceA));
    QVERIFY(makeClip(b, sentenceB));
    startPeer();
    newWindow();
    // The stand-in writes each packet as it comes: ffmpeg would hold 8 s in its buffer.
    window->setCaptureInputOverride({ QStringLiteral("-f"), QStringLiteral("lavfi"),
        QStringLiteral("-i"), QStringLiteral("sine=frequency=500"),
        QStringLiteral("-flush_packets"), QStringLiteral("1") });
    View::chooseDevice(*window, QStringLiteral("test tone"));

    int tokenRequests = 0;
    connect(View::http(*window), &QtHttpClass::sigReplyFinish, window,
        [&](int id, const QByteArray &) { tokenRequests += id == 0 ? 1 : 0; });

    addTasks({ a });
    QVERIFY(runToNotice());
    QCOMPARE(dialogs->notices.last().text, done);

    // Second job; a recording starts before it and stops while it runs.
    View::button(*window, "recordButton")->setChecked(true);
    QTRY_VERIFY_WITH_TIMEOUT(
        !window->recordingFile().isEmpty() && QFileInfo(window->recordingFile()).size() > 1000,
        20000);
    addTasks({ b });
    connect(View::convertProcess(*window), &QProcess::started, window,
        [&] { View::button(*window, "recordButton")->setChecked(false); });
    QVERIFY(runToNotice(120000));
    QCOMPARE(dialogs->notices.last().text, done);
    verifyIdle();
    QCOMPARE(tokenRequests, 1);
    QCOMPARE(peer->requestsTo("/oauth/2.0/token").size(), 1);
    QVERIFY(readTranscript(transcriptOf(b)).contains(sentenceA));
    QVERIFY(readTranscript(transcriptOf(a)).contains(sentenceA));
    // The recording is kept and listed, and was not taken from under the running job.
    QVERIFY(QFile::exists(window->recordingFile()));
    QVERIFY(QFileInfo(window->recordingFile()).size() > 1000);
    QVERIFY(window->audioPaths().contains(window->recordingFile()));
}

int main(int argc, char *argv[])
{
    if (DrivenJob::requested(argc, argv))
        return DrivenJob::run(argc, argv);
    QApplication app(argc, argv);
    FaultsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_faults.moc"
