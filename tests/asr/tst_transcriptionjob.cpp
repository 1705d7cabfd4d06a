// The transcription job without a window: real ffmpeg on generated audio, the scripted peer in
// place of the speech service. What the window makes of the job's signals is tst_jobwindow's.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QTimer>
#include <QtTest>

#include <json/reader.h>
#include <json/value.h>

#include <csignal>
#include <memory>
#include <sys/resource.h>

#include "asr/accesstoken.h"
#include "asr/backoff.h"
#include "asr/jobnotices.h"
#include "asr/jobprogress.h"
#include "asr/qthttpclass.h"
#include "asr/recognitionreply.h"
#include "asr/transcriptionjob.h"
#include "audio/audiosteps.h"
#include "common/scriptedhttppeer.h"
#include "common/testtime.h"
#include "ui/jobstatustexts.h"

using Reply = ScriptedHttpPeer::Reply;
using Request = ScriptedHttpPeer::Request;
using Step = TranscriptionJob::Step;
Q_DECLARE_METATYPE(ScriptedHttpPeer::Reply)

namespace {
const QByteArray TokenPath = "/oauth/2.0/token";
const QByteArray SpeechPath = "/server_api";
const QString Done = QStringLiteral("文件已经全部转换完成！");
const QString TokenFailed = QStringLiteral("获取访问令牌失败，请检查网络连接是否断开！");

Reply textReply(const QString &text)
{
    return Reply::json(
        R"({"err_no":0,"err_msg":"success.","sn":"1","result":[")" + text.toUtf8() + "\"]}");
}

Json::Value parsed(const QByteArray &body)
{
    Json::Value root;
    Json::Reader reader;
    reader.parse(body.constData(), body.constData() + body.size(), root);
    return root;
}

// Files this process writes may grow to a few bytes only from fill() on (as on a full disk),
// until the end of the scope.
class DiskFull
{
public:
    DiskFull()
    {
        getrlimit(RLIMIT_FSIZE, &usual);
        // Writing past the limit must fail, not end the program.
        previous = std::signal(SIGXFSZ, SIG_IGN);
    }
    ~DiskFull()
    {
        setrlimit(RLIMIT_FSIZE, &usual);
        std::signal(SIGXFSZ, previous);
    }
    void fill(rlim_t bytes) const
    {
        rlimit full = usual;
        full.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &full);
    }

private:
    rlimit usual {};
    void (*previous)(int) = nullptr;
};

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}
} // namespace

class TestTranscriptionJob : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void tokenIsRequestedOnceAndKept();
    void tokenFailures_data();
    void tokenFailures();
    void threeSegmentsMakeThreeRequests();
    void twoTaskFilesEachGetTheirOwnText();
    void progressFollowsTheJob();
    void usersConvertedFileIsNeverTouched();
    void errNoTable_data();
    void errNoTable();
    void rejectedTokenIsDropped();
    void busyServiceIsAskedAgain();
    void badReplies_data();
    void badReplies();
    void slowReplyIsStillTaken();
    void stopInEveryStep_data();
    void stopInEveryStep();
    void stoppedByAListenerOfItsStep_data();
    void stoppedByAListenerOfItsStep();
    void destroyedInEveryStep_data();
    void destroyedInEveryStep();
    void jobsSideBySide();
    void transcriptIsWrittenWhole();
    void rawPcmQuestionWaitsForItsAnswer();

private:
    QString makeAudio(const QString &name, int seconds);
    TranscriptionJob *newJob(const QString &segmentFolder = QString());
    void addTask(const QString &path) { job->taskList()->add(path); }
    void startAndWaitIdle(int timeoutMs = 30000);
    QString wordFile(const QString &name) const
    {
        return appDir->path() + QStringLiteral("/words/") + name;
    }
    // Starts the job and returns once it is in the given step.
    bool runUntil(Step step);
    // 5 s segments, so that a 12 s file makes three of them; the 59 s cutting is
    // threeSegmentsMakeThreeRequests'.
    void shortSegments()
    {
        JobSettings settings = job->settings();
        settings.segmentSeconds = 5;
        job->setSettings(settings);
    }

    QTemporaryDir *appDir = nullptr;
    QTemporaryDir *audioDir = nullptr;
    ScriptedHttpPeer *peer = nullptr;
    TranscriptionJob *job = nullptr;
    // What a front end would show: notices, start-button texts, recognised texts.
    QStringList notices;
    QStringList statusTexts;
    QStringList recognised;
    QHash<QString, QString> audioCache;
    QTemporaryDir madeDir;
    QHash<QString, QString> madeAudio;
};

void TestTranscriptionJob::initTestCase() { }

void TestTranscriptionJob::init()
{
    appDir = new QTemporaryDir;
    audioDir = new QTemporaryDir;
    QVERIFY(appDir->isValid() && audioDir->isValid());
    QVERIFY(QDir(appDir->path()).mkpath(QStringLiteral("words")));
    peer = new ScriptedHttpPeer;
    QVERIFY(peer->start());
    peer->setFallback(TokenPath, Reply::json(R"({"access_token":"24.tok","session_key":"sk",
        "refresh_token":"rt","session_secret":"ss","expires_in":2592000,"scope":"audio"})"));
    notices.clear();
    statusTexts.clear();
    recognised.clear();
    job = newJob();
}

TranscriptionJob *TestTranscriptionJob::newJob(const QString &segmentFolder)
{
    auto *made = new TranscriptionJob;
    made->setTaskList(new TaskList(made));
    JobSettings settings;
    settings.serviceBaseUrl = peer->baseUrl();
    settings.segmentFolder
        = segmentFolder.isEmpty() ? appDir->path() + QStringLiteral("/segments") : segmentFolder;
    settings.transcriptFolder = appDir->path() + QStringLiteral("/words");
    settings.clientId = QStringLiteral("8-0-27-aa-bb-1");
    settings.language = QStringLiteral("英文");
    // A wait of 10 ms a drawn second; the cases that stop during the wait take real seconds.
    settings.backoffScale = 0.01;
    settings.tokenTimeoutMs = scaledMs(settings.tokenTimeoutMs);
    made->setSettings(settings);
    connect(made, &TranscriptionJob::finished, this, [this](const JobResult &result) {
        notices << (result.succeeded() ? Done : JobNotices::text(result.failure));
    });
    connect(made, &TranscriptionJob::progressed, this, [this](const JobStatus &status) {
        const QString text = JobStatusTexts::buttonText(status);
        if (statusTexts.isEmpty() || statusTexts.last() != text)
            statusTexts << text;
    });
    connect(made, &TranscriptionJob::textRecognised, this,
        [this](const QString &text) { recognised << text; });
    return made;
}

void TestTranscriptionJob::cleanup()
{
    delete job;
    job = nullptr;
    delete peer;
    delete audioDir;
    delete appDir;
}

QString TestTranscriptionJob::makeAudio(const QString &name, int seconds)
{
    const QString path = audioDir->path() + QLatin1Char('/') + name;
    // Made once per name and length in the program, then copied into the case's folder.
    const QString key = name + QLatin1Char('|') + QString::number(seconds);
    if (!madeAudio.contains(key)) {
        const QString made
            = madeDir.path() + QStringLiteral("/%1 %2").arg(madeAudio.size()).arg(name);
        // A tone differing per file, so that each file's segments are told apart by their bytes.
        const int frequency = 300 + 40 * madeAudio.size();
        QProcess ffmpeg;
        ffmpeg.start(QStringLiteral("ffmpeg"),
            { QStringLiteral("-nostdin"), QStringLiteral("-loglevel"), QStringLiteral("error"),
                QStringLiteral("-y"), QStringLiteral("-f"), QStringLiteral("lavfi"),
                QStringLiteral("-i"),
                QStringLiteral("sine=frequency=%1:duration=%2").arg(frequency).arg(seconds),
                QStringLiteral("-ar"), QStringLiteral("44100"), made });
        if (!ffmpeg.waitForFinished(30000) || ffmpeg.exitCode() != 0)
            return QString();
        madeAudio.insert(key, made);
    }
    QFile::remove(path);
    if (!QFile::copy(madeAudio.value(key), path))
        return QString();
    audioCache.insert(name, path);
    return path;
}

void TestTranscriptionJob::startAndWaitIdle(int timeoutMs)
{
    job->start();
    QTRY_VERIFY_WITH_TIMEOUT(!job->isRunning(), scaledMs(timeoutMs));
}

bool TestTranscriptionJob::runUntil(Step step)
{
    bool reached = false;
    const QMetaObject::Connection watch = connect(job, &TranscriptionJob::stepChanged, this,
        [&](Step now) { reached = reached || now == step; });
    job->start();
    (void)QTest::qWaitFor([&] { return reached || !job->isRunning(); }, scaledMs(60000));
    disconnect(watch);
    // A request the peer never saw would leave its scripted reply to the next one.
    const QByteArray path = step == Step::Authenticating ? TokenPath : SpeechPath;
    if (reached && (step == Step::Authenticating || step == Step::Uploading))
        (void)QTest::qWaitFor([&] { return !peer->requestsTo(path).isEmpty(); }, scaledMs(60000));
    return reached;
}

void TestTranscriptionJob::tokenIsRequestedOnceAndKept()
{
    const QString audio = makeAudio(QStringLiteral("first take.wav"), 2);
    QVERIFY(!audio.isEmpty());
    peer->setFallback(SpeechPath, textReply(QStringLiteral("hello")));
    addTask(audio);
    QSignalSpy running(job, &TranscriptionJob::runningChanged);
    QList<Step> steps;
    connect(job, &TranscriptionJob::stepChanged, this, [&](Step step) { steps << step; });

    // Only scheduled: running at once, the first step taken from the event loop.
    job->start();
    QVERIFY(job->isRunning() && steps.isEmpty());
    QCOMPARE(running.size(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(!steps.isEmpty(), scaledMs(20000));
    QCOMPARE(steps.first(), Step::Authenticating);
    QCOMPARE(statusTexts.first(), QStringLiteral("认证中..."));
    QTRY_VERIFY_WITH_TIMEOUT(!job->isRunning(), 20000);
    QCOMPARE(running.size(), 2);

    const QList<Request> tokens = peer->requestsTo(TokenPath);
    QCOMPARE(tokens.size(), 1);
    QCOMPARE(tokens[0].method, QByteArray("GET"));
    QCOMPARE(tokens[0].query,
        QByteArray("grant_type=client_credentials"
                   "&client_id=Rk3nVq8ZtLm2Hs7PxWc4JdYb"
                   "&client_secret=Gf5tQw2LzN8kRm4VxHp7Cs9JdT3bYe6W"));
    const TokenReply &token = job->token();
    QCOMPARE(token.accessToken, QStringLiteral("24.tok"));
    QCOMPARE(token.sessionKey, QStringLiteral("sk"));
    QCOMPARE(token.refreshToken, QStringLiteral("rt"));
    QCOMPARE(token.sessionSecret, QStringLiteral("ss"));
    QCOMPARE(token.expiresIn, 2592000);
    QCOMPARE(notices, QStringList { Done });
    QCOMPARE(readAll(wordFile(QStringLiteral("first take.txt"))), QByteArray("hello\n"));

    // A second job in the same run asks for no token.
    addTask(audio);
    startAndWaitIdle();
    QCOMPARE(peer->requestsTo(TokenPath).size(), 1);
    QCOMPARE(peer->requestsTo(SpeechPath).size(), 2);
    QCOMPARE(peer->requestsTo(SpeechPath)[1].method, QByteArray("POST"));
    QCOMPARE(notices.size(), 2);
}

void TestTranscriptionJob::tokenFailures_data()
{
    QTest::addColumn<Reply>("reply");
    QTest::addColumn<int>("limitMs");
    QTest::addColumn<QString>("notice");

    QTest::newRow("http error") << Reply::json(R"({"error":"invalid_client"})", 401)
                                << scaledMs(8000) << TokenFailed;
    QTest::newRow("time limit, reply comes late")
        << Reply::json(R"({"access_token":"late"})").after(600) << 150
        << QStringLiteral("获取访问令牌超时！");
    // Asking again and again, or waiting for ever, would only hide the fault from the user.
    QTest::newRow("no token in the reply") << Reply::json("{}") << scaledMs(8000) << TokenFailed;
    QTest::newRow("not json") << Reply::json("<html>gateway</html>") << scaledMs(8000)
                              << TokenFailed;
}

void TestTranscriptionJob::tokenFailures()
{
    QFETCH(Reply, reply);
    QFETCH(int, limitMs);
    QFETCH(QString, notice);

    QVERIFY(!makeAudio(QStringLiteral("a.wav"), 1).isEmpty());
    const QString audio = audioCache.value(QStringLiteral("a.wav"));
    addTask(audio);
    JobSettings settings = job->settings();
    settings.tokenTimeoutMs = limitMs;
    job->setSettings(settings);
    peer->enqueue(TokenPath, reply);
    peer->setFallback(SpeechPath, textReply(QStringLiteral("x")));

    startAndWaitIdle();
    QCOMPARE(notices, QStringList { notice });
    QCOMPARE(statusTexts.last(), QStringLiteral("开始转换"));
    QCOMPARE(peer->requestsTo(TokenPath).size(), 1);
    // A late reply starts nothing: no token, no second message, no recognition.
    QTRY_COMPARE_WITH_TIMEOUT(peer->repliesSent(TokenPath), 1, scaledMs(10000));
    QCoreApplication::processEvents();
    QVERIFY(job->token().accessToken.isEmpty());
    QCOMPARE(notices.size(), 1);
    QCOMPARE(peer->requestsTo(SpeechPath).size(), 0);
    QVERIFY(!job->isRunning());
    QCOMPARE(job->taskList()->paths(), QStringList { audio });

    // The next start asks again and goes through.
    settings.tokenTimeoutMs = scaledMs(8000);
    job->setSettings(settings);
    startAndWaitIdle();
    QCOMPARE(peer->requestsTo(TokenPath).size(), 2);
    QCOMPARE(notices.last(), Done);
}

void TestTranscriptionJob::threeSegmentsMakeThreeRequests()
{
    const QString audio = makeAudio(QStringLiteral("Meeting 1.mp3"), 125);
    QVERIFY(!audio.isEmpty());
    addTask(audio);
    int n = 0;
    peer->setHandler(
        SpeechPath, [&](const Request &) { return textReply(QStringLiteral("part %1").arg(++n)); });
    QStringList textsAtRequest;
    connect(peer, &ScriptedHttpPeer::requestReceived, this,
        [&] { textsAtRequest << statusTexts.last(); });
    QSignalSpy segments(job, &TranscriptionJob::segmentRecognised);
    QSignalSpy finished(job, &TranscriptionJob::fileFinished);

    startAndWaitIdle(60000);
    QCOMPARE(notices, QStringList { Done });
    const QList<Request> sent = peer->requestsTo(SpeechPath);
    QCOMPARE(sent.size(), 3);
    QCOMPARE(textsAtRequest.mid(1),
        QStringList({ QStringLiteral("转写:0.0%"), QStringLiteral("转写:33.3%"),
            QStringLiteral("转写:66.7%") }));
    QVERIFY(statusTexts.contains(QStringLiteral("预处理...")));
    QVERIFY(statusTexts.contains(QStringLiteral("分割:66.7%")));
    QVERIFY(statusTexts.contains(QStringLiteral("转写:100.0%")));

    QSet<QByteArray> speeches;
    for (const Request &r : sent) {
        QCOMPARE(r.headers.value("content-type"), QByteArray("application/json"));
        const Json::Value body = parsed(r.body);
        QVERIFY(body.isObject());
        QCOMPARE(body.size(), Json::ArrayIndex(8));
        QCOMPARE(body["channel"].asInt(), 1);
        QCOMPARE(body["dev_pid"].asInt(), 1737);
        QCOMPARE(body["format"].asString(), std::string("wav"));
        QCOMPARE(body["rate"].asInt(), 16000);
        QCOMPARE(body["token"].asString(), std::string("24.tok"));
        QCOMPARE(body["cuid"].asString(), std::string("8-0-27-aa-bb-1"));
        const QByteArray speech
            = QByteArray::fromBase64(QByteArray::fromStdString(body["speech"].asString()),
                QByteArray::AbortOnBase64DecodingErrors);
        QCOMPARE(body["len"].asInt(), speech.size());
        QVERIFY(speech.startsWith("RIFF"));
        speeches.insert(speech);
    }
    QCOMPARE(speeches.size(), 3);

    // What a front end reports per segment: index, count, seconds and text.
    QCOMPARE(segments.size(), 3);
    const QList<QVariant> last = segments.at(2);
    QCOMPARE(last.at(0).toInt(), 2);
    QCOMPARE(last.at(1).toInt(), 3);
    QCOMPARE(last.at(2).toInt(), 118);
    QCOMPARE(last.at(3).toInt(), 125);
    QCOMPARE(last.at(4).toString(), QStringLiteral("part 3"));
    QCOMPARE(segments.at(1).at(2).toInt(), 59);
    QCOMPARE(segments.at(1).at(3).toInt(), 118);

    // Segments and converted copy are gone; the transcript holds all three texts.
    QCOMPARE(readAll(wordFile(QStringLiteral("Meeting 1.txt"))),
        QByteArray("part 1\n\npart 2\n\npart 3\n"));
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.at(0).at(1).toString(), wordFile(QStringLiteral("Meeting 1.txt")));
    QVERIFY(job->taskList()->paths().isEmpty());
    QVERIFY(!QFile::exists(audioDir->path() + QStringLiteral("/Meeting 1_16k.wav")));
    QVERIFY(QFile::exists(audio));
    QVERIFY(QDir(job->settings().segmentFolder).entryList(QDir::Files).isEmpty());
}

void TestTranscriptionJob::twoTaskFilesEachGetTheirOwnText()
{
    const QString first = makeAudio(QStringLiteral("one.wav"), 2);
    const QString second = makeAudio(QStringLiteral("two.ogg"), 3);
    QVERIFY(!first.isEmpty() && !second.isEmpty());
    addTask(first);
    addTask(second); // front: transcribed first
    JobSettings settings = job->settings();
    settings.language = QString();
    job->setSettings(settings);
    peer->enqueue(SpeechPath, textReply(QStringLiteral("第二个")));
    peer->enqueue(SpeechPath, textReply(QStringLiteral("first file")));
    QSignalSpy started(job, &TranscriptionJob::fileStarted);

    startAndWaitIdle();
    QCOMPARE(readAll(wordFile(QStringLiteral("two.txt"))), QByteArray("第二个\n"));
    QCOMPARE(readAll(wordFile(QStringLiteral("one.txt"))), QByteArray("first file\n"));
    QCOMPARE(started.size(), 2);
    QCOMPARE(started.at(1).at(1).toString(), wordFile(QStringLiteral("one.txt")));
    // No language row matches: no "dev_pid".
    QVERIFY(!parsed(peer->requestsTo(SpeechPath)[0].body).isMember("dev_pid"));
    QCOMPARE(notices, QStringList { Done });
}

void TestTranscriptionJob::progressFollowsTheJob()
{
    shortSegments();
    const QString one = makeAudio(QStringLiteral("one.wav"), 2); // one segment
    const QString three = makeAudio(QStringLiteral("three.wav"), 12); // three, taken first
    QVERIFY(!one.isEmpty() && !three.isEmpty());
    addTask(one);
    addTask(three);
    peer->setFallback(SpeechPath, textReply(QStringLiteral("text")));
    JobProgress progress;
    progress.begin(2, 0);
    QElapsedTimer clock;
    clock.start();
    QVector<JobProgressFigures> seen;
    connect(job, &TranscriptionJob::progressed, this, [&](const JobStatus &status) {
        progress.status(status);
        seen << progress.figures(clock.elapsed());
    });
    connect(job, &TranscriptionJob::fileFinished, this, [&] {
        progress.fileFinished();
        seen << progress.figures(clock.elapsed());
    });
    startAndWaitIdle();
    QCOMPARE(notices, QStringList { Done });

    // The list's share: a sixth a segment of the first file, a half for the second's only one.
    QVector<double> shares;
    for (const JobProgressFigures &f : seen) {
        if (shares.isEmpty() || !qFuzzyCompare(1 + shares.last(), 1 + f.listShare))
            shares << f.listShare;
        QVERIFY(f.fileShare >= 0 && f.fileShare <= 1);
        // Once work was done, there is an estimate.
        QVERIFY(f.listShare == 0 || f.secondsLeft >= 0);
    }
    const QVector<double> expected { 0, 1.0 / 6, 1.0 / 3, 0.5, 1 };
    QCOMPARE(shares.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i)
        QVERIFY2(qAbs(shares[i] - expected[i]) < 1e-9, qPrintable(QString::number(shares[i])));
    QCOMPARE(seen.last().secondsLeft, 0);

    // The speed is the worked part's: segments kept from an earlier run came for free.
    QCOMPARE(JobProgressRules::secondsLeft(0.25, 0.0, 10000), 30);
    QCOMPARE(JobProgressRules::secondsLeft(0.3, 0.2, 10000), 70);
    QCOMPARE(JobProgressRules::secondsLeft(0.2, 0.2, 10000), -1);
}

void TestTranscriptionJob::usersConvertedFileIsNeverTouched()
{
    const QString audio = makeAudio(QStringLiteral("talk.mp3"), 2);
    QVERIFY(!audio.isEmpty());
    const QString kept = audioDir->path() + QStringLiteral("/talk_16k.wav");
    QFile file(kept);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("the user's own recording");
    file.close();
    addTask(audio);
    job->keepToken(QStringLiteral("t"));
    // The first run fails after the conversion, the second one goes through.
    peer->enqueue(SpeechPath, Reply::json(R"({"err_no":3301})"));
    peer->setFallback(SpeechPath, textReply(QStringLiteral("talk")));

    startAndWaitIdle();
    QCOMPARE(notices, QStringList { QStringLiteral("语音识别结果实际为空！") });
    QCOMPARE(job->taskList()->paths(), QStringList { audio });
    startAndWaitIdle();
    QCOMPARE(notices.last(), Done);
    QCOMPARE(readAll(kept), QByteArray("the user's own recording"));
    QCOMPARE(QDir(audioDir->path()).entryList(QDir::Files).size(), 2);
    QCOMPARE(readAll(wordFile(QStringLiteral("talk.txt"))), QByteArray("talk\n"));
    QVERIFY(QDir(job->settings().segmentFolder).entryList(QDir::Files).isEmpty());
}

void TestTranscriptionJob::errNoTable_data()
{
    QTest::addColumn<int>("errNo");
    QTest::addColumn<QString>("notice");
    // The whole table is tst_speechrules'; here a code of it and one outside it end the job.
    QTest::newRow("3314") << 3314 << QStringLiteral("音频长度过短！");
    QTest::newRow("3300 not in the table")
        << 3300 << QStringLiteral("语音识别出错（错误码：3300）！");
}

void TestTranscriptionJob::errNoTable()
{
    QFETCH(int, errNo);
    QFETCH(QString, notice);

    const QString audio = makeAudio(QStringLiteral("song.flac"), 12);
    QVERIFY(!audio.isEmpty());
    shortSegments();
    addTask(audio);
    job->keepToken(QStringLiteral("kept"));
    peer->enqueue(SpeechPath, textReply(QStringLiteral("kept text")));
    peer->enqueue(SpeechPath,
        Reply::json("{\"err_no\":" + QByteArray::number(errNo) + ",\"err_msg\":\"x\"}"));

    startAndWaitIdle();
    QCOMPARE(notices, QStringList { notice });
    QCOMPARE(job->data().lastErrNo, errNo);
    QCOMPARE(statusTexts.last(), QStringLiteral("开始转换"));
    QCOMPARE(peer->requestsTo(SpeechPath).size(), 2);
    // The job ended: transcript unwritten, the text shown so far kept, front entry as added.
    QVERIFY(!QFile::exists(wordFile(QStringLiteral("song.txt"))));
    QCOMPARE(recognised, QStringList { QStringLiteral("kept text") });
    QCOMPARE(job->taskList()->paths(), QStringList { audio });
    QCOMPARE(job->token().accessToken, QStringLiteral("kept"));
    QVERIFY(!QFile::exists(audioDir->path() + QStringLiteral("/song_16k.wav")));
}

void TestTranscriptionJob::rejectedTokenIsDropped()
{
    const QString audio = makeAudio(QStringLiteral("a.wav"), 1);
    QVERIFY(!audio.isEmpty());
    addTask(audio);
    job->keepToken(QStringLiteral("expired"));
    peer->enqueue(SpeechPath, Reply::json(R"({"err_no":3302,"err_msg":"authentication failed"})"));
    peer->enqueue(SpeechPath, textReply(QStringLiteral("ok")));

    startAndWaitIdle();
    QCOMPARE(notices, QStringList { QStringLiteral("鉴权失败！") });
    QVERIFY(job->token().accessToken.isEmpty());
    QCOMPARE(peer->requestsTo(TokenPath).size(), 0);

    startAndWaitIdle();
    QCOMPARE(peer->requestsTo(TokenPath).size(), 1);
    QCOMPARE(
        parsed(peer->requestsTo(SpeechPath)[1].body)["token"].asString(), std::string("24.tok"));
    QCOMPARE(readAll(wordFile(QStringLiteral("a.txt"))), QByteArray("ok\n"));
}

void TestTranscriptionJob::busyServiceIsAskedAgain()
{
    const QString audio = makeAudio(QStringLiteral("busy.wav"), 2);
    QVERIFY(!audio.isEmpty());
    addTask(audio);
    job->keepToken(QStringLiteral("t"));
    // The first as a service answers while it loads its models: status 503.
    peer->enqueue(SpeechPath, Reply::json(R"({"err_no":3304,"err_msg":"loading"})", 503));
    for (int i = 0; i < 2; ++i)
        peer->enqueue(SpeechPath, Reply::json(R"({"err_no":3304,"err_msg":"busy"})"));
    peer->enqueue(SpeechPath, textReply(QStringLiteral("at last")));
    int waits = 0;
    connect(job, &TranscriptionJob::stepChanged, this,
        [&](Step step) { waits += step == Step::BackingOff ? 1 : 0; });

    startAndWaitIdle();
    const QList<Request> sent = peer->requestsTo(SpeechPath);
    QCOMPARE(sent.size(), 4);
    for (const Request &r : sent)
        QCOMPARE(r.body, sent[0].body);
    QCOMPARE(waits, 3);
    int shown = 0;
    for (const QString &text : statusTexts)
        shown += text.startsWith(QStringLiteral("重申请: ")) ? 1 : 0;
    QVERIFY(shown >= 1);
    QCOMPARE(readAll(wordFile(QStringLiteral("busy.txt"))), QByteArray("at last\n"));
    QCOMPARE(notices, QStringList { Done });
}

void TestTranscriptionJob::badReplies_data()
{
    QTest::addColumn<Reply>("reply");
    QTest::addColumn<QString>("notice");

    const QString unrecognised = QStringLiteral("语音服务返回了无法识别的数据！");
    const QString network = QStringLiteral("转换失败，请检查网络信号是否充足！");
    QTest::newRow("empty") << Reply::json("") << unrecognised;
    QTest::newRow("not json") << Reply::json("Service Unavailable") << unrecognised;
    QTest::newRow("result a string")
        << Reply::json(R"({"err_no":0,"result":"text"})") << unrecognised;
    QTest::newRow("err_no a string") << Reply::json(R"({"err_no":"3304"})") << unrecognised;
    QTest::newRow("cut off") << Reply::json(R"({"err_no":0,"result":["tex)") << unrecognised;
    QTest::newRow("huge") << Reply::json(
        R"({"err_no":0,"result":[")" + QByteArray(2 * 1024 * 1024, 'w') + "\"]}")
                          << unrecognised;
    QTest::newRow("http 500 with json")
        << Reply::json(R"({"err_no":0,"result":["no"]})", 500) << network;
    QTest::newRow("connection closed") << Reply::closing() << network;
    QTest::newRow("never answers") << Reply::silent() << network;
}

void TestTranscriptionJob::badReplies()
{
    QFETCH(Reply, reply);
    QFETCH(QString, notice);

    const QString audio = makeAudio(QStringLiteral("bad.wav"), 2);
    QVERIFY(!audio.isEmpty());
    addTask(audio);
    job->keepToken(QStringLiteral("t"));
    JobSettings settings = job->settings();
    // Only the peer that never answers is meant to meet the limit: a huge reply read on a slow
    // machine (or under sanitizers) may take longer than that.
    settings.recognitionTimeoutMs
        = QByteArray(QTest::currentDataTag()) == "never answers" ? 400 : scaledMs(60000);
    job->setSettings(settings);
    peer->enqueue(SpeechPath, reply);

    startAndWaitIdle();
    QCOMPARE(notices, QStringList { notice });
    QVERIFY(recognised.isEmpty());
    QVERIFY(!QFile::exists(wordFile(QStringLiteral("bad.txt"))));
    QCOMPARE(job->taskList()->paths(), QStringList { audio });
}

void TestTranscriptionJob::slowReplyIsStillTaken()
{
    const QString audio = makeAudio(QStringLiteral("slow.wav"), 1);
    QVERIFY(!audio.isEmpty());
    addTask(audio);
    job->keepToken(QStringLiteral("t"));
    JobSettings settings = job->settings();
    settings.recognitionTimeoutMs = scaledMs(3000);
    job->setSettings(settings);
    peer->enqueue(SpeechPath, textReply(QStringLiteral("slow but sure")).after(800));
    startAndWaitIdle();
    QCOMPARE(readAll(wordFile(QStringLiteral("slow.txt"))), QByteArray("slow but sure\n"));

    // Nobody listens at all: the request fails at once.
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 port = probe.serverPort();
    probe.close();
    settings.serviceBaseUrl = QStringLiteral("http://127.0.0.1:%1").arg(port);
    job->setSettings(settings);
    addTask(audio);
    startAndWaitIdle();
    QCOMPARE(notices.last(), QStringLiteral("转换失败，请检查网络信号是否充足！"));
}

void TestTranscriptionJob::stopInEveryStep_data()
{
    QTest::addColumn<Step>("step");
    // Started, and stopped before the loop took its first step.
    QTest::newRow("scheduled") << Step::Idle;
    QTest::newRow("authenticating") << Step::Authenticating;
    QTest::newRow("converting") << Step::Converting;
    QTest::newRow("probing") << Step::Probing;
    QTest::newRow("cutting") << Step::Cutting;
    QTest::newRow("uploading") << Step::Uploading;
    QTest::newRow("backing off") << Step::BackingOff;
}

void TestTranscriptionJob::stopInEveryStep()
{
    QFETCH(Step, step);
    const QString audio = makeAudio(QStringLiteral("long.mp3"), 12);
    QVERIFY(!audio.isEmpty());
    shortSegments();
    addTask(audio);
    if (step == Step::Authenticating) {
        // The token request is never answered: its time limit must not report a stopped job.
        peer->enqueue(TokenPath, Reply::silent());
        JobSettings settings = job->settings();
        settings.tokenTimeoutMs = 300;
        job->setSettings(settings);
    } else {
        job->keepToken(QStringLiteral("t"));
    }
    JobSettings realWait = job->settings();
    realWait.backoffScale = 1.0;
    job->setSettings(realWait);
    peer->enqueue(SpeechPath,
        step == Step::BackingOff ? Reply::json(R"({"err_no":3304})")
                                 : textReply(QStringLiteral("late")).after(300));
    peer->setFallback(SpeechPath, textReply(QStringLiteral("again")));

    if (step == Step::Idle)
        job->start();
    else
        QVERIFY(runUntil(step));
    job->stop();
    QVERIFY(!job->isRunning());
    QCOMPARE(statusTexts.last(), QStringLiteral("开始转换"));
    QVERIFY(job->audioSteps()->convertProcess()->state() == QProcess::NotRunning);
    QVERIFY(job->audioSteps()->probeProcess()->state() == QProcess::NotRunning);
    QVERIFY(job->audioSteps()->cutProcess()->state() == QProcess::NotRunning);
    const int sent = peer->requestsTo(SpeechPath).size();
    // Nothing that was under way is left to move the job on: no request is out, and none of
    // its timers (the reply's and the token's time limits, the back-off) is set.
    QCOMPARE(job->httpClient()->outstandingRequests(AccessToken::RequestId), 0);
    QCOMPARE(job->httpClient()->outstandingRequests(TranscriptionJob::SpeechRequestId), 0);
    for (const QTimer *timer : job->findChildren<QTimer *>())
        QVERIFY2(!timer->isActive(), timer->parent()->metaObject()->className());
    QCoreApplication::processEvents();
    QVERIFY(notices.isEmpty());
    QVERIFY(recognised.isEmpty());
    QCOMPARE(peer->requestsTo(SpeechPath).size(), sent);
    QCOMPARE(job->taskList()->paths(), QStringList { audio });
    QVERIFY(!QFile::exists(audioDir->path() + QStringLiteral("/long_16k.wav")));

    // A new start begins with the file as it was added.
    JobSettings settings = job->settings();
    settings.tokenTimeoutMs = scaledMs(30000);
    job->setSettings(settings);
    startAndWaitIdle(60000);
    QCOMPARE(notices, QStringList { Done });
    QVERIFY(QFile::exists(wordFile(QStringLiteral("long.txt"))));
    QVERIFY(!QFile::exists(wordFile(QStringLiteral("long_16k.txt"))));
}

void TestTranscriptionJob::stoppedByAListenerOfItsStep_data()
{
    QTest::addColumn<Step>("step");
    QTest::newRow("converting") << Step::Converting;
    QTest::newRow("uploading") << Step::Uploading;
}

// A front end may stop the job from the slot that hears a step begin: what the step had still
// to tell is not told after the stop's own "ready".
void TestTranscriptionJob::stoppedByAListenerOfItsStep()
{
    QFETCH(Step, step);
    const QString audio = makeAudio(QStringLiteral("short.mp3"), 3);
    QVERIFY(!audio.isEmpty());
    addTask(audio);
    job->keepToken(QStringLiteral("t"));
    peer->setFallback(SpeechPath, textReply(QStringLiteral("late")));
    int startedFiles = 0;
    connect(job, &TranscriptionJob::fileStarted, this, [&] { ++startedFiles; });
    connect(job, &TranscriptionJob::stepChanged, this, [&](Step now) {
        if (now == step)
            job->stop();
    });
    job->start();
    QTRY_VERIFY_WITH_TIMEOUT(!job->isRunning(), scaledMs(30000));
    QCOMPARE(statusTexts.last(), QStringLiteral("开始转换"));
    QCOMPARE(startedFiles, step == Step::Converting ? 0 : 1);
    QVERIFY(notices.isEmpty());
    QVERIFY(peer->requestsTo(SpeechPath).isEmpty());
}

void TestTranscriptionJob::destroyedInEveryStep_data()
{
    stopInEveryStep_data();
}

void TestTranscriptionJob::destroyedInEveryStep()
{
    QFETCH(Step, step);
    const QString audio = makeAudio(QStringLiteral("long.mp3"), 12);
    QVERIFY(!audio.isEmpty());
    shortSegments();
    addTask(audio);
    if (step == Step::Authenticating)
        peer->enqueue(TokenPath, Reply::silent());
    else
        job->keepToken(QStringLiteral("t"));
    peer->setFallback(
        SpeechPath, step == Step::BackingOff ? Reply::json(R"({"err_no":3304})") : Reply::silent());

    if (step == Step::Idle)
        job->start();
    else
        QVERIFY(runUntil(step));
    const qint64 pid = job->audioSteps()->cutProcess()->processId();
    bool reported = false;
    connect(job, &TranscriptionJob::finished, this, [&] { reported = true; });
    connect(job, &TranscriptionJob::runningChanged, this, [&] { reported = true; });
    delete job;
    job = nullptr;
    QVERIFY(!reported);
    // The cut the job ran is gone with it.
    if (pid > 0)
        QVERIFY(!QFile::exists(QStringLiteral("/proc/%1/cmdline").arg(pid)));
    QVERIFY(!QFile::exists(audioDir->path() + QStringLiteral("/long_16k.wav")));
}

void TestTranscriptionJob::jobsSideBySide()
{
    const QString a = makeAudio(QStringLiteral("a.wav"), 2);
    const QString b = makeAudio(QStringLiteral("b.wav"), 3);
    QVERIFY(!a.isEmpty() && !b.isEmpty());
    // Owned here, so that a failed check does not leave it (and its client) behind.
    const std::unique_ptr<TranscriptionJob> other(
        newJob(appDir->path() + QStringLiteral("/other segments")));
    JobSettings settings = other->settings();
    settings.transcriptPathFor = [this](const QString &) -> QString {
        return appDir->path() + QStringLiteral("/b transcript.txt");
    };
    other->setSettings(settings);
    // Each job has its own client: both may wait for a token at once.
    peer->setHandler(SpeechPath, [&](const Request &r) {
        const QByteArray speech = QByteArray::fromBase64(
            QByteArray::fromStdString(parsed(r.body)["speech"].asString()));
        return textReply(speech.size() > 80000 ? QStringLiteral("three") : QStringLiteral("two"));
    });
    addTask(a);
    other->taskList()->add(b);

    job->start();
    other->start();
    QTRY_VERIFY_WITH_TIMEOUT(!job->isRunning() && !other->isRunning(), scaledMs(30000));
    QCOMPARE(notices, (QStringList { Done, Done }));
    QCOMPARE(readAll(wordFile(QStringLiteral("a.txt"))), QByteArray("two\n"));
    QCOMPARE(readAll(appDir->path() + QStringLiteral("/b transcript.txt")), QByteArray("three\n"));
}

void TestTranscriptionJob::transcriptIsWrittenWhole()
{
    const QString audio = makeAudio(QStringLiteral("mine.wav"), 1);
    QVERIFY(!audio.isEmpty());
    addTask(audio);
    job->keepToken(QStringLiteral("t"));
    // What the service sent, markup-like characters included, is what is kept.
    peer->setFallback(SpeechPath, textReply(QStringLiteral("a < b and c > d &amp; 文字")));

    startAndWaitIdle();
    const QByteArray written = readAll(wordFile(QStringLiteral("mine.txt")));
    QCOMPARE(written,
        QTextCodec::codecForLocale()->fromUnicode(QStringLiteral("a < b and c > d &amp; 文字\n")));
    QVERIFY(!written.startsWith("\xef\xbb\xbf"));

    // The disk fills up while the new transcript is written: the save fails, and the one
    // written before is still there whole, with nothing half-written beside it.
    {
        const DiskFull diskFull;
        job->setTranscriptTextSource([&] {
            diskFull.fill(8);
            // Longer than the file's buffer, as a long meeting's transcript is.
            return QStringLiteral("a new transcript, longer than the room left on the disk\n")
                .repeated(400);
        });
        addTask(audio);
        startAndWaitIdle();
    }
    job->setTranscriptTextSource(nullptr);
    QCOMPARE(notices.last(), QStringLiteral("转写文本保存失败，请检查文件夹是否可写！"));
    QCOMPARE(readAll(wordFile(QStringLiteral("mine.txt"))), written);
    QCOMPARE(QDir(wordFile(QString())).entryList(QDir::Files),
        QStringList { QStringLiteral("mine.txt") });

    QCOMPARE(job->taskList()->paths(), QStringList { audio });

    // A transcript that cannot be written ends the job with the notice, the file still queued.
    JobSettings settings = job->settings();
    settings.transcriptFolder = audio; // a file, not a folder
    job->setSettings(settings);
    startAndWaitIdle();
    QCOMPARE(notices.last(), QStringLiteral("转写文本保存失败，请检查文件夹是否可写！"));
    QCOMPARE(job->taskList()->paths(), QStringList { audio });
}

// The question about a raw ".pcm" file holds no step open: the job waits for the answer, one
// that comes after a stop starts nothing, and an answer to the question asked goes on.
void TestTranscriptionJob::rawPcmQuestionWaitsForItsAnswer()
{
    struct Later final : JobQuestions
    {
        std::function<void(bool)> answer;
        int asked = 0;
        void askRawPcm(const QString &, std::function<void(bool)> later) override
        {
            ++asked;
            answer = later;
        }
    } questions;
    const QString pcm = audioDir->path() + QStringLiteral("/raw.pcm");
    QFile file(pcm);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(3 * 32000, '\0')) > 0);
    file.close();
    job->setQuestions(&questions);
    addTask(pcm);

    job->start();
    QTRY_COMPARE_WITH_TIMEOUT(questions.asked, 1, 30000);
    QCOMPARE(job->step(), TranscriptionJob::Step::Converting);
    job->stop();
    questions.answer(true);
    QCOMPARE(job->step(), TranscriptionJob::Step::Idle);

    job->start();
    QTRY_COMPARE_WITH_TIMEOUT(questions.asked, 2, 30000);
    questions.answer(true);
    QCOMPARE(job->step(), TranscriptionJob::Step::Probing);
    job->stop();
}

QTEST_GUILESS_MAIN(TestTranscriptionJob)
#include "tst_transcriptionjob.moc"
