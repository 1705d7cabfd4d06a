// The speech-service program over HTTP on a free loopback port: the token
// endpoint, every kind of bad request, limits on bodies, heads and slow
// clients, a burst of requests, real recognition, and two processes sharing
// one key.

#include <QTcpSocket>
#include <QTextCodec>
#include <QtTest>

#include "replies.h"
#include "requestbodies.h"

#include "service/api/body_rules.h"
#include "service/auth/clients_file.h"
#include "service/auth/token.h"
#include "service/recognition/audio_input.h"

#include "common/speechservice.h"
#include "common/wordrate.h"

#include <httplib.h>
#include <json/json.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

using namespace speech;
using namespace testhttp;

namespace {

const char *kKey = "shared-test-key-7f3a";
const char *kClient = "Rk3nVq8ZtLm2Hs7PxWc4JdYb";
const char *kSecret = "Gf5tQw2LzN8kRm4VxHp7Cs9JdT3bYe6W";

int64_t now()
{
    return std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// A raw connection, for what an HTTP client library would not send.
struct RawClient
{
    QTcpSocket socket;
    QByteArray reply;

    bool connectTo(int port, const char *fromAddress = "127.0.0.1")
    {
        if (!socket.bind(QHostAddress(QString::fromLatin1(fromAddress))))
            return false;
        socket.connectToHost(QHostAddress::LocalHost, quint16(port));
        return socket.waitForConnected(10000);
    }
    // Waits up to `ms` for more of the reply; true once its status line is there.
    bool read(int ms)
    {
        if (socket.bytesAvailable() || socket.waitForReadyRead(ms))
            reply += socket.readAll();
        return reply.contains("\r\n");
    }
    int status() const { return reply.startsWith("HTTP/1.1 ") ? reply.mid(9, 3).toInt() : -1; }
};

// The status a request head gets on a connection of its own.
int statusOfHead(int port, const QByteArray &head)
{
    RawClient c;
    if (!c.connectTo(port))
        return -2;
    c.socket.write(head);
    while (!c.read(30000) && c.socket.state() == QAbstractSocket::ConnectedState) { }
    return c.status();
}

long long peakMemoryKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("VmHWM:\\s+(\\d+)"))
                                          .match(QString::fromLatin1(status.readAll()));
    return m.hasMatch() ? m.captured(1).toLongLong() : -1;
}

// A process's thread stacks (its 8 MiB mappings) by where they start, with what of each is
// resident, in KiB.
QHash<qulonglong, int> threadStacks(qint64 pid)
{
    QFile smaps(QStringLiteral("/proc/%1/smaps").arg(pid));
    QHash<qulonglong, int> stacks;
    if (!smaps.open(QIODevice::ReadOnly))
        return stacks;
    static const QRegularExpression range(QStringLiteral("^([0-9a-f]+)-([0-9a-f]+) "));
    qulonglong stack = 0;
    for (const QByteArray &line : smaps.readAll().split('\n')) {
        const QRegularExpressionMatch m = range.match(QString::fromLatin1(line));
        if (m.hasMatch()) {
            const qulonglong from = m.captured(1).toULongLong(nullptr, 16);
            const qulonglong size = m.captured(2).toULongLong(nullptr, 16) - from;
            stack = size >= 8180 * 1024ULL && size <= 8200 * 1024ULL ? from : 0;
        } else if (stack && line.startsWith("Rss:")) {
            stacks[stack] = line.mid(4).trimmed().split(' ').value(0).toInt();
            stack = 0;
        }
    }
    return stacks;
}

} // namespace

class ServiceHttpTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void tokenIssued();
    void tokenRefused_data();
    void tokenRefused();
    void unknownPathIsJson404();
    void badRecognitionRequests_data();
    void badRecognitionRequests();
    void costlyBodyRefusedWithoutBuildingIt();
    void bodyLimitsPerPath();
    void headLimits();
    void slowClientsCutOffWhileOthersAreServed();
    void slowUploadArrivesWhileTrickleIsCut();
    void recognisesSpeechInWavAndRawForm();
    void silenceGivesEmptyResult();
    void livePiecesAreAuthorisedAndGiveText();
    void burstOfFiftyRequests();
    void oneConnectionAtATimeKeepsToFewWorkers();
    void logsOneLinePerRequest();
    void twoProcessesWithOneKeyAcceptEachOthersTokens();
    void secondServiceOnTheSamePortFails();
    void modelNamedOnTheCommandLineServesItsDevPid();

private:
    httplib::Client client() const;
    Reply post(const std::string &body) const;
    std::string issueToken(int port) const;

    QTemporaryDir dir;
    SpeechServiceProcess service { { QStringLiteral("--key"), QString::fromLatin1(kKey),
        QStringLiteral("--threads"), QStringLiteral("2") } };
    std::string token;
    std::string speechWav;
    QString spokenText;
};

httplib::Client ServiceHttpTest::client() const
{
    httplib::Client c("127.0.0.1", service.port());
    c.set_read_timeout(60, 0);
    c.set_write_timeout(60, 0);
    return c;
}

Reply ServiceHttpTest::post(const std::string &body) const
{
    return toReply(client().Post("/server_api", body, "application/json"));
}

std::string ServiceHttpTest::issueToken(int port) const
{
    httplib::Client c("127.0.0.1", port);
    const Reply r = toReply(c.Get(tokenPath("client_credentials", kClient, kSecret).c_str()));
    return r.json["access_token"].asString();
}

void ServiceHttpTest::initTestCase()
{
    QVERIFY(dir.isValid());
    // A runtime folder without the desktop program's secret: this service has none to prove.
    qputenv("XDG_RUNTIME_DIR", dir.path().toLocal8Bit());
    QVERIFY2(service.start(), qPrintable(service.logText()));
    token = issueToken(service.port());
    QVERIFY(!token.empty());

    spokenText = QStringLiteral("The children played in the park until the sun went down behind "
                                "the hills. After lunch we walked down to the river.");
    const QString textFile = dir.filePath(QStringLiteral("text.txt"));
    QFile f(textFile);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(spokenText.toUtf8());
    f.close();
    const QString wav = dir.filePath(QStringLiteral("speech.wav"));
    QVERIFY(makeSpeechWav(textFile, wav));
    QFile w(wav);
    QVERIFY(w.open(QIODevice::ReadOnly));
    const QByteArray bytes = w.readAll();
    speechWav.assign(bytes.constData(), size_t(bytes.size()));
}

void ServiceHttpTest::tokenIssued()
{
    const Reply r
        = toReply(client().Get(tokenPath("client_credentials", kClient, kSecret).c_str()));
    QCOMPARE(r.status, 200);
    QVERIFY(r.isJson);
    for (const char *member :
        { "access_token", "session_key", "refresh_token", "session_secret", "scope" }) {
        QVERIFY2(r.json[member].isString() && !r.json[member].asString().empty(), member);
    }
    QCOMPARE(r.json["expires_in"].asInt64(), int64_t(30 * 24 * 3600));
    // The token holds its own validity: this test can check it with the key.
    const TokenSigner::Checked c = TokenSigner(kKey).verify(
        r.json["access_token"].asString(), TokenSigner::Kind::Access, now(), secretDigest(kSecret));
    QCOMPARE(int(c.verdict), int(TokenSigner::Verdict::Valid));
    QCOMPARE(c.clientId, std::string(kClient));
    QVERIFY(std::llabs(c.expiresAt - now() - 30 * 24 * 3600) < 60);

    // The same request as a form POST is answered too.
    httplib::Params form { { "grant_type", "client_credentials" }, { "client_id", kClient },
        { "client_secret", kSecret } };
    QCOMPARE(toReply(client().Post("/oauth/2.0/token", form)).status, 200);
}

void ServiceHttpTest::tokenRefused_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("error");
    auto add = [](const char *name, const std::string &path, int status, const char *error) {
        QTest::newRow(name) << QString::fromStdString(path) << status << QString::fromLatin1(error);
    };
    add("wrong grant type", tokenPath("password", kClient, kSecret), 400, "unsupported_grant_type");
    add("no grant type", "/oauth/2.0/token?client_id=x&client_secret=y", 400,
        "unsupported_grant_type");
    add("wrong secret", tokenPath("client_credentials", kClient, std::string(kSecret, 31) + "X"),
        401, "invalid_client");
    add("secret with extra character",
        tokenPath("client_credentials", kClient, kSecret + std::string("0")), 401,
        "invalid_client");
    add("wrong client", tokenPath("client_credentials", "Someone", kSecret), 401, "invalid_client");
    add("no credentials", "/oauth/2.0/token?grant_type=client_credentials", 401, "invalid_client");
}

void ServiceHttpTest::tokenRefused()
{
    QFETCH(QString, path);
    QFETCH(int, status);
    QFETCH(QString, error);
    const Reply r = toReply(client().Get(path.toStdString().c_str()));
    QCOMPARE(r.status, status);
    QVERIFY(r.isJson);
    QCOMPARE(QString::fromStdString(r.json["error"].asString()), error);
    QVERIFY(!r.json["error_description"].asString().empty());
    QVERIFY(!r.json.isMember("access_token"));
}

void ServiceHttpTest::unknownPathIsJson404()
{
    for (const char *path : { "/", "/server_api/x", "/oauth/2.0/token/x" }) {
        const Reply r = toReply(client().Get(path));
        QCOMPARE(r.status, 404);
        QVERIFY(r.isJson);
        QVERIFY(r.json.isMember("error"));
    }
    // Recognition is a POST only.
    QCOMPARE(toReply(client().Get("/server_api")).status, 404);

    // Every refusal in the shape of its API, valid UTF-8 whatever the request held.
    struct Case
    {
        QByteArray head;
        int status;
        bool api; // the transcription API's shape, else the token protocol's
    };
    const QByteArray key = QByteArray("Authorization: Bearer ") + kSecret + "\r\n";
    const Case cases[] = {
        { "GET /%ff%fe%80 HTTP/1.1\r\n", 404, false },
        { "GET /v1/%ff%fe HTTP/1.1\r\n", 404, true },
        { "GET /v1/models HTTP/1.1\r\n" + key + "Content-Length: 4\r\n", 413, true },
        { "GET /health HTTP/1.1\r\nRange: bytes=abc\r\n", 416, false },
        { "GET /v1/models HTTP/1.1\r\n" + key + "Range: bytes=abc\r\n", 416, true },
        // A range beyond the reply is ignored: the reply goes out whole.
        { "GET /health HTTP/1.1\r\nRange: bytes=9999-\r\n", 200, false },
        { "GET /tovarin/owner-proof?nonce=zz HTTP/1.1\r\n", 404, false },
    };
    for (const Case &c : cases) {
        RawClient raw;
        QVERIFY(raw.connectTo(service.port()));
        raw.socket.write(c.head + "Host: x\r\nConnection: close\r\n\r\nbody");
        while (raw.socket.state() == QAbstractSocket::ConnectedState && raw.read(10000)
            && !raw.reply.endsWith("}")) { }
        QCOMPARE(raw.status(), c.status);
        const QByteArray body = raw.reply.mid(raw.reply.indexOf("\r\n\r\n") + 4);
        QTextDecoder decoder(QTextCodec::codecForName("UTF-8"), QTextCodec::ConvertInvalidToNull);
        decoder.toUnicode(body);
        QVERIFY2(!decoder.hasFailure(), body.constData());
        const Json::Value json = parse(body.toStdString());
        if (c.status == 200)
            QVERIFY2(json["status"].isString(), body.constData());
        else if (c.api)
            QVERIFY2(json["error"]["message"].isString()
                    && json["error"]["message"].asString().find("upload") == std::string::npos,
                body.constData());
        else
            QVERIFY2(
                json["error"].isString() && json["error_description"].isString(), body.constData());
    }
}

void ServiceHttpTest::badRecognitionRequests_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("errNo");
    const TokenSigner signer(kKey);
    std::vector<testaudio::BadRequest> list = testaudio::badRequests(signer, kClient, token, now());
    Json::Value foreign = testaudio::body(makeWav(testaudio::tone(1.0)), token);
    foreign["token"]
        = TokenSigner("other key").sign(TokenSigner::Kind::Access, kClient, now() + 60);
    list.push_back({ "token of another key", testaudio::text(foreign), 3302, {} });
    list.push_back({ "binary junk", std::string("\x00\xff\x10{", 4), 3300, {} });
    for (const testaudio::BadRequest &b : list)
        QTest::newRow(b.name.c_str()) << QByteArray(b.body.data(), int(b.body.size())) << b.errNo;
}

void ServiceHttpTest::badRecognitionRequests()
{
    QFETCH(QByteArray, body);
    QFETCH(int, errNo);
    const Reply r = post(body.toStdString());
    // Refusals are replies, not transport errors.
    QCOMPARE(r.status, 200);
    QVERIFY(r.isJson);
    QCOMPARE(r.json["err_no"].asInt(), errNo);
    QVERIFY(!r.json["err_msg"].asString().empty());
    QVERIFY(!r.json["sn"].asString().empty());
    QVERIFY(!r.json.isMember("result"));
}

void ServiceHttpTest::costlyBodyRefusedWithoutBuildingIt()
{
    // Just under the body limit, a document of a million values: parsed, it
    // would take over a hundred megabytes.
    std::string zeros = "{\"a\": [0";
    while (zeros.size() < kMaxRecognitionBodyBytes - 8)
        zeros += ",0";
    zeros += "]}";
    const long long before = peakMemoryKiB(service.pid());
    QVERIFY(before > 0);
    const Reply r = post(zeros);
    QCOMPARE(r.json["err_no"].asInt(), 3300);
    QVERIFY2(QString::fromStdString(r.json["err_msg"].asString()).contains(QStringLiteral("array")),
        r.json["err_msg"].asCString());
    const long long growth = peakMemoryKiB(service.pid()) - before;
    QVERIFY2(growth < 30 * 1024, qPrintable(QStringLiteral("peak grew by %1 KiB").arg(growth)));
}

void ServiceHttpTest::bodyLimitsPerPath()
{
    // Just under the limit of the recognition path is read and judged on its content.
    const std::string head = "{\"x\": \"";
    const std::string atLimit
        = head + std::string(kMaxRecognitionBodyBytes - head.size() - 2, 'A') + "\"}";
    QCOMPARE(atLimit.size(), kMaxRecognitionBodyBytes);
    QCOMPARE(post(atLimit).json["err_no"].asInt(), 3300);
    Reply r = post(atLimit + " ");
    QCOMPARE(r.status, 413);
    QVERIFY(r.isJson);
    QVERIFY(r.json.isMember("error"));

    // Without a length up front: the same limit while the chunks arrive.
    const std::string big(kMaxRecognitionBodyBytes + 1024 * 1024, 'A');
    size_t sent = 0;
    r = toReply(client().Post(
        "/server_api",
        [&](size_t, httplib::DataSink &sink) {
            if (sent < big.size()) {
                // The last chunk is what is left, not past the end of the text.
                const size_t chunk = std::min<size_t>(256 * 1024, big.size() - sent);
                sink.write(big.data() + sent, chunk);
                sent += chunk;
            } else {
                sink.done();
            }
            return true;
        },
        "application/json"));
    QCOMPARE(r.status, 413);
    QVERIFY(r.isJson);

    // The token path takes a small form, and a body on an unknown path is not read.
    const std::string form = "grant_type=client_credentials&client_id=" + std::string(kClient)
        + "&client_secret=" + kSecret + "&pad=";
    const std::string formAtLimit = form + std::string(kMaxTokenBodyBytes - form.size(), 'x');
    QCOMPARE(
        toReply(client().Post("/oauth/2.0/token", formAtLimit, "application/x-www-form-urlencoded"))
            .status,
        200);
    QCOMPARE(toReply(client().Post("/oauth/2.0/token", formAtLimit + "x",
                         "application/x-www-form-urlencoded"))
                 .status,
        413);
    // Without a length or a transfer coding there is no body to wait for.
    const QByteArray unframed = QByteArray::fromStdString(
        "POST " + tokenPath("client_credentials", kClient, kSecret) + " HTTP/1.1\r\n\r\n");
    QCOMPARE(statusOfHead(service.port(), unframed), 200);
    r = toReply(client().Post("/elsewhere", std::string(1024, 'A'), "text/plain"));
    QCOMPARE(r.status, 404);
    QVERIFY(r.isJson);
    // Still answering.
    QCOMPARE(post("{}").json["err_no"].asInt(), 3300);
}

void ServiceHttpTest::headLimits()
{
    const QByteArray requestLine = QByteArray::fromStdString(
        "GET " + tokenPath("client_credentials", kClient, kSecret) + " HTTP/1.1\r\n");
    const ServiceLimits limits;
    auto withHeaders = [&](size_t count) {
        QByteArray head = requestLine;
        for (size_t i = 0; i < count; ++i)
            head.append("X-Header-").append(QByteArray::number(qulonglong(i))).append(": v\r\n");
        return head.append("\r\n");
    };
    QCOMPARE(statusOfHead(service.port(), withHeaders(limits.maxHeaderCount)), 200);
    QCOMPARE(statusOfHead(service.port(), withHeaders(limits.maxHeaderCount + 1)), 431);

    // Header lines of a few kilobytes up to exactly the byte limit.
    auto ofSize = [&](size_t total) {
        QByteArray head = requestLine;
        int left = int(total) - head.size() - 2;
        while (left > 0) {
            const int value = left > 4100 ? 4000 : left - 9;
            head.append("X-Pad: ").append(QByteArray(value, 'a')).append("\r\n");
            left -= value + 9;
        }
        return head.append("\r\n");
    };
    QCOMPARE(ofSize(limits.maxHeaderBytes).size(), int(limits.maxHeaderBytes));
    QCOMPARE(statusOfHead(service.port(), ofSize(limits.maxHeaderBytes)), 200);
    QCOMPARE(statusOfHead(service.port(), ofSize(limits.maxHeaderBytes + 1)), 431);
    // Endless headers are cut off after the limit, not taken into memory.
    QCOMPARE(statusOfHead(service.port(), withHeaders(200000)), 431);
}

void ServiceHttpTest::slowClientsCutOffWhileOthersAreServed()
{
    SpeechServiceProcess guarded(
        { QStringLiteral("--threads"), QStringLiteral("1"), QStringLiteral("--connection-threads"),
            QStringLiteral("6"), QStringLiteral("--max-connections-per-client"),
            QStringLiteral("5"), QStringLiteral("--request-timeout"), QStringLiteral("8") });
    QVERIFY2(guarded.start(), qPrintable(guarded.logText()));
    QVERIFY(guarded.logText().contains(QStringLiteral("request timeout 8 s")));

    // Clients start a request and never finish it, from addresses all over
    // loopback: one client to the service, as anyone here can pick any of
    // them. One more than it may have open is refused at once.
    std::vector<std::unique_ptr<RawClient>> slow;
    for (int i = 0; i < 6; ++i) {
        slow.push_back(std::make_unique<RawClient>());
        QVERIFY(slow.back()->connectTo(guarded.port(), i % 2 ? "127.0.0.2" : "127.0.0.3"));
        slow.back()->socket.write("GET /oauth/2.0/token HTTP/1.1\r\n");
        QVERIFY(slow.back()->socket.waitForBytesWritten(10000));
    }
    auto replied = [&] {
        int count = 0;
        for (const auto &c : slow)
            count += c->read(50) ? 1 : 0;
        return count;
    };
    QTRY_COMPARE_WITH_TIMEOUT(replied(), 1, 30000);
    const auto refused
        = std::find_if(slow.begin(), slow.end(), [](const auto &c) { return !c->reply.isEmpty(); });
    QCOMPARE((*refused)->status(), 503);
    slow.erase(refused);
    // One leaves; the four others hold their workers, yet the next client is
    // answered before any of them is cut off.
    slow.back()->socket.abort();
    slow.pop_back();
    httplib::Client other("127.0.0.1", guarded.port());
    const std::string tokenRequest = tokenPath("client_credentials", kClient, kSecret);
    // Asked once more only until answered: each try is a connection of its own.
    int status = 0;
    QTRY_VERIFY_WITH_TIMEOUT(
        status == 200 || (status = toReply(other.Get(tokenRequest.c_str())).status) == 200, 6000);
    QCOMPARE(replied(), 0);

    // Still trickling, each is cut off once its time for the whole request is up.
    QElapsedTimer clock;
    clock.start();
    while (replied() < 4 && clock.elapsed() < 60000) {
        for (const auto &c : slow) {
            if (c->reply.isEmpty())
                c->socket.write("X-Slow: 1\r\n");
        }
    }
    for (const auto &c : slow)
        QCOMPARE(c->status(), 408);
    QTRY_VERIFY(guarded.logText().contains(QStringLiteral("status=408")));
}

void ServiceHttpTest::slowUploadArrivesWhileTrickleIsCut()
{
    SpeechServiceProcess guarded({ QStringLiteral("--request-timeout"), QStringLiteral("2") });
    QVERIFY2(guarded.start(), qPrintable(guarded.logText()));

    // Two bodies of the same declared length: one at 100 kB/s, above the
    // least rate, takes twice the request time; the other trickles.
    const int length = 400000;
    const QByteArray head = "POST /server_api HTTP/1.1\r\nContent-Type: application/json\r\n"
                            "Content-Length: "
        + QByteArray::number(length) + "\r\n\r\n";
    const QByteArray body = QByteArray(length - 2, ' ') + "{}";
    RawClient upload, trickle;
    QVERIFY(upload.connectTo(guarded.port()));
    QVERIFY(trickle.connectTo(guarded.port()));
    upload.socket.write(head);
    trickle.socket.write(head);
    QElapsedTimer clock;
    clock.start();
    int sent = 0;
    while (clock.elapsed() < 60000 && (upload.reply.isEmpty() || trickle.reply.isEmpty())) {
        // Paced by the clock: 10 kB every 100 ms, one byte for the trickle.
        const int due = std::min(length, int(clock.elapsed() / 100 + 1) * 10000);
        if (sent < due) {
            upload.socket.write(body.mid(sent, due - sent));
            sent = due;
            if (trickle.reply.isEmpty())
                trickle.socket.write(" ");
        }
        upload.read(10);
        trickle.read(10);
    }
    QVERIFY(clock.elapsed() > 3000); // well past the request time of 2 s
    QCOMPARE(upload.status(), 200);
    QCOMPARE(trickle.status(), 408);
}

void ServiceHttpTest::recognisesSpeechInWavAndRawForm()
{
    const Reply wav = post(testaudio::text(testaudio::body(speechWav, token)));
    QCOMPARE(wav.status, 200);
    QCOMPARE(wav.json["err_no"].asInt(), 0);
    QCOMPARE(wav.json["err_msg"].asString(), std::string("success."));
    QVERIFY(!wav.json["sn"].asString().empty());
    QVERIFY(wav.json["decode_ms"].isIntegral() && wav.json["decode_ms"].asInt64() >= 0);
    QCOMPARE(wav.json["result"].size(), 1u);
    const QString text = QString::fromStdString(wav.json["result"][0].asString());
    QVERIFY2(WordRate::errorRate(spokenText, text) <= 0.25, qPrintable(text));

    // The same samples without the header, and without "dev_pid".
    const AudioInput audio = readAudio(speechWav);
    Json::Value raw = testaudio::body(testaudio::rawBytes(audio.samples), token);
    raw.removeMember("dev_pid");
    const Reply r = post(testaudio::text(raw));
    QCOMPARE(r.json["err_no"].asInt(), 0);
    QCOMPARE(QString::fromStdString(r.json["result"][0].asString()), text);
}

void ServiceHttpTest::silenceGivesEmptyResult()
{
    const Reply r = post(testaudio::text(testaudio::body(makeWav(testaudio::silence(3)), token)));
    QCOMPARE(r.status, 200);
    QCOMPARE(r.json["err_no"].asInt(), 0);
    QVERIFY(r.json["result"].isArray());
    QCOMPARE(r.json["result"].size(), 0u);
}

void ServiceHttpTest::livePiecesAreAuthorisedAndGiveText()
{
    const std::vector<int16_t> samples = readAudio(speechWav).samples;
    const size_t piece = 4000; // 250 ms
    const auto send = [&](const std::string &session, size_t at, bool end,
                          const std::string &withToken) {
        const size_t n = end ? samples.size() - at : piece;
        Json::Value body = testaudio::body(makeWav(std::vector<int16_t>(samples.begin() + long(at),
                                               samples.begin() + long(at + n))),
            withToken);
        body["live_session"] = session;
        body["live_offset"] = Json::UInt64(at);
        body["live_end"] = end ? 1 : 0;
        return toReply(
            client().Post("/server_api/live", testaudio::text(body), "application/json"));
    };
    QCOMPARE(send("", 0, false, "").json["err_no"].asInt(), 3302);
    QCOMPARE(send("", 0, false, token + "x").json["err_no"].asInt(), 3302);

    Reply r = send("", 0, false, token);
    QCOMPARE(r.status, 200);
    QCOMPARE(r.json["err_no"].asInt(), 0);
    const std::string session = r.json["live_session"].asString();
    QVERIFY(session.size() >= 32);
    // Out of order: refused, and the utterance under way goes on.
    QCOMPARE(send(session, 2 * piece, false, token).json["err_no"].asInt(), 3300);
    size_t at = piece;
    for (; at + piece < samples.size(); at += piece)
        QCOMPARE(send(session, at, false, token).json["err_no"].asInt(), 0);
    r = send(session, at, true, token);
    QCOMPARE(r.json["err_no"].asInt(), 0);
    QCOMPARE(r.json["live_session"].asString(), session);
    const QString text = QString::fromStdString(r.json["result"][0].asString());
    QVERIFY2(WordRate::errorRate(spokenText, text) <= 0.25, qPrintable(text));
    QCOMPARE(r.json["utterances"].size(), 1u);
}

void ServiceHttpTest::burstOfFiftyRequests()
{
    // Good and bad requests mixed, all at once, each on its own connection.
    const std::string good
        = testaudio::text(testaudio::body(makeWav(testaudio::silence(1.5)), token));
    const std::string shortAudio
        = testaudio::text(testaudio::body(makeWav(testaudio::tone(0.05)), token));
    const std::string badToken
        = testaudio::text(testaudio::body(makeWav(testaudio::tone(1)), "x.y.z"));
    struct Case
    {
        const std::string *body;
        int errNo;
    };
    const Case kinds[] = { { &good, 0 }, { &shortAudio, 3314 }, { &badToken, 3302 } };

    constexpr int kCount = 50;
    std::vector<Reply> replies(kCount);
    std::vector<std::thread> threads;
    std::atomic<int> ready { 0 };
    for (int i = 0; i < kCount; ++i) {
        threads.emplace_back([&, i] {
            ++ready;
            while (ready < kCount)
                std::this_thread::yield();
            replies[size_t(i)] = post(*kinds[i % 3].body);
        });
    }
    for (std::thread &t : threads)
        t.join();
    for (int i = 0; i < kCount; ++i) {
        const Reply &r = replies[size_t(i)];
        QVERIFY2(r.status == 200,
            qPrintable(QStringLiteral("request %1: status %2 %3")
                           .arg(i)
                           .arg(r.status)
                           .arg(QString::fromStdString(r.transportError))));
        QCOMPARE(r.json["err_no"].asInt(), kinds[i % 3].errNo);
    }
    QCOMPARE(issueToken(service.port()).empty(), false);
}

// Connections one after another are served by the worker that served the last one: a pool
// that woke any idle worker went through all of them, and each thread's first connection
// added to the service's memory (its stack, the crypto library's per-thread state) for as
// long as one had not served yet.
void ServiceHttpTest::oneConnectionAtATimeKeepsToFewWorkers()
{
    SpeechServiceProcess pool(
        { QStringLiteral("--key"), QString::fromLatin1(kKey), QStringLiteral("--threads"),
            QStringLiteral("1"), QStringLiteral("--connection-threads"), QStringLiteral("24") });
    QVERIFY2(pool.start(), qPrintable(pool.logText()));
    for (int i = 0; i < 4; ++i)
        QVERIFY(!issueToken(pool.port()).empty());
    const QHash<qulonglong, int> before = threadStacks(pool.pid());
    QVERIFY(before.size() >= 24);
    for (int i = 0; i < 96; ++i)
        QVERIFY(!issueToken(pool.port()).empty());
    // Workers taking turns would have grown the 20 stacks not used yet.
    const QHash<qulonglong, int> after = threadStacks(pool.pid());
    int grown = 0;
    for (auto s = after.begin(); s != after.end(); ++s)
        grown += s.value() > before.value(s.key(), 0) ? 1 : 0;
    QVERIFY2(grown <= 6, qPrintable(QString::number(grown)));
}

void ServiceHttpTest::logsOneLinePerRequest()
{
    post("not json");
    post(testaudio::text(testaudio::body(makeWav(testaudio::silence(2)), token)));
    post(testaudio::text(testaudio::body(makeWav(testaudio::silence(60.5)), token)));
    QTRY_VERIFY(service.logText().contains(
        QStringLiteral("POST /server_api status=200 err_no=3300 audio_s=- decode_ms=-")));
    QTRY_VERIFY(service.logText().contains(
        QStringLiteral("POST /server_api status=200 err_no=3308 audio_s=60.50 decode_ms=-")));
    QTRY_VERIFY(service.logText().contains(QRegularExpression(
        QStringLiteral("POST /server_api status=200 err_no=0 audio_s=2.00 decode_ms=\\d+"))));
    // The search settings in use are in the log from the start.
    QVERIFY(service.logText().contains(QStringLiteral("search fast: -maxhmmpf ")));
    // The client secret of a token request stays out of the log.
    QVERIFY(!service.logText().contains(QString::fromLatin1(kSecret)));
    // A path cannot end its line and forge another.
    client().Get("/x%0aPOST%20/server_api%20status=200");
    QTRY_VERIFY(service.logText().contains(
        QStringLiteral("GET /x\\x0aPOST\\x20/server_api\\x20status=200 status=404")));
    QVERIFY(!service.logText().contains(QStringLiteral("\nPOST /server_api status=200 status=")));
}

void ServiceHttpTest::twoProcessesWithOneKeyAcceptEachOthersTokens()
{
    // The twin reads the key from a file only its owner may read.
    QFile keyFile(dir.filePath(QStringLiteral("key")));
    QVERIFY(keyFile.open(QIODevice::WriteOnly));
    keyFile.write(QByteArray(kKey) + "\n");
    keyFile.close();
    QVERIFY(keyFile.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
    SpeechServiceProcess twin({ QStringLiteral("--key-file"), keyFile.fileName(),
        QStringLiteral("--threads"), QStringLiteral("1") });
    SpeechServiceProcess stranger({ QStringLiteral("--threads"), QStringLiteral("1") });
    QVERIFY2(twin.start(), qPrintable(twin.logText()));
    QVERIFY(!twin.logText().contains(QStringLiteral("warning")));
    QVERIFY(stranger.start());

    const std::string body
        = testaudio::text(testaudio::body(makeWav(testaudio::silence(1)), token));
    auto postTo = [&](int port, const std::string &b) {
        httplib::Client c("127.0.0.1", port);
        c.set_read_timeout(60, 0);
        return toReply(c.Post("/server_api", b, "application/json"));
    };
    // This service's token at the twin, and the twin's token here.
    QCOMPARE(postTo(twin.port(), body).json["err_no"].asInt(), 0);
    const std::string twinToken = issueToken(twin.port());
    QCOMPARE(post(testaudio::text(testaudio::body(makeWav(testaudio::silence(1)), twinToken)))
                 .json["err_no"]
                 .asInt(),
        0);
    // A process with its own random key knows neither.
    QCOMPARE(postTo(stranger.port(), body).json["err_no"].asInt(), 3302);
}

void ServiceHttpTest::secondServiceOnTheSamePortFails()
{
    SpeechServiceProcess second({ QStringLiteral("--threads"), QStringLiteral("1") });
    QVERIFY(!second.start(service.port()));
    QVERIFY2(
        second.logText().contains(QStringLiteral("cannot listen")), qPrintable(second.logText()));
    // The first one is untouched.
    QVERIFY(!issueToken(service.port()).empty());
}

void ServiceHttpTest::modelNamedOnTheCommandLineServesItsDevPid()
{
    // The English model stands in for a Mandarin one: only the wiring is tested.
    const char *dir = "/usr/share/pocketsphinx/model/en-us/";
    const QString model = QStringLiteral("1537=%1en-us,%1en-us.lm.bin,%1cmudict-en-us.dict")
                              .arg(QString::fromLatin1(dir));
    SpeechServiceProcess withModel({ QStringLiteral("--threads"), QStringLiteral("1"),
        QStringLiteral("--key"), QString::fromLatin1(kKey), QStringLiteral("--model"), model });
    QVERIFY2(withModel.start(), qPrintable(withModel.logText()));
    httplib::Client c("127.0.0.1", withModel.port());
    c.set_read_timeout(60, 0);
    auto errNoFor = [&](int devPid) {
        const std::string body
            = testaudio::text(testaudio::body(makeWav(testaudio::silence(1)), token, devPid));
        return toReply(c.Post("/server_api", body, "application/json")).json["err_no"].asInt();
    };
    QCOMPARE(errNoFor(1537), 0);
    QCOMPARE(errNoFor(1737), 0);
    QCOMPARE(errNoFor(1637), 3300);
}

QTEST_GUILESS_MAIN(ServiceHttpTest)
#include "tst_servicehttp.moc"
