// tovarin-transcribe run as a user runs it: a real process on media made by ffmpeg and flite,
// against the real speech service and against the scripted peer on loopback.
#include <QHostAddress>
#include <QMessageAuthenticationCode>
#include <QTcpServer>
#include <QtTest>

#include <json/reader.h>
#include <json/value.h>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include "common/scriptedhttppeer.h"
#include "common/speechservice.h"
#include "common/testfiles.h"
#include "common/wordrate.h"

using Reply = ScriptedHttpPeer::Reply;
using TestFiles::str;

namespace {
const QByteArray TokenPath = "/oauth/2.0/token";
const QByteArray SpeechPath = "/server_api";

QByteArray textReply(const char *text)
{
    return QByteArray(R"({"err_no":0,"err_msg":"success.","sn":"1","result":[")") + text + "\"]}";
}

// One run of the command. The test's event loop keeps turning while it runs, so the scripted
// peer in this process can answer it.
struct Run
{
    QProcess process;
    QString tmp; // the command's temporary folder (TMPDIR)

    Run(const QStringList &arguments, const QString &workDir, const QString &tmpDir)
        : tmp(tmpDir)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(str("TMPDIR"), tmpDir);
        // What runs keep for resuming stays in the test's folder too.
        env.insert(str("XDG_DATA_HOME"), tmpDir + str("-data"));
        // The service settings are the test's own, never the user's.
        env.insert(str("XDG_CONFIG_HOME"), tmpDir + str("-config"));
        env.insert(str("XDG_CACHE_HOME"), tmpDir + str("-cache"));
        env.remove(str("TOVARIN_SERVICE_SECRET"));
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(workDir);
        process.start(str(TOVARIN_TRANSCRIBE), arguments);
    }
    ~Run()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }

    // Waits for the end with a generous limit; the exit status, or -1 when it did not end.
    int finish(int timeoutMs = 120000)
    {
        if (process.state() != QProcess::NotRunning) {
            QSignalSpy ended(
                &process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
            if (!ended.wait(timeoutMs))
                return -1;
        }
        out += QString::fromLocal8Bit(process.readAllStandardOutput());
        err += QString::fromLocal8Bit(process.readAllStandardError());
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    QString out;
    QString err;
};

QString readUtf8(const QString &path)
{
    return QString::fromUtf8(TestFiles::readAll(path));
}

bool makeTone(const QString &path, double seconds)
{
    return TestFiles::make(path,
        TestFiles::words("-f|lavfi|-i") << str("sine=frequency=440:duration=%1").arg(seconds));
}
} // namespace

class TestCliCommand : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qRegisterMetaType<QProcess::ExitStatus>(); }
    void init();
    void refusesBadUsage_data();
    void refusesBadUsage();
    void transcribesWithTheRealService();
    void jsonAndJobsSideBySide();
    void failuresUseTheWindowsMessages_data();
    void failuresUseTheWindowsMessages();
    void keepsExistingTranscripts();
    void summaryNamesWhatItDidNotTake();
    void usesTheSavedServiceWithASecretFile();
    void writesTextAsItsReadersExpect();
    void neverThroughLinksAndNamesEscaped();
    void provesTheBuiltInServiceBeforeEachFile_data();
    void provesTheBuiltInServiceBeforeEachFile();
    void resumesWhereARunEnded();
    void endsOnSignal_data();
    void endsOnSignal();

private:
    std::unique_ptr<QTemporaryDir> dir;
    QString work; // media and transcripts
    QString tmp; // the command's TMPDIR
    std::unique_ptr<ScriptedHttpPeer> peer;
};

void TestCliCommand::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    work = dir->filePath(str("work"));
    tmp = dir->filePath(str("tmp"));
    QVERIFY(QDir().mkpath(work) && QDir().mkpath(tmp));
    peer = std::make_unique<ScriptedHttpPeer>();
    QVERIFY(peer->start());
    peer->setFallback(TokenPath, Reply::json(R"({"access_token":"24.tok","expires_in":2592000})"));
}

void TestCliCommand::refusesBadUsage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("says");

    QTest::newRow("no arguments") << QStringList() << str("no files");
    QTest::newRow("missing file") << TestFiles::words("a.wav|missing 文件.mp3")
                                  << str("missing 文件.mp3");
    QTest::newRow("output folder is a file")
        << TestFiles::words("-o|a.wav/x|a.wav") << str("cannot be made");
    QTest::newRow("unknown script") << TestFiles::words("--script|zh-Latn|a.wav") << str("zh-Latn");
    QTest::newRow("switch neither on nor off")
        << TestFiles::words("--arabic-numbers|yes|a.wav") << str("on or off");
    QTest::newRow("terms file missing")
        << TestFiles::words("--terms|none.txt|a.wav") << str("no terms could be read");
}

void TestCliCommand::refusesBadUsage()
{
    QFETCH(QStringList, arguments);
    QVERIFY(makeTone(work + str("/a.wav"), 2));
    const auto before = TestFiles::snapshot(dir->path());

    Run run(arguments, work, tmp);
    QCOMPARE(run.finish(), 2);
    QFETCH(QString, says);
    QVERIFY2(run.err.contains(says), qPrintable(run.err));
    QVERIFY(run.out.isEmpty());
    QCOMPARE(TestFiles::snapshot(dir->path()), before);
    QVERIFY(peer->requests.isEmpty());

    Run help(TestFiles::words("--help"), work, tmp);
    QCOMPARE(help.finish(), 0);
    QVERIFY(help.out.contains(str("Examples:")));
}

void TestCliCommand::usesTheSavedServiceWithASecretFile()
{
    ScriptedHttpPeer peer;
    QVERIFY(peer.start());
    peer.setFallback("/v1/audio/transcriptions",
        ScriptedHttpPeer::Reply::json(R"({"text":"saved service"})"));
    const QString config = tmp + str("-config/tovarin");
    QVERIFY(QDir().mkpath(config));
    {
        QFile settings(config + str("/tovarin.conf"));
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write("[service]\nkind=transcriptions\nurl=" + peer.baseUrl().toUtf8()
            + "\nmodel=small\n");
        QFile secret(dir->filePath(str("key")));
        QVERIFY(secret.open(QIODevice::WriteOnly));
        secret.write("file-key\n");
        secret.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    }
    QVERIFY(makeTone(work + str("/tone.wav"), 2));
    Run run({ str("--secret-file"), dir->filePath(str("key")), str("tone.wav") }, work, tmp);
    QCOMPARE(run.finish(), 0);
    QCOMPARE(readUtf8(work + str("/tone.txt")), str("saved service\n"));
    QVERIFY2(run.err.contains(str("warning: other users may read")), qPrintable(run.err));
    QCOMPARE(peer.requests.size(), 1);
    QCOMPARE(peer.requests.first().headers.value("authorization"), QByteArray("Bearer file-key"));
    QVERIFY(peer.requests.first().body.contains("small"));

    // The languages are asked with the secret a run would take: here the saved one.
    {
        QFile saved(config + str("/secret"));
        QVERIFY(saved.open(QIODevice::WriteOnly));
        saved.write("saved-key\n");
        saved.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    }
    Run list({ str("--list-languages") }, work, tmp);
    QCOMPARE(list.finish(), 0);
    QVERIFY(peer.requests.size() > 1);
    QCOMPARE(peer.requests.last().headers.value("authorization"), QByteArray("Bearer saved-key"));
}

void TestCliCommand::writesTextAsItsReadersExpect()
{
    // whisper.cpp's server as its page writes it, answering in mixed scripts and ASCII marks.
    peer->setFallback("/inference", Reply::json(R"({"text":"托瓦林的軟件,支持十五种语言.",
        "segments":[{"start":0.0,"end":1.5,"text":"托瓦林的軟件,支持十五种语言."}]})"));
    QFile terms(dir->filePath(str("terms.txt")));
    QVERIFY(terms.open(QIODevice::WriteOnly));
    terms.write("托瓦林 => Tovarin\n");
    terms.close();
    QVERIFY(makeTone(work + str("/talk.wav"), 2));
    Run run({ str("--service-kind"), str("transcriptions"), str("-s"), peer->baseUrl() + str("/"),
                str("--request-path"), str("/inference"), str("--script"), str("zh-Hant-TW"),
                str("--arabic-numbers"), str("on"), str("--terms"), terms.fileName(), str("-f"),
                str("txt,srt"), str("talk.wav") },
        work, tmp);
    QCOMPARE(run.finish(), 0);
    const QString expected = str("Tovarin的軟體，支援15種語言。");
    QCOMPARE(readUtf8(work + str("/talk.txt")), expected + QLatin1Char('\n'));
    QVERIFY2(readUtf8(work + str("/talk.srt")).contains(str("Tovarin的軟體，")),
        qPrintable(readUtf8(work + str("/talk.srt"))));
    QCOMPARE(peer->requestsTo("/inference").size(), 1);
    QVERIFY(
        peer->requestsTo("/inference").first().body.contains("name=\"prompt\"\r\n\r\nTovarin\r\n"));

    // The languages of that server, asked once and kept: a run in one it lacks is refused
    // before anything is converted or sent.
    peer->setHandler("/inference", [](const ScriptedHttpPeer::Request &r) {
        return r.body.contains("\r\n\r\nyue\r\n")
            ? Reply::json(R"({"error":"no model for language 'yue'"})", 400)
            : Reply::json(R"({"text":""})");
    });
    const QStringList service { str("--service-kind"), str("transcriptions"), str("-s"),
        peer->baseUrl(), str("--request-path"), str("/inference") };
    Run list(service + QStringList { str("--list-languages") }, work, tmp);
    QCOMPARE(list.finish(), 0);
    QVERIFY2(list.out.contains(str("yue\t粤语\t1637\tno model"))
            && list.out.contains(str("en\t英文\t1737\tavailable")),
        qPrintable(list.out));
    const int asked = peer->requests.size();
    Run refused(
        service + QStringList { str("-l"), str("yue"), str("--overwrite"), str("talk.wav") }, work,
        tmp);
    QCOMPARE(refused.finish(), 1);
    QVERIFY2(refused.err.contains(str("没有“粤语”的模型")) && refused.err.contains(str("英文")),
        qPrintable(refused.err));
    QCOMPARE(peer->requests.size(), asked);
}

void TestCliCommand::transcribesWithTheRealService()
{
    // A folder as users have them: speech in two formats under awkward names, a broken file,
    // a text file, and a sub-folder that only -r takes.
    const QString spokenText = str("the weather was cold this morning and the wind blew hard from "
                                   "the north across the empty fields");
    const QString textFile = dir->filePath(str("spoken.txt"));
    {
        QFile file(textFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(spokenText.toUtf8());
    }
    const QString wav = dir->filePath(str("speech.wav"));
    QVERIFY(makeSpeechWav(textFile, wav));
    const QString media = work + str("/media");
    QVERIFY(QDir().mkpath(media + str("/sub")));
    const QString mp3 = media + str("/会议 \"notes\".mp3");
    const QString ogg = media + str("/-interview.ogg");
    QVERIFY(TestFiles::make(mp3, QStringList { str("-i"), wav }));
    QVERIFY(TestFiles::make(ogg, QStringList { str("-i"), wav }));
    QVERIFY(TestFiles::make(media + str("/sub/deeper.m4a"), QStringList { str("-i"), wav }));
    {
        QFile broken(media + str("/broken.mp3"));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write(QByteArray(4096, '\x55'));
        QFile notes(media + str("/notes.txt"));
        QVERIFY(notes.open(QIODevice::WriteOnly));
    }

    SpeechServiceProcess service;
    QVERIFY2(service.start(), qPrintable(service.logText()));
    Run run({ str("--language"), str("en"), str("--service"), service.baseUrl(), str("-j"),
                str("2"), str("media") },
        work, tmp);
    QCOMPARE(run.finish(300000), 1);

    // Each good file beside itself, in the window's layout; the broken one named with the
    // window's message; the text file and the sub-folder left alone.
    for (const QString &source : { mp3, ogg }) {
        const QString transcript = source.left(source.lastIndexOf(QLatin1Char('.'))) + str(".txt");
        QVERIFY2(run.out.contains(transcript), qPrintable(run.out));
        const QString text = QString::fromLocal8Bit(TestFiles::readAll(transcript));
        QVERIFY(text.endsWith(QLatin1Char('\n')));
        const double wer = WordRate::errorRate(spokenText, text);
        QVERIFY2(wer <= 0.2, qPrintable(text));
    }
    QVERIFY(!QFile::exists(media + str("/broken.txt")));
    QVERIFY(!QFile::exists(media + str("/sub/deeper.txt")));
    QVERIFY2(run.err.contains(
                 str("failed: %1/broken.mp3: 音频转换失败，请检查文件是否完整！").arg(media)),
        qPrintable(run.err));
    QVERIFY(run.err.contains(str("done 2, skipped 0, failed 1")));
    // Nothing of the run is left: no converted copies, no segments.
    QCOMPARE(QDir(media).entryList(QDir::Files).size(), 4 + 2);
    QCOMPARE(QDir(tmp).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());

    // The window's default language is one the local service has no model for: its code is
    // the message, and -r takes the sub-folder.
    Run mandarin(
        { str("-q"), str("-r"), str("-s"), service.baseUrl(), media + str("/sub") }, work, tmp);
    QCOMPARE(mandarin.finish(120000), 1);
    QVERIFY2(
        mandarin.err.contains(str("语音识别出错（错误码：3300）！")), qPrintable(mandarin.err));
    QVERIFY(!mandarin.err.contains(str("segment"))); // quiet: no progress
}

void TestCliCommand::jsonAndJobsSideBySide()
{
    // Two files of three segments each, answered slowly: with -j 2 both are under way at once.
    QVERIFY(makeTone(work + str("/one.wav"), 125.25));
    QVERIFY(makeTone(work + str("/two.mp3"), 125));
    int outstanding = 0;
    int mostAtOnce = 0;
    peer->setHandler(SpeechPath, [&](const ScriptedHttpPeer::Request &) {
        mostAtOnce = qMax(mostAtOnce, ++outstanding);
        QTimer::singleShot(400, [&] { --outstanding; });
        return Reply::json(textReply("said \\\"this\\\" 说")).after(400);
    });

    Run run({ str("-l"), str("yue"), str("-s"), peer->baseUrl() + str("/"), str("-f"), str("json"),
                str("-j"), str("2"), str("-o"), str("out"), str("one.wav"), str("two.mp3"),
                str("./one.wav") },
        work, tmp);
    QCOMPARE(run.finish(), 0);
    QVERIFY2(run.err.contains(str("given more than once")), qPrintable(run.err));
    QCOMPARE(peer->requestsTo(SpeechPath).size(), 6);
    QCOMPARE(mostAtOnce, 2);
    // Progress lines on a pipe: one per segment.
    QVERIFY2(run.err.contains(str("one.wav: segment 3 of 3")), qPrintable(run.err));

    // Segments to the millisecond: the last one ends where the audio does (an MP3 adds its
    // encoder's padding to the tone).
    const QStringList files = TestFiles::words("one.json|two.json");
    const double ends[] = { 125.25, 125 };
    for (int f = 0; f < 2; ++f) {
        Json::Value root;
        const QByteArray body = TestFiles::readAll(work + str("/out/") + files[f]);
        QVERIFY(Json::Reader().parse(body.toStdString(), root));
        const Json::Value &segments = root["segments"];
        QCOMPARE(int(segments.size()), 3);
        const double bounds[][2] = { { 0, 59 }, { 59, 118 }, { 118, ends[f] } };
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(segments[i]["start"].asDouble(), bounds[i][0]);
            QVERIFY2(qAbs(segments[i]["end"].asDouble() - bounds[i][1]) < (f == 0 ? 1e-9 : 0.1),
                body.constData());
            QCOMPARE(QString::fromUtf8(segments[i]["text"].asCString()), str("said \"this\" 说"));
        }
        if (f == 0)
            continue;
        QCOMPARE(QString::fromStdString(root["file"].asString()), work + str("/two.mp3"));
        QCOMPARE(QString::fromUtf8(root["language"].asCString()), str("粤语"));
        QCOMPARE(root["dev_pid"].asInt(), 1637);
        QCOMPARE(QString::fromStdString(root["service"].asString()), peer->baseUrl());
        QCOMPARE(QString::fromUtf8(root["text"].asCString()),
            str("said \"this\" 说\n\nsaid \"this\" 说\n\nsaid \"this\" 说\n"));
    }
    QCOMPARE(
        QDir(work + str("/out")).entryList(QDir::Files), TestFiles::words("one.json|two.json"));
    QVERIFY(!QFile::exists(work + str("/one.txt")));
    QVERIFY(!QFile::exists(work + str("/two_16k.wav")));
    QCOMPARE(QDir(tmp).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}

void TestCliCommand::failuresUseTheWindowsMessages_data()
{
    QTest::addColumn<QString>("service"); // "peer" or an address nobody listens on
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("message");

    QTest::newRow("service down") << str("down") << QByteArray()
                                  << str("获取访问令牌失败，请检查网络连接是否断开！");
    QTest::newRow("service error") << str("peer") << QByteArray(R"({"err_no":3303})")
                                   << str("语音服务器后端繁忙，或是音频质量过低！");
    QTest::newRow("garbage") << str("peer") << QByteArray("<html>busy</html>")
                             << str("语音服务返回了无法识别的数据！");
    QTest::newRow("HTTP error") << str("peer") << QByteArray()
                                << str("转换失败，请检查网络信号是否充足！");
}

void TestCliCommand::failuresUseTheWindowsMessages()
{
    QFETCH(QString, service);
    QFETCH(QByteArray, reply);
    QFETCH(QString, message);
    // The second file is fine and goes on after the first failed.
    QVERIFY(makeTone(work + str("/bad answer.wav"), 3));
    QVERIFY(makeTone(work + str("/good.wav"), 3));
    peer->enqueue(SpeechPath, reply.isEmpty() ? Reply::json("{}", 500) : Reply::json(reply));
    peer->setFallback(SpeechPath, Reply::json(textReply("fine")));
    QString address = peer->baseUrl();
    if (service == str("down")) {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        address = str("http://127.0.0.1:%1").arg(closed.serverPort());
    }
    const auto before = TestFiles::snapshot(work);

    Run run({ str("-s"), address, str("bad answer.wav"), str("good.wav") }, work, tmp);
    QCOMPARE(run.finish(), 1);
    QVERIFY2(run.err.contains(str("failed: %1/bad answer.wav: %2").arg(work, message)),
        qPrintable(run.err));
    QVERIFY(!QFile::exists(work + str("/bad answer.txt")));
    if (service == str("down")) {
        QVERIFY(run.err.contains(str("done 0, skipped 0, failed 2")));
        QCOMPARE(TestFiles::snapshot(work), before);
    } else {
        QVERIFY(run.err.contains(str("done 1, skipped 0, failed 1")));
        QCOMPARE(readUtf8(work + str("/good.txt")), str("fine\n"));
        QCOMPARE(run.out, work + str("/good.txt\n"));
    }
    QCOMPARE(QDir(tmp).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}

// A media file in a folder whose name is not valid UTF-8 is counted and named, not skipped
// silently; an output folder that is a link is followed but named in the summary.
void TestCliCommand::summaryNamesWhatItDidNotTake()
{
    QVERIFY(QDir().mkpath(work + str("/in")) && QDir().mkpath(work + str("/real")));
    QVERIFY(makeTone(work + str("/in/a.wav"), 2));
    const QByteArray odd = QFile::encodeName(work) + "/in/caf\xe9.wav";
    const int fd = ::open(odd.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    QVERIFY(fd >= 0 && ::close(fd) == 0);
    QVERIFY(QFile::link(work + str("/real"), work + str("/out")));
    peer->setFallback(SpeechPath, Reply::json(textReply("ok")));

    Run run({ str("-s"), peer->baseUrl(), str("-o"), str("out"), str("in") }, work, tmp);
    QCOMPARE(run.finish(), 0);
    QVERIFY2(run.err.contains(str("done 1, skipped 0, failed 0")), qPrintable(run.err));
    QVERIFY(run.err.contains(str("not transcribed: 1 file(s) whose names are not valid UTF-8")));
    QVERIFY(run.err.contains(str("is not valid UTF-8; not transcribed")));
    QVERIFY(run.err.contains(str("output folder '%1/out' is a link to '%1/real'").arg(work)));
    QCOMPARE(readUtf8(work + str("/real/a.txt")), str("ok\n"));
}

void TestCliCommand::keepsExistingTranscripts()
{
    QVERIFY(makeTone(work + str("/a.wav"), 2));
    QFile old(work + str("/a.txt"));
    QVERIFY(old.open(QIODevice::WriteOnly) && old.write("mine\n") == 5);
    old.close();
    peer->setFallback(SpeechPath, Reply::json(textReply("new")));

    Run kept({ str("-s"), peer->baseUrl(), str("a.wav") }, work, tmp);
    QCOMPARE(kept.finish(), 0);
    QVERIFY2(kept.err.contains(str("skipped, %1/a.txt exists").arg(work)), qPrintable(kept.err));
    QVERIFY(kept.err.contains(str("done 0, skipped 1, failed 0")));
    QCOMPARE(readUtf8(work + str("/a.txt")), str("mine\n"));
    QVERIFY(peer->requests.isEmpty());

    Run replaced({ str("--overwrite"), str("-s"), peer->baseUrl(), str("a.wav") }, work, tmp);
    QCOMPARE(replaced.finish(), 0);
    QCOMPARE(readUtf8(work + str("/a.txt")), str("new\n"));
}

// A planted link is never written through: a dangling one does not create its target, and
// --overwrite does not replace the file a link points to. A name with control characters is
// printed escaped, on one line.
void TestCliCommand::neverThroughLinksAndNamesEscaped()
{
    const QString odd = str("c\x1b[31m\nd");
    QVERIFY(makeTone(work + str("/b.wav"), 2) && makeTone(work + str("/") + odd + str(".wav"), 2));
    QVERIFY(QFile::link(dir->filePath(str("created")), work + str("/b.txt")));
    const QString victim = dir->filePath(str("victim"));
    QFile file(victim);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("kept\n") == 5);
    file.close();
    QVERIFY(QFile::link(victim, work + str("/") + odd + str(".txt")));
    peer->setFallback(SpeechPath, Reply::json(textReply("new")));

    Run run({ str("--overwrite"), str("-s"), peer->baseUrl(), str("b.wav"), odd + str(".wav") },
        work, tmp);
    QCOMPARE(run.finish(), 1);
    QVERIFY2(run.err.contains(str("done 0, skipped 0, failed 2")), qPrintable(run.err));
    QVERIFY(run.err.contains(str("符号链接")));
    QVERIFY(!QFileInfo::exists(dir->filePath(str("created"))));
    QCOMPARE(readUtf8(victim), str("kept\n"));
    QVERIFY(QFileInfo(work + str("/") + odd + str(".txt")).isSymLink());
    QVERIFY(!run.err.contains(QChar(0x1b)));
    QVERIFY2(run.err.contains(str("c\\x1b[31m\\x0ad")), qPrintable(run.err));
    for (const QString &line : run.err.split(QLatin1Char('\n')))
        QVERIFY2(!line.startsWith(str("d.")), qPrintable(line));
}

void TestCliCommand::provesTheBuiltInServiceBeforeEachFile_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<QByteArray>("audioPath");
    // KEY: the test's key file, in the folder init() makes for each row.
    const QStringList key { str("--secret-file"), str("KEY") };
    QTest::newRow("token protocol, by default") << QStringList() << QByteArray() << SpeechPath;
    QTest::newRow("named, with a client id")
        << (QStringList { str("--service"), str(SPEECH_SERVICE_URL) } + key)
        << QByteArray("[service]\nclientId=carol\n") << SpeechPath;
    QTest::newRow("transcription API, no address")
        << (QStringList { str("--service-kind"), str("transcriptions") } + key) << QByteArray()
        << QByteArray("/v1/audio/transcriptions");
}

// The built-in address is asked only after the service there proved it is the user's own, and
// again before every file: a listener that took the port after the first file gets neither the
// second file's audio nor any credential, however the address was named.
void TestCliCommand::provesTheBuiltInServiceBeforeEachFile()
{
    QFETCH(QStringList, options);
    QFETCH(QByteArray, settings);
    QFETCH(QByteArray, audioPath);
    // The user's own service: it holds the secret the command keeps in the runtime folder.
    const QByteArray secret(64, 'a');
    const QString runtime = dir->filePath(str("run"));
    QVERIFY(QDir().mkpath(runtime + str("/tovarin")));
    QFile::setPermissions(
        runtime + str("/tovarin"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    {
        QFile file(runtime + str("/tovarin/service-secret"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(secret) == secret.size());
        QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
        QFile key(dir->filePath(str("key")));
        QVERIFY(key.open(QIODevice::WriteOnly) && key.write("users-key\n") > 0);
        QDir().mkpath(tmp + str("-config/tovarin"));
        QFile conf(tmp + str("-config/tovarin/tovarin.conf"));
        QVERIFY(conf.open(QIODevice::WriteOnly) && conf.write(settings) == settings.size());
    }
    const int port = QUrl(str(SPEECH_SERVICE_URL)).port();
    ScriptedHttpPeer own;
    ScriptedHttpPeer standIn;
    QVERIFY(own.start(port));
    const auto proofOf = [](const QByteArray &key, const ScriptedHttpPeer::Request &request) {
        const QByteArray nonce = request.query.mid(request.query.indexOf('=') + 1);
        return Reply::json(R"({"proof":")"
            + QMessageAuthenticationCode::hash(nonce, key, QCryptographicHash::Sha256).toHex()
            + "\"}");
    };
    own.setHandler("/tovarin/owner-proof",
        [&](const ScriptedHttpPeer::Request &request) { return proofOf(secret, request); });
    own.setFallback(TokenPath, Reply::json(R"({"access_token":"24.tok","expires_in":2592000})"));
    // The first file is the last the user's service answers: it ends, another takes the port.
    // Before it, the command asks which languages the service has, with a fifth of a second
    // of silence a language (6,400 bytes; the file's two seconds are ten times as long).
    own.setHandler(audioPath, [&](const ScriptedHttpPeer::Request &request) {
        if (request.body.size() > 30000) {
            own.stopListening();
            standIn.start(port);
        }
        return audioPath == SpeechPath ? Reply::json(textReply("mine"))
                                       : Reply::json(R"({"text":"mine"})");
    });
    standIn.setFallback(TokenPath, Reply::json(R"({"access_token":"x","expires_in":100})"));
    standIn.setHandler("/tovarin/owner-proof",
        [&](const ScriptedHttpPeer::Request &request) { return proofOf("guessed", request); });
    standIn.setFallback(SpeechPath, Reply::json(textReply("stolen")));
    standIn.setFallback("/v1/audio/transcriptions", Reply::json(R"({"text":"stolen"})"));
    QVERIFY(makeTone(work + str("/a.wav"), 2) && makeTone(work + str("/b.wav"), 2));

    options.replaceInStrings(str("KEY"), dir->filePath(str("key")));
    qputenv("XDG_RUNTIME_DIR", runtime.toLocal8Bit());
    Run run(options + QStringList { str("a.wav"), str("b.wav") }, work, tmp);
    const int status = run.finish();
    qunsetenv("XDG_RUNTIME_DIR");
    QCOMPARE(status, 1);
    QVERIFY2(run.err.contains(str("端口%1上的语音服务不是本程序启动的，无法使用！").arg(port)),
        qPrintable(run.err));
    QCOMPARE(readUtf8(work + str("/a.txt")), str("mine\n"));
    QVERIFY(!QFile::exists(work + str("/b.txt")));
    // Its languages were asked, once each, before the first file.
    QVERIFY(own.requestsTo(audioPath).size() > 2);
    QVERIFY(!standIn.requestsTo("/tovarin/owner-proof").isEmpty());
    for (const ScriptedHttpPeer::Request &request : standIn.requests) {
        QVERIFY2(request.path != audioPath && !request.query.contains("client")
                && !request.headers.contains("authorization"),
            QByteArray(request.path + '?' + request.query).constData());
    }
}

void TestCliCommand::resumesWhereARunEnded()
{
    // Three segments; the service fails on the second one.
    QVERIFY(makeTone(work + str("/long.wav"), 125));
    peer->enqueue(SpeechPath, Reply::json(textReply("one")));
    peer->enqueue(SpeechPath, Reply::json(R"({"err_no":3303})"));
    peer->setFallback(SpeechPath, Reply::json(textReply("more")));
    const QStringList arguments { str("-s"), peer->baseUrl(), str("-l"), str("en"),
        str("long.wav") };

    Run ended(arguments, work, tmp);
    QCOMPARE(ended.finish(), 1);
    QVERIFY(!QFile::exists(work + str("/long.txt")));
    QCOMPARE(peer->requestsTo(SpeechPath).size(), 2);

    Run resumed(arguments, work, tmp);
    QCOMPARE(resumed.finish(), 0);
    // Only the two segments not yet recognised are sent again.
    QCOMPARE(peer->requestsTo(SpeechPath).size(), 4);
    QCOMPARE(readUtf8(work + str("/long.txt")), str("one\n\nmore\n\nmore\n"));
    const QString kept = tmp + str("-data/tovarin/myResumeFiles");
    QCOMPARE(QDir(kept).entryList(QDir::Files), QStringList());
}

void TestCliCommand::endsOnSignal_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("Ctrl+C") << int(SIGINT);
    QTest::newRow("SIGTERM") << int(SIGTERM);
}

void TestCliCommand::endsOnSignal()
{
    QFETCH(int, signalNumber);
    // Long files, cut into segments in the command's folders, and a service that takes the
    // requests and never answers: the signal meets two jobs mid-way.
    QVERIFY(makeTone(work + str("/long one.mp3"), 70));
    QVERIFY(makeTone(work + str("/long two.m4a"), 70));
    QFile old(work + str("/long two.txt"));
    QVERIFY(old.open(QIODevice::WriteOnly) && old.write("earlier\n") == 8);
    old.close();
    peer->setFallback(SpeechPath, Reply::silent());
    const auto before = TestFiles::snapshot(work);

    Run run({ str("-j"), str("2"), str("--overwrite"), str("-s"), peer->baseUrl(),
                str("long one.mp3"), str("long two.m4a") },
        work, tmp);
    QTRY_COMPARE_WITH_TIMEOUT(peer->requestsTo(SpeechPath).size(), 2, 120000);
    // Both jobs hold their segments and converted copies in folders of their own; the input
    // folder is only read.
    QCOMPARE(QDir(tmp).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 2);
    QCOMPARE(TestFiles::snapshot(work), before);

    QCOMPARE(::kill(pid_t(run.process.processId()), signalNumber), 0);
    QCOMPARE(run.finish(), 128 + signalNumber);
    QVERIFY2(run.err.contains(str("interrupted")), qPrintable(run.err));
    QVERIFY(run.out.isEmpty());
    // The earlier transcript is as it was, nothing was added, and no temporary file is left.
    QCOMPARE(TestFiles::snapshot(work), before);
    QCOMPARE(QDir(tmp).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}

QTEST_GUILESS_MAIN(TestCliCommand)
#include "tst_clicommand.moc"
