#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>

#include <json/reader.h>
#include <json/value.h>

#include "app/appglobals.h"
#include "asr/backoff.h"
#include "common/scripteddialogs.h"
#include "common/scriptedhttppeer.h"
#include "ui/widget.h"

using Reply = ScriptedHttpPeer::Reply;
using Request = ScriptedHttpPeer::Request;
Q_DECLARE_METATYPE(ScriptedHttpPeer::Reply)

namespace {
const QByteArray TokenPath = "/oauth/2.0/token";
const QByteArray SpeechPath = "/server_api";

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
    void tokenReplyWithoutTokenLoopsUntilStopped();
    void tokenReplyNotJsonWaitsForStop();
    void threeSegmentsMakeThreeRequests();
    void twoTaskFilesEachGetTheirOwnText();
    void errNoTable_data();
    void errNoTable();
    void rejectedTokenIsDropped();
    void busyServiceIsAskedAgain();
    void badReplies_data();
    void badReplies();
    void slowReplyIsStillTaken();
    void stopDuringRequest();
    void stopDuringBackoff();
    void stopDuringConversion();
    void transcriptGoesToTheJobsOwnFile();

private:
    QString makeAudio(const QString &name, int seconds);
    void addTask(const QString &path);
    void startAndWaitIdle(int timeoutMs = 20000);
    bool running() const { return w->stopConvertButton->isEnabled(); }
    QString wordFile(const QString &name) const
    {
        return appDir->path() + QStringLiteral("/myWordFiles/") + name;
    }
    // Records every text the start button shows while the event loop runs.
    void watchStartButton();

    QTemporaryDir *appDir = nullptr;
    QTemporaryDir *audioDir = nullptr;
    ScriptedDialogs *dialogs = nullptr;
    ScriptedHttpPeer *peer = nullptr;
    Widget *w = nullptr;
    QTimer *watcher = nullptr;
    QStringList buttonTexts;
    QHash<QString, QString> audioCache;
};

void TestTranscriptionJob::initTestCase()
{
    Backoff::setMillisecondsPerSecond(10);
    AppGlobals::clientId = QStringLiteral("8-0-27-aa-bb-1");
}

void TestTranscriptionJob::init()
{
    appDir = new QTemporaryDir;
    audioDir = new QTemporaryDir;
    QVERIFY(appDir->isValid() && audioDir->isValid());
    AppGlobals::appDir = appDir->path();
    dialogs = new ScriptedDialogs;
    peer = new ScriptedHttpPeer;
    QVERIFY(peer->start());
    peer->setFallback(TokenPath, Reply::json(R"({"access_token":"24.tok","session_key":"sk",
        "refresh_token":"rt","session_secret":"ss","expires_in":2592000,"scope":"audio"})"));
    w = new Widget;
    w->setServiceBaseUrl(peer->baseUrl());
    buttonTexts.clear();
}

void TestTranscriptionJob::cleanup()
{
    delete watcher;
    watcher = nullptr;
    delete w;
    delete peer;
    delete dialogs;
    delete audioDir;
    delete appDir;
}

QString TestTranscriptionJob::makeAudio(const QString &name, int seconds)
{
    const QString path = audioDir->path() + QLatin1Char('/') + name;
    // A tone differing per file, so that each file's segments are told apart by their bytes.
    const int frequency = 300 + 40 * audioCache.size();
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
        { QStringLiteral("-nostdin"), QStringLiteral("-loglevel"), QStringLiteral("error"),
            QStringLiteral("-y"), QStringLiteral("-f"), QStringLiteral("lavfi"),
            QStringLiteral("-i"),
            QStringLiteral("sine=frequency=%1:duration=%2").arg(frequency).arg(seconds),
            QStringLiteral("-ar"), QStringLiteral("44100"), path });
    if (!ffmpeg.waitForFinished(30000) || ffmpeg.exitCode() != 0)
        return QString();
    audioCache.insert(name, path);
    return path;
}

void TestTranscriptionJob::addTask(const QString &path)
{
    w->taskFiles.prepend(path);
    w->taskFileCombo->addItem(path.mid(path.lastIndexOf(QLatin1Char('/')) + 1));
}

void TestTranscriptionJob::startAndWaitIdle(int timeoutMs)
{
    w->slotBeginCover();
    QTRY_VERIFY_WITH_TIMEOUT(!running(), timeoutMs);
}

void TestTranscriptionJob::watchStartButton()
{
    watcher = new QTimer;
    connect(watcher, &QTimer::timeout, this, [this] {
        const QString text = w->startConvertButton->text();
        if (buttonTexts.isEmpty() || buttonTexts.last() != text)
            buttonTexts.append(text);
    });
    watcher->start(1);
}

void TestTranscriptionJob::tokenIsRequestedOnceAndKept()
{
    const QString audio = makeAudio(QStringLiteral("first take.wav"), 2);
    QVERIFY(!audio.isEmpty());
    peer->setFallback(SpeechPath, textReply(QStringLiteral("hello")));
    addTask(audio);

    w->slotBeginCover();
    QCOMPARE(w->startConvertButton->text(), QStringLiteral("认证中..."));
    QVERIFY(running());
    QVERIFY(!w->startConvertButton->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(!running(), 20000);

    const QList<Request> tokens = peer->requestsTo(TokenPath);
    QCOMPARE(tokens.size(), 1);
    QCOMPARE(tokens[0].method, QByteArray("GET"));
    QCOMPARE(tokens[0].query,
        QByteArray("grant_type=client_credentials"
                   "&client_id=Rk3nVq8ZtLm2Hs7PxWc4JdYb"
                   "&client_secret=Gf5tQw2LzN8kRm4VxHp7Cs9JdT3bYe6W"));
    QCOMPARE(w->accessToken, QStringLiteral("24.tok"));
    QCOMPARE(w->sessionKey, QStringLiteral("sk"));
    QCOMPARE(w->refreshToken, QStringLiteral("rt"));
    QCOMPARE(w->sessionSecret, QStringLiteral("ss"));
    QCOMPARE(w->tokenExpiresIn, 2592000);
    QCOMPARE(dialogs->noticeTexts(), QStringList { QStringLiteral("文件已经全部转换完成！") });
    QCOMPARE(readAll(wordFile(QStringLiteral("first take.txt"))), QByteArray("hello\n"));

    // A second job in the same run asks for no token.
    addTask(audio);
    startAndWaitIdle();
    QCOMPARE(peer->requestsTo(TokenPath).size(), 1);
    QCOMPARE(peer->requestsTo(SpeechPath).size(), 2);
    QCOMPARE(peer->requestsTo(SpeechPath)[1].method, QByteArray("POST"));
    QCOMPARE(dialogs->noticeTexts().size(), 2);
}

void TestTranscriptionJob::tokenFailures_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("replyDelayMs");
    QTest::addColumn<int>("limitMs");
    QTest::addColumn<QString>("notice");

    QTest::newRow("http error") << 401 << 0 << 8000
                                << QStringLiteral("获取访问令牌失败，请检查网络连接是否断开！");
    QTest::newRow("time limit, reply comes late")
        << 200 << 600 << 150 << QStringLiteral("获取访问令牌超时！");
}

void TestTranscriptionJob::tokenFailures()
{
    QFETCH(int, status);
    QFETCH(int, replyDelayMs);
    QFETCH(int, limitMs);
    QFETCH(QString, notice);

    QVERIFY(!makeAudio(QStringLiteral("a.wav"), 1).isEmpty());
    addTask(audioCache.value(QStringLiteral("a.wav")));
    w->setTokenTimeoutMs(limitMs);
    peer->enqueue(TokenPath,
        Reply::json(
            status == 200 ? R"({"access_token":"late"})" : R"({"error":"invalid_client"})", status)
            .after(replyDelayMs));
    peer->setFallback(SpeechPath, textReply(QStringLiteral("x")));

    startAndWaitIdle();
    QCOMPARE(dialogs->noticeTexts(), QStringList { notice });
    QCOMPARE(w->startConvertButton->text(), QStringLiteral("开始转换"));
    QVERIFY(w->startConvertButton->isEnabled());
    // Whatever comes later starts nothing: no token, no second message, no recognition.
    QTest::qWait(replyDelayMs + 300);
    QVERIFY(w->accessToken.isEmpty());
    QCOMPARE(dialogs->noticeTexts().size(), 1);
    QCOMPARE(peer->requestsTo(SpeechPath).size(), 0);
    QVERIFY(!running());

    // The next start asks again and goes through.
    w->setTokenTimeoutMs(8000);
    startAndWaitIdle();
    QCOMPARE(peer->requestsTo(TokenPath).size(), 2);
    QCOMPARE(dialogs->noticeTexts().last(), QStringLiteral("文件已经全部转换完成！"));
}

void TestTranscriptionJob::tokenReplyWithoutTokenLoopsUntilStopped()
{
    QVERIFY(!makeAudio(QStringLiteral("a.wav"), 1).isEmpty());
    addTask(audioCache.value(QStringLiteral("a.wav")));
    peer->setFallback(TokenPath, Reply::json(R"({"expires_in":5})").after(20));

    w->slotBeginCover();
    QTRY_VERIFY_WITH_TIMEOUT(peer->requestsTo(TokenPath).size() >= 3, 5000);
    QCOMPARE(w->startConvertButton->text(), QStringLiteral("认证中..."));
    w->slotStopCover();
    const int sent = peer->requestsTo(TokenPath).size();
    QTest::qWait(300);
    QVERIFY(peer->requestsTo(TokenPath).size() <= sent + 1);
    QVERIFY(!running());
    QCOMPARE(w->startConvertButton->text(), QStringLiteral("开始转换"));
    QVERIFY(dialogs->notices.isEmpty());
}

void TestTranscriptionJob::tokenReplyNotJsonWaitsForStop()
{
    QVERIFY(!makeAudio(QStringLiteral("a.wav"), 1).isEmpty());
    addTask(audioCache.value(QStringLiteral("a.wav")));
    peer->enqueue(TokenPath, Reply::json("<html>gateway</html>"));

    w->slotBeginCover();
    QTRY_COMPARE_WITH_TIMEOUT(peer->requestsTo(TokenPath).size(), 1, 5000);
    QTest::qWait(200);
    QVERIFY(running());
    QCOMPARE(w->startConvertButton->text(), QStringLiteral("认证中..."));
    w->slotStopCover();
    QVERIFY(!running());
    QVERIFY(w->startConvertButton->isEnabled());
}

void TestTranscriptionJob::threeSegmentsMakeThreeRequests()
{
    const QString audio = makeAudio(QStringLiteral("Meeting 1.mp3"), 125);
    QVERIFY(!audio.isEmpty());
    addTask(audio);
    w->languageCombo->setCurrentText(QStringLiteral("英文"));
    QStringList sentSegments;
    int n = 0;
    peer->setHandler(
        SpeechPath, [&](const Request &) { return textReply(QStringLiteral("part %1").arg(++n)); });
    QStringList textsAtRequest;
    connect(peer, &ScriptedHttpPeer::requestReceived, this,
        [&] { textsAtRequest << w->startConvertButton->text(); });

    startAndWaitIdle(60000);
    const QList<Request> sent = peer->requestsTo(SpeechPath);
    QCOMPARE(sent.size(), 3);
    QCOMPARE(textsAtRequest.mid(1),
        QStringList({ QStringLiteral("转写:0.0%"), QStringLiteral("转写:33.3%"),
            QStringLiteral("转写:66.7%") }));

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

    // Segments, converted copy and task entry are gone; the transcript holds all three texts.
    QCOMPARE(readAll(wordFile(QStringLiteral("Meeting 1.txt"))),
        QByteArray("part 1\n\npart 2\n\npart 3\n"));
    QVERIFY(w->taskFiles.isEmpty());
    QCOMPARE(w->taskFileCombo->count(), 0);
    QVERIFY(!QFile::exists(audioDir->path() + QStringLiteral("/Meeting 1_16k.wav")));
    QVERIFY(QFile::exists(audio));
    QVERIFY(
        QDir(appDir->path() + QStringLiteral("/myTmpWAVFiles")).entryList(QDir::Files).isEmpty());
    QCOMPARE(dialogs->noticeTexts(), QStringList { QStringLiteral("文件已经全部转换完成！") });
    QVERIFY(w->closeDocButton->isEnabled());
}

void TestTranscriptionJob::twoTaskFilesEachGetTheirOwnText()
{
    const QString first = makeAudio(QStringLiteral("one.wav"), 2);
    const QString second = makeAudio(QStringLiteral("two.ogg"), 3);
    QVERIFY(!first.isEmpty() && !second.isEmpty());
    addTask(first);
    addTask(second); // front: transcribed first
    w->languageCombo->setCurrentIndex(-1);
    peer->enqueue(SpeechPath, textReply(QStringLiteral("第二个")));
    peer->enqueue(SpeechPath, textReply(QStringLiteral("first file")));

    startAndWaitIdle();
    QCOMPARE(readAll(wordFile(QStringLiteral("two.txt"))), QByteArray("第二个\n"));
    QCOMPARE(readAll(wordFile(QStringLiteral("one.txt"))), QByteArray("first file\n"));
    QCOMPARE(w->textEdit->toPlainText(), QStringLiteral("first file\n"));
    QVERIFY(w->txtFiles.contains(wordFile(QStringLiteral("one.txt"))));
    QVERIFY(w->txtFiles.contains(wordFile(QStringLiteral("two.txt"))));
    // No language row matches: no "dev_pid".
    QVERIFY(!parsed(peer->requestsTo(SpeechPath)[0].body).isMember("dev_pid"));
    QCOMPARE(dialogs->noticeTexts(), QStringList { QStringLiteral("文件已经全部转换完成！") });
}

void TestTranscriptionJob::errNoTable_data()
{
    QTest::addColumn<int>("errNo");
    QTest::addColumn<QString>("notice");
    QTest::newRow("3301") << 3301 << QStringLiteral("语音识别结果实际为空！");
    QTest::newRow("3303") << 3303 << QStringLiteral("语音服务器后端繁忙，或是音频质量过低！");
    QTest::newRow("3307") << 3307 << QStringLiteral("语音服务器后端识别出错！");
    QTest::newRow("3309") << 3309
                          << QStringLiteral("服务端无法将音频转为pcm格式，可能是音频格式问题！");
    QTest::newRow("3313") << 3313 << QStringLiteral("语音服务器解析超时！");
    QTest::newRow("3314") << 3314 << QStringLiteral("音频长度过短！");
    QTest::newRow("3315") << 3315 << QStringLiteral("语音服务器处理超时！");
    QTest::newRow("3316") << 3316 << QStringLiteral("音频转为pcm失败！");
    QTest::newRow("3300 not in the table")
        << 3300 << QStringLiteral("语音识别出错（错误码：3300）！");
    QTest::newRow("3308 not in the table")
        << 3308 << QStringLiteral("语音识别出错（错误码：3308）！");
}

void TestTranscriptionJob::errNoTable()
{
    QFETCH(int, errNo);
    QFETCH(QString, notice);

    const QString audio = makeAudio(QStringLiteral("song.flac"), 70);
    QVERIFY(!audio.isEmpty());
    addTask(audio);
    w->accessToken = QStringLiteral("kept");
    peer->enqueue(SpeechPath, textReply(QStringLiteral("kept text")));
    peer->enqueue(SpeechPath,
        Reply::json("{\"err_no\":" + QByteArray::number(errNo) + ",\"err_msg\":\"x\"}"));

    startAndWaitIdle();
    QCOMPARE(dialogs->noticeTexts(), QStringList { notice });
    QCOMPARE(w->lastErrNo, errNo);
    QCOMPARE(w->startConvertButton->text(), QStringLiteral("开始转换"));
    QVERIFY(w->closeDocButton->isEnabled());
    QCOMPARE(peer->requestsTo(SpeechPath).size(), 2);
    // The job ended: transcript unwritten, pane and task list kept, front entry as added.
    QVERIFY(!QFile::exists(wordFile(QStringLiteral("song.txt"))));
    QCOMPARE(w->textEdit->toPlainText(), QStringLiteral("kept text\n"));
    QCOMPARE(w->taskFiles, QStringList { audio });
    QCOMPARE(w->taskFileCombo->itemText(0), QStringLiteral("song.flac"));
    QCOMPARE(w->accessToken, QStringLiteral("kept"));
    QTest::qWait(100);
    QCOMPARE(peer->requestsTo(SpeechPath).size(), 2);
}

void TestTranscriptionJob::rejectedTokenIsDropped()
{
    const QString audio = makeAudio(QStringLiteral("a.wav"), 1);
    QVERIFY(!audio.isEmpty());
    addTask(audio);
    w->accessToken = QStringLiteral("expired");
    peer->enqueue(SpeechPath, Reply::json(R"({"err_no":3302,"err_msg":"authentication failed"})"));
    peer->enqueue(SpeechPath, textReply(QStringLiteral("ok")));

    startAndWaitIdle();
    QCOMPARE(dialogs->noticeTexts(), QStringList { QStringLiteral("鉴权失败！") });
    QVERIFY(w->accessToken.isEmpty());
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
    w->accessToken = QStringLiteral("t");
    for (int i = 0; i < 3; ++i)
        peer->enqueue(SpeechPath, Reply::json(R"({"err_no":3304,"err_msg":"busy"})"));
    peer->enqueue(SpeechPath, textReply(QStringLiteral("at last")));
    watchStartButton();

    startAndWaitIdle();
    const QList<Request> sent = peer->requestsTo(SpeechPath);
    QCOMPARE(sent.size(), 4);
    for (const Request &r : sent)
        QCOMPARE(r.body, sent[0].body);
    QStringList waits;
    for (const QString &text : buttonTexts) {
        if (text.startsWith(QStringLiteral("重申请: ")))
            waits << text;
    }
    QCOMPARE(waits.size(), 3);
    const QRegularExpression form(QStringLiteral("^重申请: ([1-9]|10)秒$"));
    for (const QString &text : waits)
        QVERIFY2(form.match(text).hasMatch(), qPrintable(text));
    QCOMPARE(readAll(wordFile(QStringLiteral("busy.txt"))), QByteArray("at last\n"));
    QCOMPARE(dialogs->noticeTexts(), QStringList { QStringLiteral("文件已经全部转换完成！") });
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
    w->accessToken = QStringLiteral("t");
    w->setRecognitionTimeoutMs(400);
    peer->enqueue(SpeechPath, reply);

    startAndWaitIdle();
    QCOMPARE(dialogs->noticeTexts(), QStringList { notice });
    QVERIFY(w->textEdit->toPlainText().isEmpty());
    QVERIFY(!QFile::exists(wordFile(QStringLiteral("bad.txt"))));
    QCOMPARE(w->taskFiles, QStringList { audio });
    QVERIFY(w->startConvertButton->isEnabled());
}

void TestTranscriptionJob::slowReplyIsStillTaken()
{
    const QString audio = makeAudio(QStringLiteral("slow.wav"), 1);
    QVERIFY(!audio.isEmpty());
    addTask(audio);
    w->accessToken = QStringLiteral("t");
    w->setRecognitionTimeoutMs(3000);
    peer->enqueue(SpeechPath, textReply(QStringLiteral("slow but sure")).after(800));
    startAndWaitIdle();
    QCOMPARE(readAll(wordFile(QStringLiteral("slow.txt"))), QByteArray("slow but sure\n"));

    // Nobody listens at all: the request fails at once.
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 port = probe.serverPort();
    probe.close();
    w->setServiceBaseUrl(QStringLiteral("http://127.0.0.1:%1").arg(port));
    addTask(audio);
    startAndWaitIdle();
    QCOMPARE(dialogs->noticeTexts().last(), QStringLiteral("转换失败，请检查网络信号是否充足！"));
}

void TestTranscriptionJob::stopDuringRequest()
{
    const QString audio = makeAudio(QStringLiteral("long.wav"), 70);
    QVERIFY(!audio.isEmpty());
    addTask(audio);
    w->accessToken = QStringLiteral("t");
    peer->enqueue(SpeechPath, textReply(QStringLiteral("late text")).after(400));
    peer->setFallback(SpeechPath, textReply(QStringLiteral("again")));

    w->slotBeginCover();
    QTRY_COMPARE_WITH_TIMEOUT(peer->requestsTo(SpeechPath).size(), 1, 20000);
    w->slotStopCover();
    QCOMPARE(w->startConvertButton->text(), QStringLiteral("开始转换"));
    QTest::qWait(700);
    QVERIFY(w->textEdit->toPlainText().isEmpty());
    QCOMPARE(peer->requestsTo(SpeechPath).size(), 1);
    QVERIFY(!running());
    QVERIFY(w->startConvertButton->isEnabled());
    QVERIFY(dialogs->notices.isEmpty());
    QCOMPARE(w->taskFiles, QStringList { audio });

    // A new start begins with the file as it was added.
    startAndWaitIdle();
    QCOMPARE(readAll(wordFile(QStringLiteral("long.txt"))), QByteArray("again\n\nagain\n"));
    QVERIFY(!QFile::exists(audioDir->path() + QStringLiteral("/long_16k_16k.wav")));
}

void TestTranscriptionJob::stopDuringBackoff()
{
    const QString audio = makeAudio(QStringLiteral("busy.wav"), 2);
    QVERIFY(!audio.isEmpty());
    addTask(audio);
    w->accessToken = QStringLiteral("t");
    Backoff::setMillisecondsPerSecond(1000);
    peer->setFallback(SpeechPath, Reply::json(R"({"err_no":3304})"));

    // The stop comes from inside the wait, as a click would.
    QElapsedTimer sinceStop;
    QTimer stopper;
    connect(&stopper, &QTimer::timeout, this, [&] {
        if (!w->startConvertButton->text().startsWith(QStringLiteral("重申请: ")))
            return;
        stopper.stop();
        sinceStop.start();
        w->slotStopCover();
    });
    stopper.start(5);
    w->slotBeginCover();
    // This is checked only once the nested wait has returned: it must return soon after the
    // stop, not after its 1 to 10 s.
    QTRY_VERIFY_WITH_TIMEOUT(sinceStop.isValid() && !running(), 20000);
    const qint64 waitedAfterStop = sinceStop.elapsed();
    Backoff::setMillisecondsPerSecond(10);
    QVERIFY2(waitedAfterStop < 900, QByteArray::number(waitedAfterStop).constData());
    QTest::qWait(300);
    QCOMPARE(peer->requestsTo(SpeechPath).size(), 1);
    QCOMPARE(w->startConvertButton->text(), QStringLiteral("开始转换"));
    QVERIFY(w->startConvertButton->isEnabled());
}

void TestTranscriptionJob::stopDuringConversion()
{
    const QString audio = makeAudio(QStringLiteral("conv.mp3"), 30);
    QVERIFY(!audio.isEmpty());
    addTask(audio);
    w->accessToken = QStringLiteral("t");
    peer->setFallback(SpeechPath, textReply(QStringLiteral("never")));

    w->slotBeginCover();
    QCOMPARE(w->startConvertButton->text(), QStringLiteral("预处理..."));
    w->slotStopCover();
    QTest::qWait(1500);
    QVERIFY(peer->requestsTo(SpeechPath).isEmpty());
    QVERIFY(!running());
    QVERIFY(w->startConvertButton->isEnabled());
    QVERIFY(w->textEdit->toPlainText().isEmpty());
    QCOMPARE(w->taskFiles, QStringList { audio });

    startAndWaitIdle();
    QCOMPARE(readAll(wordFile(QStringLiteral("conv.txt"))), QByteArray("never\n"));
}

void TestTranscriptionJob::transcriptGoesToTheJobsOwnFile()
{
    const QString audio = makeAudio(QStringLiteral("mine.wav"), 1);
    QVERIFY(!audio.isEmpty());
    addTask(audio);
    w->accessToken = QStringLiteral("t");
    const QString other = wordFile(QStringLiteral("other.txt"));
    QFile file(other);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("the user's own notes\n");
    file.close();
    peer->setHandler(SpeechPath, [&](const Request &) {
        // Something rebinds the text pane while the job is under way.
        w->currentTextFile = other;
        return textReply(QStringLiteral("job text"));
    });

    startAndWaitIdle();
    QCOMPARE(readAll(other), QByteArray("the user's own notes\n"));
    const QByteArray written = readAll(wordFile(QStringLiteral("mine.txt")));
    QCOMPARE(written, QTextCodec::codecForLocale()->fromUnicode(QStringLiteral("job text\n")));
    QVERIFY(!written.startsWith("\xef\xbb\xbf"));
}

QTEST_MAIN(TestTranscriptionJob)
#include "tst_transcriptionjob.moc"
