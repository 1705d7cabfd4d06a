// Any speech service: the transcription API through the job against a scripted peer, over
// https with a test CA, the token protocol with the user's own pair against the real service,
// and the secret in a real keyring or its private file.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "asr/connectiontest.h"
#include "asr/jobnotices.h"
#include "asr/qthttpclass.h"
#include "asr/secretstore.h"
#include "asr/servicelanguages.h"
#include "asr/servicesettings.h"
#include "asr/speechservicestarter.h"
#include "asr/transcriptionjob.h"
#include "asr/transcriptionsapi.h"
#include "audio/wavinfo.h"
#include "common/scriptedhttppeer.h"
#include "common/speechservice.h"
#include "common/testfiles.h"
#include "ui/jobstatustexts.h"

using Reply = ScriptedHttpPeer::Reply;
Q_DECLARE_METATYPE(QList<ScriptedHttpPeer::Reply>)

namespace {
const QByteArray ApiPath = "/v1/audio/transcriptions";
const QString Done = QStringLiteral("(done)");
const char KeyringChild[] = "TOV_KEYRING_CHILD";

// The value of a text field of a multipart body.
QByteArray formField(const QByteArray &body, const QByteArray &name)
{
    const QByteArray marker = "name=\"" + name + "\"";
    const int at = body.indexOf(marker);
    if (at < 0)
        return QByteArray();
    const int start = body.indexOf("\r\n\r\n", at) + 4;
    return body.mid(start, body.indexOf("\r\n--", start) - start);
}
} // namespace

class TestAnyService : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void uploadCarriesTheFormAndTheKey();
    void replyTimesAndRefusals();
    void failuresEndOrRetry_data();
    void failuresEndOrRetry();
    void httpsNeedsTheTeamsCa();
    void textAsReadersExpectIt();
    void addressesAsServersWriteThem_data();
    void addressesAsServersWriteThem();
    void tokenFromItsOwnAddress();
    void languagesTheServiceHas();
    void ownTokenPairAgainstTheRealService();
    void secretInTheFileWithoutKeyring();
    void connectionTestNeedsTheProofAtTheBuiltInAddress();
    void secretInARealKeyring();

private:
    // Runs one job on a 2-second tone to the end; the notices it gave (Done when finished).
    QStringList runJob(JobSettings settings, QStringList *statusTexts = nullptr);

    QTemporaryDir dir;
    QString tone;
};

void TestAnyService::initTestCase()
{
    QVERIFY(dir.isValid());
    tone = dir.filePath(QStringLiteral("tone.wav"));
    QVERIFY(TestFiles::make(tone, TestFiles::words("-f|lavfi|-i|sine=frequency=440:duration=2")));
}

QStringList TestAnyService::runJob(JobSettings settings, QStringList *statusTexts)
{
    TaskList tasks;
    TranscriptionJob job;
    settings.segmentFolder = dir.filePath(QStringLiteral("segments"));
    settings.transcriptFolder = dir.path();
    settings.convertBesideSource = false;
    settings.backoffScale = 0.01;
    if (settings.language.isEmpty())
        settings.language = QStringLiteral("中文近场");
    job.setSettings(settings);
    tasks.add(tone);
    job.setTaskList(&tasks);
    QStringList notices;
    connect(&job, &TranscriptionJob::finished, this, [&](const JobResult &result) {
        notices << (result.succeeded() ? Done : JobNotices::text(result.failure));
    });
    if (statusTexts)
        connect(&job, &TranscriptionJob::progressed, this, [statusTexts](const JobStatus &status) {
            *statusTexts << JobStatusTexts::buttonText(status);
        });
    job.start();
    if (!QTest::qWaitFor([&] { return !job.isRunning(); }, 60000))
        notices << QStringLiteral("(still running)");
    return notices;
}

void TestAnyService::uploadCarriesTheFormAndTheKey()
{
    ScriptedHttpPeer peer;
    QVERIFY(peer.start());
    peer.enqueue(ApiPath, Reply::json(R"({"text":" 你好世界 ","segments":[]})"));
    JobSettings settings;
    settings.serviceBaseUrl = peer.baseUrl();
    settings.serviceKind = JobSettings::ServiceKind::Transcriptions;
    settings.model = QStringLiteral("large-v3");
    settings.serviceSecret = QStringLiteral("k-123");
    QCOMPARE(runJob(settings), QStringList { Done });

    // One upload and no token request.
    QCOMPARE(peer.requests.size(), 1);
    const ScriptedHttpPeer::Request sent = peer.requests.first();
    QCOMPARE(sent.path, ApiPath);
    QCOMPARE(sent.headers.value("authorization"), QByteArray("Bearer k-123"));
    QVERIFY(sent.headers.value("content-type").startsWith("multipart/form-data; boundary="));
    QCOMPARE(formField(sent.body, "model"), QByteArray("large-v3"));
    QCOMPARE(formField(sent.body, "language"), QByteArray("zh"));
    QCOMPARE(formField(sent.body, "response_format"), QByteArray("verbose_json"));
    QCOMPARE(formField(sent.body, "timestamp_granularities[]"), QByteArray("segment"));
    const WavInfo wav = WavInfo::fromBytes(formField(sent.body, "file\"; filename=\"segment.wav"));
    QVERIFY(wav.valid);
    QCOMPARE(int(wav.sampleRate), 16000);
    QCOMPARE(int(wav.channels), 1);
    QCOMPARE(TestFiles::readAll(dir.filePath(QStringLiteral("tone.txt"))).trimmed(),
        QStringLiteral("你好世界").toLocal8Bit());
}

void TestAnyService::replyTimesAndRefusals()
{
    HttpReplyInfo info;
    info.status = 200;
    info.body = R"({"text":" 今天 开会","segments":[{"start":0.0,"end":1.52,"text":" 今天"},
        {"start":1.52,"end":3.0049,"text":"开会"},{"start":"x","end":4,"text":"bad"}]})";
    RecognitionReply reply = TranscriptionsApi::parseReply(info, QStringLiteral("http://a"));
    QCOMPARE(reply.kind, RecognitionReply::Text);
    QCOMPARE(reply.text, QStringLiteral("今天 开会"));
    QCOMPARE(reply.utterances.size(), 2);
    QCOMPARE(reply.utterances[0].endMs, qint64(1520));
    QCOMPARE(reply.utterances[1].startMs, qint64(1520));
    QCOMPARE(reply.utterances[1].endMs, qint64(3005));
    QCOMPARE(reply.utterances[1].text, QStringLiteral("开会"));

    // Retry-After as seconds, as an HTTP date, and bounded.
    const QDateTime now = QDateTime(QDate(2026, 12, 9), QTime(0, 0, 0), Qt::UTC);
    QCOMPARE(TranscriptionsApi::retryAfterSeconds("7", now), 7);
    QCOMPARE(TranscriptionsApi::retryAfterSeconds("Wed, 09 Dec 2026 00:00:42 GMT", now), 42);
    QCOMPARE(TranscriptionsApi::retryAfterSeconds("86400", now), 300);
    QCOMPARE(TranscriptionsApi::retryAfterSeconds("soon", now), 0);

    QCOMPARE(TranscriptionsApi::languageCode(QStringLiteral("粤语")), QStringLiteral("yue"));
    QCOMPARE(TranscriptionsApi::languageCode(QStringLiteral("四川话")), QStringLiteral("zh"));
    QCOMPARE(TranscriptionsApi::languageCode(QStringLiteral("英文")), QStringLiteral("en"));
    // Raw samples get a header the service can read.
    const WavInfo wrapped = WavInfo::fromBytes(TranscriptionsApi::wavBytes(QByteArray(320, '\1')));
    QVERIFY(wrapped.valid);
    QCOMPARE(int(wrapped.dataBytes), 320);
}

void TestAnyService::failuresEndOrRetry_data()
{
    QTest::addColumn<QList<Reply>>("replies");
    QTest::addColumn<int>("requests");
    QTest::addColumn<QString>("notice");
    QTest::addColumn<QString>("waitShown");
    const Reply text = Reply::json(R"({"text":"ok"})");
    QTest::newRow("401 is not retried")
        << QList<Reply> { Reply::json(R"({"error":{"message":"bad key"}})", 401), text } << 1
        << TranscriptionsApi::credentialsRefusedText() << QString();
    QTest::newRow("413") << QList<Reply> { Reply::json("{}", 413) } << 1
                         << TranscriptionsApi::tooLargeText() << QString();
    QTest::newRow("garbage") << QList<Reply> { Reply::json("<html>oops</html>") } << 1
                             << QStringLiteral("语音服务返回了无法识别的数据！") << QString();
    QTest::newRow("no text is silence")
        << QList<Reply> { Reply::json(R"({"text":"  "})") } << 1 << Done << QString();
    QTest::newRow("429 with Retry-After, then 500") << QList<Reply> {
        Reply::json("{}", 429).withHeader("Retry-After", "3"), Reply::json("{}", 500), text
    } << 3 << Done << QStringLiteral("重申请: 3秒");
}

void TestAnyService::failuresEndOrRetry()
{
    QFETCH(QList<Reply>, replies);
    QFETCH(int, requests);
    QFETCH(QString, notice);
    QFETCH(QString, waitShown);
    ScriptedHttpPeer peer;
    QVERIFY(peer.start());
    for (const Reply &reply : replies)
        peer.enqueue(ApiPath, reply);
    JobSettings settings;
    settings.serviceBaseUrl = peer.baseUrl();
    settings.serviceKind = JobSettings::ServiceKind::Transcriptions;
    QStringList statusTexts;
    QCOMPARE(runJob(settings, &statusTexts), QStringList { notice });
    QCOMPARE(peer.requestsTo(ApiPath).size(), requests);
    if (!waitShown.isEmpty())
        QVERIFY2(statusTexts.contains(waitShown), qPrintable(statusTexts.join(QLatin1Char('|'))));
    if (notice == Done)
        QVERIFY(QFileInfo::exists(dir.filePath(QStringLiteral("tone.txt"))));
}

void TestAnyService::httpsNeedsTheTeamsCa()
{
    // A CA of the test's own and a certificate it signed for 127.0.0.1.
    const auto run = [this](const QString &arguments) {
        QProcess openssl;
        openssl.setWorkingDirectory(dir.path());
        openssl.start(QStringLiteral("openssl"), arguments.split(QLatin1Char(' ')));
        return openssl.waitForFinished(30000) && openssl.exitCode() == 0;
    };
    QFile ext(dir.filePath(QStringLiteral("san.ext")));
    QVERIFY(ext.open(QIODevice::WriteOnly));
    ext.write("subjectAltName=IP:127.0.0.1\n");
    ext.close();
    QVERIFY(run(QStringLiteral("req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=TestCA "
                               "-keyout ca.key -out ca.pem")));
    QVERIFY(run(QStringLiteral("req -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 "
                               "-keyout server.key -out server.csr")));
    QVERIFY(run(QStringLiteral("x509 -req -in server.csr -CA ca.pem -CAkey ca.key "
                               "-CAcreateserial -days 2 -extfile san.ext -out server.pem")));

    ScriptedHttpPeer peer;
    QVERIFY(peer.startTls(
        dir.filePath(QStringLiteral("server.pem")), dir.filePath(QStringLiteral("server.key"))));
    peer.setFallback(ApiPath, Reply::json(R"({"text":"secure"})"));
    JobSettings settings;
    settings.serviceBaseUrl = peer.baseUrl();
    settings.serviceKind = JobSettings::ServiceKind::Transcriptions;
    const QStringList refused = runJob(settings);
    QCOMPARE(refused.size(), 1);
    QVERIFY2(refused.first().contains(peer.baseUrl())
            && refused.first().contains(QStringLiteral("证书")),
        qPrintable(refused.first()));
    QVERIFY(peer.requestsTo(ApiPath).isEmpty());

    settings.caFile = dir.filePath(QStringLiteral("ca.pem"));
    QCOMPARE(runJob(settings), QStringList { Done });
    QCOMPARE(peer.requestsTo(ApiPath).size(), 1);
}

void TestAnyService::textAsReadersExpectIt()
{
    // Mixed scripts, half-width marks, numerals in words and a misheard name, as Whisper-class
    // services give them; one segment's text and its utterances.
    ScriptedHttpPeer peer;
    QVERIFY(peer.start());
    peer.enqueue(
        ApiPath, Reply::json(R"({"text":"托瓦林在二〇二六年發佈了,準確率百分之九十五.","segments":[
        {"start":0.0,"end":1.0,"text":"托瓦林在二〇二六年發佈了,"},
        {"start":1.0,"end":2.0,"text":"準確率百分之九十五."}]})"));
    JobSettings settings;
    settings.serviceBaseUrl = peer.baseUrl();
    settings.serviceKind = JobSettings::ServiceKind::Transcriptions;
    ServiceSettings saved;
    saved.script = ChineseScript::Target::Simplified;
    saved.arabicNumbers = true;
    settings.textRules = saved.textRules(QStringLiteral("中文近场"),
        UserTerms::parse(QStringLiteral("托瓦林 => Tovarin\nPocketSphinx\n")));

    TimedUtterances utterances;
    QStringList shown;
    settings.segmentFolder = dir.filePath(QStringLiteral("segments"));
    settings.transcriptFolder = dir.path();
    settings.convertBesideSource = false;
    settings.language = QStringLiteral("中文近场");
    TaskList tasks;
    tasks.add(tone);
    TranscriptionJob job;
    job.setSettings(settings);
    job.setTaskList(&tasks);
    connect(&job, &TranscriptionJob::textRecognised, this, [&](const QString &t) { shown << t; });
    connect(&job, &TranscriptionJob::utterancesRecognised, this,
        [&](int, const TimedUtterances &u) { utterances += u; });
    QSignalSpy done(&job, &TranscriptionJob::finished);
    job.start();
    QVERIFY(done.wait(60000));
    QVERIFY(done.first().first().value<JobResult>().succeeded());

    QCOMPARE(formField(peer.requests.first().body, "prompt"), QByteArray("Tovarin, PocketSphinx"));
    const QString expected = QStringLiteral("Tovarin在2026年发布了，准确率95%。");
    QCOMPARE(shown, QStringList { expected });
    QCOMPARE(QString::fromLocal8Bit(TestFiles::readAll(dir.filePath(QStringLiteral("tone.txt")))),
        expected + QLatin1Char('\n'));
    QCOMPARE(utterances.size(), 2);
    QCOMPARE(utterances[0].text, QStringLiteral("Tovarin在2026年发布了，"));
    QCOMPARE(utterances[1].text, QStringLiteral("准确率95%。"));

    // English keeps its own marks: the punctuation is for the Chinese languages only.
    const TextRules english = saved.textRules(QStringLiteral("英文"), UserTerms());
    QVERIFY(!english.chinesePunctuation);
}

void TestAnyService::addressesAsServersWriteThem_data()
{
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("posted");
    QTest::newRow("plain") << QString() << QString() << ApiPath;
    QTest::newRow("with /v1") << QStringLiteral("/v1") << QString() << ApiPath;
    QTest::newRow("with /v1/") << QStringLiteral("/v1/") << QString() << ApiPath;
    QTest::newRow("trailing slash") << QStringLiteral("/") << QString() << ApiPath;
    QTest::newRow("whole endpoint")
        << QStringLiteral("/v1/audio/transcriptions") << QString() << ApiPath;
    QTest::newRow("whisper.cpp") << QStringLiteral("/") << QStringLiteral("/inference")
                                 << QByteArray("/inference");
    QTest::newRow("a prefix stays")
        << QStringLiteral("/asr/v1") << QString() << QByteArray("/asr/v1/audio/transcriptions");
}

void TestAnyService::addressesAsServersWriteThem()
{
    QFETCH(QString, base);
    QFETCH(QString, path);
    QFETCH(QByteArray, posted);
    ScriptedHttpPeer peer;
    QVERIFY(peer.start());
    peer.setFallback(posted, Reply::json(R"({"text":"ok"})"));
    JobSettings settings;
    settings.serviceBaseUrl = peer.baseUrl() + base;
    settings.requestPath = path;
    settings.serviceKind = JobSettings::ServiceKind::Transcriptions;
    QCOMPARE(runJob(settings), QStringList { Done });
    QCOMPARE(peer.requests.size(), 1);
    QCOMPARE(peer.requests.first().path, posted);
}

void TestAnyService::tokenFromItsOwnAddress()
{
    // One host hands out tokens, another recognises: each is asked only its own request.
    ScriptedHttpPeer tokens;
    ScriptedHttpPeer recogniser;
    QVERIFY(tokens.start() && recogniser.start());
    tokens.setFallback(
        "/oauth/2.0/token", Reply::json(R"({"access_token":"24.t","expires_in":99})"));
    recogniser.setFallback("/server_api",
        Reply::json(R"({"err_no":0,"err_msg":"success.","sn":"1","result":["分开的"]})"));
    ServiceSettings saved;
    saved.tokenUrl = tokens.baseUrl() + QStringLiteral("/oauth/2.0/token/");
    JobSettings settings;
    settings.serviceBaseUrl = recogniser.baseUrl();
    settings.tokenBaseUrl = saved.tokenBaseAddress();
    QCOMPARE(runJob(settings), QStringList { Done });
    QCOMPARE(tokens.requests.size(), 1);
    QCOMPARE(tokens.requests.first().path, QByteArray("/oauth/2.0/token"));
    QCOMPARE(recogniser.requests.size(), 1);
    QCOMPARE(recogniser.requests.first().path, QByteArray("/server_api"));
    QVERIFY(recogniser.requests.first().body.contains("24.t"));
}

void TestAnyService::languagesTheServiceHas()
{
    const auto probe = [](const JobSettings &settings, QStringList *offered) {
        LanguageProbe asking;
        QSignalSpy finished(&asking, &LanguageProbe::finished);
        asking.start(settings);
        if (!finished.wait(30000))
            return false;
        *offered = finished.first().at(1).toStringList();
        return finished.first().first().toBool();
    };
    // The token protocol: a model for English only, the others refused by dev_pid.
    ScriptedHttpPeer token;
    QVERIFY(token.start());
    token.setFallback(
        "/oauth/2.0/token", Reply::json(R"({"access_token":"24.t","expires_in":99})"));
    token.setHandler("/server_api", [](const ScriptedHttpPeer::Request &r) {
        const QByteArray devPid = QRegularExpression(QStringLiteral("\"dev_pid\"\\s*:\\s*(\\d+)"))
                                      .match(QString::fromUtf8(r.body))
                                      .captured(1)
                                      .toUtf8();
        return devPid == "1737"
            ? Reply::json(R"({"err_no":0,"err_msg":"success.","sn":"1","result":[]})")
            : Reply::json(R"({"err_no":3300,"err_msg":"no model installed for dev_pid )" + devPid
                + R"(","sn":"2"})");
    });
    JobSettings settings;
    settings.serviceBaseUrl = token.baseUrl();
    QStringList offered;
    QVERIFY(probe(settings, &offered));
    QCOMPARE(offered, QStringList { QStringLiteral("英文") });
    QCOMPARE(token.requestsTo("/server_api").size(), 5);

    // The transcription API: a 400 naming the language; Mandarin asked once for its items.
    ScriptedHttpPeer api;
    QVERIFY(api.start());
    api.setHandler(ApiPath, [](const ScriptedHttpPeer::Request &r) {
        return formField(r.body, "language") == "yue"
            ? Reply::json(R"({"error":{"message":"Unsupported language: yue"}})", 400)
            : Reply::json(R"({"text":""})");
    });
    settings.serviceBaseUrl = api.baseUrl() + QStringLiteral("/v1");
    settings.serviceKind = JobSettings::ServiceKind::Transcriptions;
    QVERIFY(probe(settings, &offered));
    QCOMPARE(offered,
        QStringList({ QStringLiteral("中文近场"), QStringLiteral("中文远场"),
            QStringLiteral("英文"), QStringLiteral("四川话") }));
    QCOMPARE(api.requestsTo(ApiPath).size(), 3);
    // Any other failure says nothing about the languages.
    api.setHandler(
        ApiPath, [](const ScriptedHttpPeer::Request &) { return Reply::json("{}", 500); });
    QVERIFY(!probe(settings, &offered));
    QVERIFY(!ServiceLanguages::saysNoModel(
        QStringLiteral("bad language: yuen"), -1, QStringLiteral("yue")));

    // Kept per service, and the notice names what the service offers.
    const QString cache = dir.filePath(QStringLiteral("languages.json"));
    ServiceLanguages::keep(QStringLiteral("a"), { QStringLiteral("英文") }, cache);
    ServiceLanguages::keep(QStringLiteral("b"), {}, cache);
    QVERIFY(ServiceLanguages::cached(QStringLiteral("a"), &offered, cache));
    QCOMPARE(offered, QStringList { QStringLiteral("英文") });
    QVERIFY(ServiceLanguages::cached(QStringLiteral("b"), &offered, cache) && offered.isEmpty());
    QVERIFY(!ServiceLanguages::cached(QStringLiteral("c"), &offered, cache));
    QCOMPARE(ServiceLanguages::notOfferedText(QStringLiteral("粤语"), { QStringLiteral("英文") }),
        QStringLiteral("该语音服务没有“粤语”的模型，它提供的语言：英文。"));
}

void TestAnyService::ownTokenPairAgainstTheRealService()
{
    SpeechServiceProcess service({ QStringLiteral("--client-id"), QStringLiteral("team-desk"),
        QStringLiteral("--client-secret"), QStringLiteral("s3cr3t&more") });
    QVERIFY2(service.start(), qPrintable(service.logText()));
    JobSettings settings;
    settings.serviceBaseUrl = service.baseUrl();
    settings.language = QStringLiteral("英文");
    // The built-in pair is refused by this service; the team's own is taken.
    QCOMPARE(runJob(settings),
        QStringList { QStringLiteral("获取访问令牌失败，请检查网络连接是否断开！") });
    settings.serviceClientId = QStringLiteral("team-desk");
    settings.serviceSecret = QStringLiteral("s3cr3t&more");
    QCOMPARE(runJob(settings), QStringList { Done });
    // The real service's own refusal for a language without a model is understood.
    LanguageProbe probe;
    QSignalSpy finished(&probe, &LanguageProbe::finished);
    probe.start(settings);
    QVERIFY(finished.wait(60000));
    QVERIFY(finished.first().first().toBool());
    QCOMPARE(finished.first().at(1).toStringList(), QStringList { QStringLiteral("英文") });
}

void TestAnyService::secretInTheFileWithoutKeyring()
{
    // No session bus: no keyring answers, the file is used.
    if (qEnvironmentVariableIsSet(KeyringChild))
        QSKIP("runs outside the private session only");
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    qunsetenv("DISPLAY");
    qunsetenv("TOVARIN_SERVICE_SECRET");
    QTemporaryDir folder;
    SecretStore store;
    store.setFolder(folder.path());
    QSignalSpy written(&store, &SecretStore::written);
    store.write(QStringLiteral("key-in-file"));
    QVERIFY(written.wait(15000));
    QCOMPARE(written.first().first().value<SecretStore::Place>(), SecretStore::Place::File);
    QCOMPARE(QFileInfo(store.filePath()).permissions(),
        QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    QSignalSpy read(&store, &SecretStore::readDone);
    store.read();
    QVERIFY(read.wait(15000));
    QCOMPARE(read.first().first().toString(), QStringLiteral("key-in-file"));
    // The environment overrides what is stored.
    qputenv("TOVARIN_SERVICE_SECRET", "from-env");
    read.clear();
    store.read();
    QVERIFY(read.wait(5000));
    QCOMPARE(read.first().first().toString(), QStringLiteral("from-env"));
    qunsetenv("TOVARIN_SERVICE_SECRET");
}

// "测试连接" at the built-in address: a listener there that cannot prove it is the user's own
// service gets neither the client's secret nor the key, and the test says whose it is not.
void TestAnyService::connectionTestNeedsTheProofAtTheBuiltInAddress()
{
    qRegisterMetaType<ConnectionTest::Outcome>();
    QTemporaryDir runtime;
    QVERIFY(runtime.isValid());
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    ScriptedHttpPeer standIn;
    QVERIFY(standIn.start(QUrl(SpeechServiceStarter::builtInUrl()).port()));
    standIn.setFallback("/oauth/2.0/token", Reply::json(R"({"access_token":"x"})"));
    standIn.setFallback("/tovarin/owner-proof", Reply::json(R"({"proof":"00"})"));
    standIn.setFallback(ApiPath, Reply::json(R"({"text":""})"));
    for (const auto kind :
        { ServiceSettings::Kind::Token, ServiceSettings::Kind::Transcriptions }) {
        ServiceSettings settings;
        settings.kind = kind;
        settings.url = QStringLiteral("http://localhost:%1")
                           .arg(standIn.baseUrl().section(QLatin1Char(':'), -1));
        settings.clientId = QStringLiteral("carol");
        ConnectionTest test;
        QSignalSpy finished(&test, &ConnectionTest::finished);
        test.start(settings, QStringLiteral("carols-secret"));
        QVERIFY(finished.wait(30000));
        QCOMPARE(finished.first().at(0).value<ConnectionTest::Outcome>(),
            ConnectionTest::Outcome::NotTheService);
        QVERIFY2(finished.first().at(1).toString().contains(QStringLiteral("不是本程序启动的")),
            qPrintable(finished.first().at(1).toString()));

        // The language probe asks nothing of a listener that fails the proof.
        JobSettings asked;
        asked.serviceBaseUrl = settings.url;
        asked.serviceKind = kind == ServiceSettings::Kind::Token
            ? JobSettings::ServiceKind::Token
            : JobSettings::ServiceKind::Transcriptions;
        asked.serviceClientId = settings.clientId;
        asked.serviceSecret = QStringLiteral("carols-secret");
        LanguageProbe probe;
        QSignalSpy probed(&probe, &LanguageProbe::finished);
        probe.start(asked);
        QVERIFY(probed.wait(30000));
        QCOMPARE(probed.first().at(0).toBool(), false);
    }
    // A token address at the built-in port, the service elsewhere: the secret goes nowhere.
    ScriptedHttpPeer elsewhere;
    QVERIFY(elsewhere.start());
    JobSettings split;
    split.serviceBaseUrl = elsewhere.baseUrl();
    split.tokenBaseUrl = standIn.baseUrl();
    split.serviceClientId = QStringLiteral("carol");
    split.serviceSecret = QStringLiteral("carols-secret");
    const QStringList notices = runJob(split);
    QCOMPARE(notices.size(), 1);
    QVERIFY2(notices.first().contains(QStringLiteral("令牌地址")), qPrintable(notices.first()));
    QVERIFY(elsewhere.requests.isEmpty());
    QVERIFY(!standIn.requestsTo("/tovarin/owner-proof").isEmpty());
    for (const ScriptedHttpPeer::Request &request : standIn.requests)
        QVERIFY2(request.path != ApiPath && !request.query.contains("client")
                && !request.headers.contains("authorization"),
            QByteArray(request.path + '?' + request.query).constData());
    qunsetenv("XDG_RUNTIME_DIR");
}

void TestAnyService::secretInARealKeyring()
{
    if (!qEnvironmentVariableIsSet(KeyringChild)) {
        // This function again, inside a private D-Bus session with an unlocked keyring.
        QTemporaryDir home;
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QString::fromLatin1(KeyringChild), home.path());
        environment.insert(QStringLiteral("HOME"), home.path());
        environment.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path());
        environment.remove(QStringLiteral("TOVARIN_SERVICE_SECRET"));
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QStringLiteral("dbus-run-session"),
            { QStringLiteral("--"), QStringLiteral("sh"), QStringLiteral("-c"),
                QStringLiteral("echo test-password | gnome-keyring-daemon --unlock "
                               "--components=secrets >/dev/null || exit 77; exec \"$0\" "
                               "secretInARealKeyring"),
                QCoreApplication::applicationFilePath() });
        if (!child.waitForStarted(10000))
            QSKIP("dbus-run-session cannot be started here");
        QVERIFY(child.waitForFinished(60000));
        const QString output = QString::fromLocal8Bit(child.readAll());
        if (child.exitCode() == 77 || output.contains(QStringLiteral("SKIP")))
            QSKIP(qPrintable(QStringLiteral("no Secret Service could be started: ") + output));
        QVERIFY2(child.exitCode() == 0, qPrintable(output));
        return;
    }
    const QString folder = qEnvironmentVariable(KeyringChild);
    SecretStore store;
    store.setFolder(folder);
    QSignalSpy written(&store, &SecretStore::written);
    store.write(QStringLiteral("key-in-keyring"));
    QVERIFY(written.wait(15000));
    QCOMPARE(written.first().first().value<SecretStore::Place>(), SecretStore::Place::Keyring);
    QVERIFY(!QFileInfo::exists(store.filePath()));
    QSignalSpy read(&store, &SecretStore::readDone);
    store.read();
    QVERIFY(read.wait(15000));
    QCOMPARE(read.first().first().toString(), QStringLiteral("key-in-keyring"));
    QCOMPARE(read.first().at(1).value<SecretStore::Place>(), SecretStore::Place::Keyring);
}

QTEST_GUILESS_MAIN(TestAnyService)
#include "tst_anyservice.moc"
