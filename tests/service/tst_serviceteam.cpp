// The speech service run for a team: health while loading, ready and
// stopping; the busy answer when no decoder comes free in time; a stop that
// lets the request in progress finish, within its limit; and the deployment's
// nginx file with Debian's nginx in front of two instances, one of them killed.

#include <QtTest>

#include "replies.h"
#include "requestbodies.h"

#include "service/app/options.h"
#include "service/auth/clients_file.h"
#include "service/auth/token.h"
#include "service/recognition/audio_input.h"

#include "common/nginxfront.h"
#include "common/speechservice.h"

#include <chrono>
#include <future>

using namespace speech;
using namespace testhttp;

namespace {

const char *kKey = "team-test-key-51c2";
// The desktop program's pair, which the service accepts by default.
const char *kClient = kDefaultClientId;
const char *kSecret = kDefaultClientSecret;
const char *kModelDir = "/usr/share/pocketsphinx/model/en-us/";

Reply get(int port, const std::string &path)
{
    httplib::Client c("127.0.0.1", port);
    c.set_read_timeout(30, 0);
    return toReply(c.Get(path.c_str()));
}

Reply post(int port, const std::string &body)
{
    httplib::Client c("127.0.0.1", port);
    c.set_read_timeout(120, 0);
    c.set_write_timeout(60, 0);
    return toReply(c.Post("/server_api", body, "application/json"));
}

std::future<Reply> postLater(int port, const std::string &body)
{
    return std::async(std::launch::async, [port, body] { return post(port, body); });
}

// True once the instance's one decoder is taken by a request.
bool decoderTaken(int port)
{
    const Reply h = get(port, "/health");
    return h.status == 200 && h.json["free_decoders"]["1737"].asInt() == 0;
}

bool waitForTakenDecoder(int port)
{
    return QTest::qWaitFor([port] { return decoderTaken(port); }, 60000);
}

QStringList oneDecoder(const QStringList &more = {})
{
    return QStringList { QStringLiteral("--threads"), QStringLiteral("1"), QStringLiteral("--key"),
        QString::fromLatin1(kKey) }
    + more;
}

} // namespace

class ServiceTeamTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void healthWhileLoadingAndReady();
    void busyAnswerAfterTheQueueWait();
    void stopLetsTheRequestInProgressFinish();
    void nginxSendsRequestsToTheInstanceLeft();

private:
    std::string body(const std::string &audio, const std::string &token = {}) const
    {
        return testaudio::text(testaudio::body(audio, token.empty() ? validToken : token));
    }

    QTemporaryDir dir;
    std::string validToken;
    std::string speechWav; // long enough to hold a decoder for seconds
    std::string shortWav;
};

void ServiceTeamTest::initTestCase()
{
    QVERIFY(dir.isValid());
    const int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::system_clock::now().time_since_epoch())
                            .count();
    validToken = TokenSigner(kKey).sign(
        TokenSigner::Kind::Access, kClient, now + 3600, secretDigest(kSecret));
    const QString wav = dir.filePath(QStringLiteral("speech.wav"));
    // The first lines are enough for the 25 s kept below.
    QFile spoken(QStringLiteral(TOV_SOURCE_DIR "/tests/common/speechtext.txt"));
    QVERIFY(spoken.open(QIODevice::ReadOnly));
    const QString lines = dir.filePath(QStringLiteral("speech.txt"));
    QFile firstLines(lines);
    QVERIFY(firstLines.open(QIODevice::WriteOnly));
    for (int k = 0; k < 8; ++k)
        firstLines.write(spoken.readLine());
    firstLines.close();
    QVERIFY(makeSpeechWav(lines, wav));
    QFile f(wav);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    std::vector<int16_t> samples
        = readAudio(std::string_view(bytes.constData(), size_t(bytes.size()))).samples;
    QVERIFY(samples.size() > 25 * kSampleRate);
    samples.resize(25 * kSampleRate);
    speechWav = makeWav(samples);
    shortWav = makeWav(testaudio::silence(1));
}

void ServiceTeamTest::healthWhileLoadingAndReady()
{
    // Four models load for seconds, one after the other.
    QStringList args = oneDecoder();
    for (const char *devPid : { "1537", "1637", "1837" })
        args << QStringLiteral("--model")
             << QStringLiteral("%1=%2en-us,%2en-us.lm.bin,%2cmudict-en-us.dict")
                    .arg(QString::fromLatin1(devPid), QString::fromLatin1(kModelDir));
    SpeechServiceProcess service(args);
    QVERIFY2(service.start(0, 60000, false), qPrintable(service.logText()));

    Reply h = get(service.port(), "/health");
    QCOMPARE(h.status, 503);
    QCOMPARE(h.json["status"].asString(), std::string("loading"));
    // A recognition meanwhile is an HTTP error a balancer retries elsewhere,
    // and still says "busy" to a client reading the body.
    const Reply early = post(service.port(), body(shortWav));
    QCOMPARE(early.status, 503);
    QCOMPARE(early.json["err_no"].asInt(), 3304);
    // Tokens need no model.
    QCOMPARE(get(service.port(), tokenPath("client_credentials", kClient, kSecret)).status, 200);

    QTRY_VERIFY_WITH_TIMEOUT((h = get(service.port(), "/health")).status == 200, 60000);
    QCOMPARE(h.json["status"].asString(), std::string("ready"));
    QCOMPARE(h.json["dev_pids"].size(), 4u);
    QCOMPARE(h.json["dev_pids"][2].asInt(), 1737);
    QCOMPARE(h.json["free_decoders"]["1737"].asInt(), 1);
    QCOMPARE(post(service.port(), body(shortWav)).json["err_no"].asInt(), 0);
}

void ServiceTeamTest::busyAnswerAfterTheQueueWait()
{
    SpeechServiceProcess service(
        oneDecoder({ QStringLiteral("--max-queue-wait"), QStringLiteral("1") }));
    QVERIFY2(service.start(), qPrintable(service.logText()));
    using Clock = std::chrono::steady_clock;
    auto timed = [&] {
        return std::async(std::launch::async, [&] {
            Reply r = post(service.port(), body(speechWav));
            return std::make_pair(r, Clock::now());
        });
    };
    auto first = timed();
    QVERIFY(waitForTakenDecoder(service.port()));
    // Two more requests than decoders: both told to ask again, long before
    // the decoder is free.
    auto second = timed();
    auto third = timed();
    const auto [busy1, busyAt1] = second.get();
    const auto [busy2, busyAt2] = third.get();
    const auto [served, servedAt] = first.get();
    for (const Reply &r : { busy1, busy2 }) {
        QCOMPARE(r.status, 200);
        QCOMPARE(r.json["err_no"].asInt(), 3304);
        QVERIFY2(r.json["err_msg"].asString().find("no decoder came free within 1 s")
                != std::string::npos,
            r.json["err_msg"].asString().c_str());
    }
    QVERIFY(busyAt1 < servedAt && busyAt2 < servedAt);
    QCOMPARE(served.json["err_no"].asInt(), 0);
    QVERIFY(!served.json["result"][0].asString().empty());

    // Now that the pace of decoding is known, a request behind more audio
    // than the decoder gets through in a second is told at once: of two
    // arriving together, at least the one behind the other.
    auto again = timed();
    QVERIFY(waitForTakenDecoder(service.port()));
    std::future<Reply> told[] = { postLater(service.port(), body(speechWav)),
        postLater(service.port(), body(speechWav)) };
    int foreseen = 0;
    for (std::future<Reply> &f : told) {
        const Reply r = f.get();
        QCOMPARE(r.json["err_no"].asInt(), 3304);
        foreseen += r.json["err_msg"].asString().find("the requests ahead") != std::string::npos;
    }
    QVERIFY(foreseen >= 1);
    QCOMPARE(again.get().first.json["err_no"].asInt(), 0);
    // Asked again, as the desktop program does, it is served.
    QCOMPARE(post(service.port(), body(shortWav)).json["err_no"].asInt(), 0);
}

void ServiceTeamTest::stopLetsTheRequestInProgressFinish()
{
    SpeechServiceProcess service(oneDecoder());
    QVERIFY2(service.start(), qPrintable(service.logText()));
    std::future<Reply> inProgress = postLater(service.port(), body(speechWav));
    QVERIFY(waitForTakenDecoder(service.port()));
    service.signalStop();
    // Health turns first, and new requests go elsewhere; the listener stays
    // until the request in progress has its answer.
    QTRY_COMPARE_WITH_TIMEOUT(
        QString::fromStdString(get(service.port(), "/health").json["status"].asString()),
        QStringLiteral("stopping"), 30000);
    const Reply late = post(service.port(), body(shortWav));
    QCOMPARE(late.status, 503);
    QCOMPARE(late.json["err_no"].asInt(), 3304);
    const Reply answered = inProgress.get();
    QCOMPARE(answered.status, 200);
    QCOMPARE(answered.json["err_no"].asInt(), 0);
    QVERIFY(!answered.json["result"][0].asString().empty());
    QCOMPARE(service.waitForExit(60000), 0);

    // The wait has a limit: past it the service ends without the answer.
    SpeechServiceProcess hurried(
        oneDecoder({ QStringLiteral("--stop-timeout"), QStringLiteral("1") }));
    QVERIFY2(hurried.start(), qPrintable(hurried.logText()));
    std::future<Reply> cut = postLater(hurried.port(), body(speechWav));
    QVERIFY(waitForTakenDecoder(hurried.port()));
    hurried.signalStop();
    QCOMPARE(hurried.waitForExit(60000), 1);
    QVERIFY(hurried.logText().contains(QStringLiteral("stopped without them")));
    QCOMPARE(cut.get().status, -1);
}

void ServiceTeamTest::nginxSendsRequestsToTheInstanceLeft()
{
    if (!NginxFront::available())
        QSKIP("Debian's nginx is not installed (scripts/install-deps.sh installs it)");
    SpeechServiceProcess one(oneDecoder());
    SpeechServiceProcess two(oneDecoder());
    QVERIFY2(one.start(), qPrintable(one.logText()));
    QVERIFY2(two.start(), qPrintable(two.logText()));
    NginxFront front;
    QVERIFY2(front.start({ one.port(), two.port() }), qPrintable(front.error()));

    // The desktop program's steps through nginx: a token, then recognition.
    const Reply token = get(front.port(), tokenPath("client_credentials", kClient, kSecret));
    QCOMPARE(token.status, 200);
    const std::string issued = token.json["access_token"].asString();

    // The instance working on a request is killed: the request is sent to the other.
    std::future<Reply> inProgress = postLater(front.port(), body(speechWav, issued));
    QTRY_VERIFY_WITH_TIMEOUT(decoderTaken(one.port()) || decoderTaken(two.port()), 60000);
    (decoderTaken(one.port()) ? one : two).kill();
    const Reply retried = inProgress.get();
    QVERIFY2(retried.status == 200, qPrintable(front.errorLog()));
    QCOMPARE(retried.json["err_no"].asInt(), 0);
    QVERIFY(!retried.json["result"][0].asString().empty());

    // With one instance gone every request is still answered.
    for (int i = 0; i < 4; ++i) {
        const Reply r = post(front.port(), body(shortWav, issued));
        QCOMPARE(r.status, 200);
        QCOMPARE(r.json["err_no"].asInt(), 0);
    }
}

QTEST_GUILESS_MAIN(ServiceTeamTest)
#include "tst_serviceteam.moc"
