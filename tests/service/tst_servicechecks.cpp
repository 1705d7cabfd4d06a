// Pure units of the speech service: Base64, the WAV reader, token signing,
// the recognition request checks, the JSON shape check, the key file and the
// command line.

#include "requestbodies.h"

#include "service/api/base64.h"
#include "service/api/json_shape.h"
#include "service/api/live_members.h"
#include "service/api/recognition_request.h"
#include "service/api/utf8_text.h"
#include "service/app/options.h"
#include "service/auth/clients_file.h"
#include "service/auth/key_file.h"
#include "service/auth/token.h"
#include "service/http/client_address.h"
#include "service/http/socket_progress.h"
#include "service/recognition/audio_input.h"

#include <QtTest>

#include <atomic>
#include <thread>

#include <json/json.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace speech;

namespace {

constexpr int64_t kNow = 1'800'000'000;
const char *kKey = "test-key-0123456789";
const char *kClient = "Rk3nVq8ZtLm2Hs7PxWc4JdYb";

using testaudio::le32;

std::string le16(uint16_t v)
{
    return std::string { static_cast<char>(v & 0xff), static_cast<char>(v >> 8) };
}

std::string fmtChunk(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits)
{
    const uint16_t align = static_cast<uint16_t>(channels * bits / 8);
    return "fmt " + le32(16) + le16(tag) + le16(channels) + le32(rate) + le32(rate * align)
        + le16(align) + le16(bits);
}

std::string riff(const std::string &chunks)
{
    return "RIFF" + le32(static_cast<uint32_t>(4 + chunks.size())) + "WAVE" + chunks;
}

// A TCP connection of this process's own over loopback, closed with it.
struct LoopbackConnection
{
    int server = -1;
    int client = -1;
    int accepted = -1;
    sockaddr_in address {}; // the listening one

    bool open()
    {
        server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        auto *a = reinterpret_cast<sockaddr *>(&address);
        return ::bind(server, a, sizeof address) == 0 && ::listen(server, 1) == 0
            && ::getsockname(server, a, &length) == 0 && ::connect(client, a, sizeof address) == 0
            && (accepted = ::accept4(server, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;
    }
    ~LoopbackConnection()
    {
        for (const int fd : { accepted, client, server }) {
            if (fd >= 0)
                ::close(fd);
        }
    }
};

} // namespace

class ServiceChecksTest : public QObject
{
    Q_OBJECT

private slots:
    void base64KnownValuesAndRoundTrip();
    void base64RefusesWhatIsNotBase64_data();
    void base64RefusesWhatIsNotBase64();

    void wavReaderTakesCanonicalAndRawAudio();
    void wavReaderSkipsOtherChunks();
    void wavReaderRefusesOtherFormats_data();
    void wavReaderRefusesOtherFormats();
    void wavReaderSizes();

    void tokenValidForItsClientUntilExpiry();
    void tokenWithAnyCharacterChangedIsRefused();
    void tokenFromAnotherKeyOrKindIsRefused();
    void constantTimeEqualsComparesWholeSecrets();
    void tokenExpiringLaterThanIssuedIsRefused();

    void requestAccepted();
    void requestRefused_data();
    void requestRefused();
    void requestWithoutDevPidUsesDefault();
    void flatObjectCheck_data();
    void flatObjectCheck();
    void liveMembers_data();
    void liveMembers();

    void keyFile();
    void clientsFile();
    void textMendedToUtf8_data();
    void textMendedToUtf8();
    void loopbackIsOneClientAndItsPeerIsFound();
    void socketProgressStaysConsistentWhileDataArrives();

    void optionsParsed();
    void searchOptionsParsed();
    void optionsRefused_data();
    void optionsRefused();
    void optionMessagesAndLog();

private:
    RequestContext context() const;
    TokenSigner signer { kKey };
};

void ServiceChecksTest::base64KnownValuesAndRoundTrip()
{
    QCOMPARE(base64Encode("Man"), std::string("TWFu"));
    QCOMPARE(base64Encode("Ma"), std::string("TWE="));
    QCOMPARE(base64Encode("M"), std::string("TQ=="));
    QCOMPARE(base64Encode(""), std::string());
    QCOMPARE(base64Decode("TWE=").value_or("?"), std::string("Ma"));
    QCOMPARE(base64Decode("TQ==").value_or("?"), std::string("M"));
    // Missing padding is tolerated.
    QCOMPARE(base64Decode("TQ").value_or("?"), std::string("M"));
    QCOMPARE(base64Decode("TWE").value_or("?"), std::string("Ma"));
    QCOMPARE(base64Decode("").value_or("?"), std::string());

    std::string all;
    for (int i = 0; i < 256; ++i)
        all.push_back(static_cast<char>(i));
    for (size_t len : { size_t(1), size_t(2), size_t(3), size_t(4), size_t(255), size_t(256) }) {
        const std::string bytes = all.substr(0, len);
        const std::optional<std::string> back = base64Decode(base64Encode(bytes));
        QVERIFY2(back && *back == bytes, qPrintable(QString::number(len)));
    }
}

void ServiceChecksTest::base64RefusesWhatIsNotBase64_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("blank") << QByteArray("TWFu TWFu");
    QTest::newRow("line break") << QByteArray("TWFu\nTWFu");
    QTest::newRow("url alphabet") << QByteArray("TW-_");
    QTest::newRow("other character") << QByteArray("TW*u");
    QTest::newRow("padding inside") << QByteArray("TQ==TWFu");
    QTest::newRow("three pads") << QByteArray("T===");
    QTest::newRow("one char left") << QByteArray("TWFuT");
    QTest::newRow("padding at wrong length") << QByteArray("TWF==");
    QTest::newRow("non-ascii") << QByteArray("TWF\xc3\xa9");
    QTest::newRow("nul") << QByteArray("TW\0u", 4);
}

void ServiceChecksTest::base64RefusesWhatIsNotBase64()
{
    QFETCH(QByteArray, text);
    QVERIFY(!base64Decode(std::string_view(text.constData(), size_t(text.size()))).has_value());
}

void ServiceChecksTest::wavReaderTakesCanonicalAndRawAudio()
{
    const std::vector<int16_t> samples { 0, 1, -1, 32767, -32768, 1234 };
    const AudioInput wav = readAudio(makeWav(samples));
    QVERIFY(wav.ok);
    QVERIFY(wav.hadWavHeader);
    QVERIFY(wav.samples == samples);

    // Without a RIFF header the bytes are PCM whatever else they look like;
    // a trailing odd byte is no sample.
    const AudioInput raw = readAudio(testaudio::rawBytes(samples) + "x");
    QVERIFY(raw.ok);
    QVERIFY(!raw.hadWavHeader);
    QVERIFY(raw.samples == samples);

    const AudioInput riffNotWave
        = readAudio("RIFF" + le32(4) + "AVI " + testaudio::rawBytes(samples));
    QVERIFY(riffNotWave.ok);
    QVERIFY(!riffNotWave.hadWavHeader);
}

void ServiceChecksTest::wavReaderSkipsOtherChunks()
{
    const std::vector<int16_t> samples { 10, 20, 30 };
    const std::string data = testaudio::rawBytes(samples);
    // An odd-sized chunk is followed by a pad byte.
    const std::string wav = riff(fmtChunk(1, 1, 16000, 16) + "LIST" + le32(3) + "abc" + '\0'
        + "data" + le32(uint32_t(data.size())) + data);
    const AudioInput a = readAudio(wav);
    QVERIFY2(a.ok, a.error.c_str());
    QVERIFY(a.samples == samples);

    // WAVE_FORMAT_EXTENSIBLE holding plain PCM, as some tools write.
    std::string ext = "fmt " + le32(40) + le16(0xfffe) + le16(1) + le32(16000) + le32(32000)
        + le16(2) + le16(16) + le16(22) + le16(16) + le32(4) + le16(1) + std::string(14, '\x01');
    const AudioInput e = readAudio(riff(ext + "data" + le32(uint32_t(data.size())) + data));
    QVERIFY2(e.ok, e.error.c_str());
    QVERIFY(e.samples == samples);
}

void ServiceChecksTest::wavReaderRefusesOtherFormats_data()
{
    QTest::addColumn<QByteArray>("bytes");
    const std::string data = testaudio::rawBytes(testaudio::tone(0.5));
    const std::string dataChunk = "data" + le32(uint32_t(data.size())) + data;
    auto add = [](const char *name, const std::string &b) {
        QTest::newRow(name) << QByteArray(b.data(), int(b.size()));
    };
    add("stereo", riff(fmtChunk(1, 2, 16000, 16) + dataChunk));
    add("44.1 kHz", riff(fmtChunk(1, 1, 44100, 16) + dataChunk));
    add("8 kHz", riff(fmtChunk(1, 1, 8000, 16) + dataChunk));
    add("8-bit", riff(fmtChunk(1, 1, 16000, 8) + dataChunk));
    add("float", riff(fmtChunk(3, 1, 16000, 32) + dataChunk));
    add("a-law", riff(fmtChunk(6, 1, 16000, 8) + dataChunk));
    add("data size beyond the bytes",
        riff(fmtChunk(1, 1, 16000, 16) + "data" + le32(uint32_t(data.size() + 1000)) + data));
    add("format chunk beyond the bytes", riff("fmt " + le32(4000) + le16(1) + le16(1)));
    add("format chunk too small",
        riff("fmt " + le32(8) + le16(1) + le16(1) + le32(16000) + dataChunk));
    add("no format chunk", riff(dataChunk));
    add("no data chunk", riff(fmtChunk(1, 1, 16000, 16)));
    add("other chunk beyond the bytes",
        riff(fmtChunk(1, 1, 16000, 16) + "LIST" + le32(1u << 30) + data));
    // The byte rate and block size must agree with 16 kHz mono 16-bit.
    std::string badRate = fmtChunk(1, 1, 16000, 16);
    badRate.replace(16, 4, le32(44100));
    add("byte rate contradicts", riff(badRate + dataChunk));
}

void ServiceChecksTest::wavReaderRefusesOtherFormats()
{
    QFETCH(QByteArray, bytes);
    const AudioInput a = readAudio(std::string_view(bytes.constData(), size_t(bytes.size())));
    QVERIFY(!a.ok);
    QVERIFY(a.hadWavHeader);
    QVERIFY(!a.error.empty());
}

void ServiceChecksTest::wavReaderSizes()
{
    const std::string data = testaudio::rawBytes({ 5, 6, 7, 8 });
    // A writer that could not seek back leaves the largest size: take what came.
    const AudioInput stream
        = readAudio(riff(fmtChunk(1, 1, 16000, 16) + "data" + le32(0xffffffffu) + data));
    QVERIFY(stream.ok);
    QCOMPARE(stream.samples.size(), size_t(4));
    // A data size smaller than the bytes: the rest is another chunk or junk.
    const AudioInput shorter = readAudio(riff(fmtChunk(1, 1, 16000, 16) + "data" + le32(4) + data));
    QVERIFY(shorter.ok);
    QCOMPARE(shorter.samples.size(), size_t(2));
    QCOMPARE(shorter.seconds(), 2.0 / 16000);
}

void ServiceChecksTest::tokenValidForItsClientUntilExpiry()
{
    const std::string token = signer.sign(TokenSigner::Kind::Access, kClient, kNow + 100);
    TokenSigner::Checked c = signer.verify(token, TokenSigner::Kind::Access, kNow);
    QCOMPARE(int(c.verdict), int(TokenSigner::Verdict::Valid));
    QCOMPARE(c.clientId, std::string(kClient));
    QCOMPARE(c.expiresAt, kNow + 100);

    QCOMPARE(int(signer.verify(token, TokenSigner::Kind::Access, kNow + 99).verdict),
        int(TokenSigner::Verdict::Valid));
    QCOMPARE(int(signer.verify(token, TokenSigner::Kind::Access, kNow + 100).verdict),
        int(TokenSigner::Verdict::Expired));

    // A client id with the separator in it survives the round trip.
    const std::string dotted = signer.sign(TokenSigner::Kind::Access, "a.b.c", kNow + 5);
    c = signer.verify(dotted, TokenSigner::Kind::Access, kNow);
    QCOMPARE(int(c.verdict), int(TokenSigner::Verdict::Valid));
    QCOMPARE(c.clientId, std::string("a.b.c"));

    // Another process with the same key accepts it: there is no state.
    QCOMPARE(int(TokenSigner(kKey).verify(token, TokenSigner::Kind::Access, kNow).verdict),
        int(TokenSigner::Verdict::Valid));
}

void ServiceChecksTest::tokenWithAnyCharacterChangedIsRefused()
{
    const std::string token = signer.sign(TokenSigner::Kind::Access, kClient, kNow + 100);
    for (size_t i = 0; i < token.size(); ++i) {
        std::string altered = token;
        altered[i] = altered[i] == '1' ? '2' : '1';
        const TokenSigner::Verdict v
            = signer.verify(altered, TokenSigner::Kind::Access, kNow).verdict;
        QVERIFY2(v != TokenSigner::Verdict::Valid, qPrintable(QString::number(i)));
    }
    QVERIFY(signer.verify(token + "0", TokenSigner::Kind::Access, kNow).verdict
        != TokenSigner::Verdict::Valid);
    QVERIFY(
        signer.verify(token.substr(0, token.size() - 1), TokenSigner::Kind::Access, kNow).verdict
        != TokenSigner::Verdict::Valid);
    for (const char *junk : { "", ".", "...", "a1..x.", "a1.notanumber.client.00", "garbage" })
        QCOMPARE(int(signer.verify(junk, TokenSigner::Kind::Access, kNow).verdict),
            int(TokenSigner::Verdict::Malformed));
}

void ServiceChecksTest::tokenFromAnotherKeyOrKindIsRefused()
{
    const std::string foreign
        = TokenSigner("another-key").sign(TokenSigner::Kind::Access, kClient, kNow + 100);
    QCOMPARE(int(signer.verify(foreign, TokenSigner::Kind::Access, kNow).verdict),
        int(TokenSigner::Verdict::BadSignature));
    const std::string refresh = signer.sign(TokenSigner::Kind::Refresh, kClient, kNow + 100);
    QCOMPARE(int(signer.verify(refresh, TokenSigner::Kind::Access, kNow).verdict),
        int(TokenSigner::Verdict::WrongKind));
    QVERIFY_EXCEPTION_THROWN(TokenSigner(""), std::invalid_argument);
    // Bound to its client's secret: valid while the client keeps it, on any
    // service with the same key and clients; refused once the secret changes.
    const std::string bound
        = signer.sign(TokenSigner::Kind::Access, kClient, kNow + 100, secretDigest("old secret"));
    QCOMPARE(int(TokenSigner(kKey)
                     .verify(bound, TokenSigner::Kind::Access, kNow, secretDigest("old secret"))
                     .verdict),
        int(TokenSigner::Verdict::Valid));
    QCOMPARE(int(signer.verify(bound, TokenSigner::Kind::Access, kNow, secretDigest("new secret"))
                     .verdict),
        int(TokenSigner::Verdict::BadSignature));
    QCOMPARE(int(signer.verify(bound, TokenSigner::Kind::Access, kNow).verdict),
        int(TokenSigner::Verdict::BadSignature));
}

void ServiceChecksTest::constantTimeEqualsComparesWholeSecrets()
{
    QVERIFY(constantTimeEquals("secret", "secret"));
    QVERIFY(constantTimeEquals("", ""));
    QVERIFY(!constantTimeEquals("secret", "secreT"));
    QVERIFY(!constantTimeEquals("secret", "secret "));
    QVERIFY(!constantTimeEquals("", "x"));
    QVERIFY(!constantTimeEquals(std::string("a\0b", 3), std::string("a\0c", 3)));
    QCOMPARE(randomHex(16).size(), size_t(32));
    QVERIFY(randomHex(16) != randomHex(16));
}

RequestContext ServiceChecksTest::context() const
{
    RequestContext c;
    c.signer = &signer;
    c.clients = { { kClient, std::string() } };
    c.installedModels = { 1737 };
    c.defaultDevPid = 1737;
    c.now = kNow;
    return c;
}

void ServiceChecksTest::requestAccepted()
{
    const std::string token = signer.sign(TokenSigner::Kind::Access, kClient, kNow + 100);
    const std::vector<int16_t> samples = testaudio::tone(1.0);
    CheckedRequest r = checkRecognitionRequest(
        testaudio::text(testaudio::body(makeWav(samples), token)), context());
    QVERIFY2(r.ok(), r.errMsg.c_str());
    QCOMPARE(r.devPid, 1737);
    QCOMPARE(r.cuid, std::string("00-1c-42-aa-bb-cc"));
    QVERIFY(r.audio.samples == samples);

    // Raw PCM labelled "wav", the way the desktop program sends a .pcm file.
    r = checkRecognitionRequest(
        testaudio::text(testaudio::body(testaudio::rawBytes(samples), token)), context());
    QVERIFY2(r.ok(), r.errMsg.c_str());
    QVERIFY(r.audio.samples == samples);

    // Exactly 60 s and exactly 0.1 s are inside the limits.
    for (double seconds : { 60.0, 0.1 }) {
        r = checkRecognitionRequest(
            testaudio::text(testaudio::body(makeWav(testaudio::silence(seconds)), token)),
            context());
        QVERIFY2(r.ok(), r.errMsg.c_str());
    }

    // A whole number written as a real by some JSON writer is still a number.
    Json::Value v = testaudio::body(makeWav(samples), token);
    v["rate"] = 16000.0;
    v["len"] = double(v["len"].asUInt64());
    QVERIFY(checkRecognitionRequest(testaudio::text(v), context()).ok());
}

void ServiceChecksTest::requestRefused_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("errNo");
    QTest::addColumn<QString>("messagePart");
    const std::string token = signer.sign(TokenSigner::Kind::Access, kClient, kNow + 100);
    for (const testaudio::BadRequest &b : testaudio::badRequests(signer, kClient, token, kNow)) {
        QTest::newRow(b.name.c_str()) << QByteArray(b.body.data(), int(b.body.size())) << b.errNo
                                      << QString::fromStdString(b.messagePart);
    }
}

void ServiceChecksTest::requestRefused()
{
    QFETCH(QByteArray, body);
    QFETCH(int, errNo);
    QFETCH(QString, messagePart);
    const CheckedRequest r = checkRecognitionRequest(
        std::string_view(body.constData(), size_t(body.size())), context());
    QCOMPARE(r.errNo, errNo);
    QVERIFY2(QString::fromStdString(r.errMsg).contains(messagePart), r.errMsg.c_str());
}

void ServiceChecksTest::requestWithoutDevPidUsesDefault()
{
    const std::string token = signer.sign(TokenSigner::Kind::Access, kClient, kNow + 100);
    Json::Value v = testaudio::body(makeWav(testaudio::tone(0.5)), token);
    v.removeMember("dev_pid");
    RequestContext c = context();
    CheckedRequest r = checkRecognitionRequest(testaudio::text(v), c);
    QVERIFY2(r.ok(), r.errMsg.c_str());
    QCOMPARE(r.devPid, 1737);

    // A default without a model is refused like a named one.
    c.defaultDevPid = 1537;
    r = checkRecognitionRequest(testaudio::text(v), c);
    QCOMPARE(r.errNo, 3300);
    QVERIFY(r.errMsg.find("1537") != std::string::npos);
}

void ServiceChecksTest::tokenExpiringLaterThanIssuedIsRefused()
{
    const int64_t furthest = kNow + kTokenLifetimeSeconds + kTokenClockSkewSeconds;
    auto verdict = [&](TokenSigner::Kind kind, int64_t expiry) {
        return int(signer.verify(signer.sign(kind, kClient, expiry), kind, kNow).verdict);
    };
    QCOMPARE(verdict(TokenSigner::Kind::Access, furthest), int(TokenSigner::Verdict::Valid));
    QCOMPARE(
        verdict(TokenSigner::Kind::Access, furthest + 1), int(TokenSigner::Verdict::TooFarAhead));
    QCOMPARE(verdict(TokenSigner::Kind::Access, INT64_MAX), int(TokenSigner::Verdict::TooFarAhead));
    // Refresh tokens live longer.
    QCOMPARE(verdict(TokenSigner::Kind::Refresh, furthest + 1), int(TokenSigner::Verdict::Valid));
    QCOMPARE(verdict(TokenSigner::Kind::Refresh,
                 kNow + kRefreshTokenLifetimeSeconds + kTokenClockSkewSeconds + 1),
        int(TokenSigner::Verdict::TooFarAhead));
}

void ServiceChecksTest::flatObjectCheck_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("problem"); // a piece of it; empty: left to the parser
    auto add = [](const char *name, const std::string &text, const char *problem) {
        QTest::newRow(name) << QByteArray::fromStdString(text) << QString::fromLatin1(problem);
    };
    add("plain members", R"( {"a": "x", "b": -1.5e3, "c": true, "d": null} )", "");
    add("brackets and quotes inside strings", R"({"a": "[{\"}", "b\"[": "]"})", "");
    add("empty object", "{}", "");
    std::string members = "{";
    for (int i = 0; i < 4; ++i)
        members += "\"m" + std::to_string(i) + "\": 0,";
    add("at the member limit", members + "\"z\": 0}", "");
    add("one member over", members + "\"y\": 1, \"z\": 0}", "more than 5 members");
    add("array value", R"({"a": 1, "b": [0, 0]})", "\"b\"");
    add("object value", R"({"a": {"b": 1}})", "\"a\"");
    add("array", "[1]", "not a JSON object");
    add("number", "12", "not a JSON object");
    add("cut short", R"({"a": "x)", "");
    add("missing colon", R"({"a" 1})", "");
}

void ServiceChecksTest::flatObjectCheck()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, problem);
    const std::string found
        = flatObjectProblem(std::string_view(text.constData(), size_t(text.size())), 5);
    if (problem.isEmpty())
        QVERIFY2(found.empty(), found.c_str());
    else
        QVERIFY2(QString::fromStdString(found).contains(problem), found.c_str());
}

void ServiceChecksTest::liveMembers_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("read"); // session|offset|end, or a piece of the refusal
    auto add = [](const char *name, const char *body, const char *read) {
        QTest::newRow(name) << QByteArray(body) << QString::fromLatin1(read);
    };
    add("first piece", R"({"live_offset": 0})", "|0|0");
    add("last piece", R"({"live_session": "ab", "live_offset": 3400, "live_end": 1})", "ab|3400|1");
    add("end 0", R"({"live_offset": 9007199254740993, "live_end": 0})", "|9007199254740993|0");
    add("no offset", R"({"live_session": "ab"})", "live_offset");
    add("negative offset", R"({"live_offset": -1})", "live_offset");
    add("fractional offset", R"({"live_offset": 1.5})", "live_offset");
    add("offset true", R"({"live_offset": true})", "live_offset");
    add("session a number", R"({"live_session": 7, "live_offset": 0})", "live_session");
    add("end 2", R"({"live_offset": 0, "live_end": 2})", "live_end");
    add("end true", R"({"live_offset": 0, "live_end": true})", "live_end");
    add("an array", R"([{"live_offset": 0}])", "JSON object");
    add("not JSON", R"({"live_offset": 0)", "JSON object");
}

void ServiceChecksTest::liveMembers()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, read);
    const LiveMembers m = readLiveMembers(std::string_view(body.constData(), size_t(body.size())));
    if (read.contains(QLatin1Char('|'))) {
        QVERIFY2(m.problem.empty(), m.problem.c_str());
        QCOMPARE(QStringLiteral("%1|%2|%3")
                     .arg(QString::fromStdString(m.session))
                     .arg(m.offset)
                     .arg(int(m.end)),
            read);
    } else {
        QVERIFY2(QString::fromStdString(m.problem).contains(read), m.problem.c_str());
        QVERIFY(m.session.empty() && m.offset == 0 && !m.end);
    }
}

void ServiceChecksTest::keyFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    auto write = [&](const char *name, const QByteArray &content, QFile::Permissions permissions) {
        QFile f(dir.filePath(QString::fromLatin1(name)));
        if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
            return std::string();
        f.close();
        f.setPermissions(permissions);
        return f.fileName().toStdString();
    };
    std::string warning;
    std::string error;
    const std::string own
        = write("own", "s3cret key of 16\n", QFile::ReadOwner | QFile::WriteOwner);
    QCOMPARE(readKeyFile(own, warning, error), std::optional<std::string>("s3cret key of 16"));
    QVERIFY(warning.empty());

    const std::string shared = write(
        "shared", "s3cret key of 16", QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    QCOMPARE(readKeyFile(shared, warning, error), std::optional<std::string>("s3cret key of 16"));
    QVERIFY2(warning.find("other users") != std::string::npos, warning.c_str());

    std::vector<std::string> bad { write("empty", "\n", QFile::ReadOwner),
        write("short", "fifteen bytes..\n", QFile::ReadOwner),
        write("large", QByteArray(5000, 'k'), QFile::ReadOwner),
        // Others who can change the key can forge tokens (mode 622).
        write("writable", "s3cret key of 16",
            QFile::ReadOwner | QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther),
        dir.filePath(QStringLiteral("none")).toStdString(), dir.path().toStdString() };
    // A file another user owns could have been changed by them; only root can make one here.
    const std::string foreign = write("foreign", "s3cret key of 16", QFile::ReadOwner);
    if (::geteuid() == 0 && ::chown(foreign.c_str(), 65534, 65534) == 0)
        bad.push_back(foreign);
    for (const std::string &path : bad) {
        error.clear();
        QVERIFY2(!readKeyFile(path, warning, error), path.c_str());
        QVERIFY2(error.find(path) != std::string::npos, error.c_str());
    }
}

void ServiceChecksTest::clientsFile()
{
    std::string error;
    const auto clients = parseClients("# team\ncarol pa#ss-long-secret # desk 3\n#dave x\n", error);
    QVERIFY2(clients && clients->size() == 1, error.c_str());
    QCOMPARE(clients->front().secret, std::string("pa#ss-long-secret"));
    // Any blank that separates fields starts a comment before "#", a form feed too.
    QVERIFY(!parseClients("erin\f#not-a-secret\n", error));

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("clients"));
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write("carol secret-c\n") > 0);
    }
    const std::string file = path.toStdString();
    std::string warning;
    QVERIFY(::chmod(file.c_str(), 0600) == 0);
    QVERIFY2(readClientsFile(file, warning, error) && warning.empty(), error.c_str());
    QVERIFY(::chmod(file.c_str(), 0644) == 0);
    QVERIFY(readClientsFile(file, warning, error));
    QVERIFY2(warning.find("other users may read") != std::string::npos, warning.c_str());

    // Refused: writable by others, another user's (only root can make one
    // here), and a FIFO, which must not block the reader.
    std::vector<std::string> bad;
    QVERIFY(::chmod(file.c_str(), 0620) == 0);
    bad.push_back(file);
    const std::string fifo = dir.filePath(QStringLiteral("fifo")).toStdString();
    QVERIFY(::mkfifo(fifo.c_str(), 0600) == 0);
    bad.push_back(fifo);
    const std::string foreign = dir.filePath(QStringLiteral("foreign")).toStdString();
    QVERIFY(QFile::copy(path, QString::fromStdString(foreign)));
    if (::geteuid() == 0 && ::chmod(foreign.c_str(), 0600) == 0
        && ::chown(foreign.c_str(), 65534, 65534) == 0)
        bad.push_back(foreign);
    for (const std::string &p : bad) {
        error.clear();
        QVERIFY2(!readClientsFile(p, warning, error), p.c_str());
        QVERIFY2(error.find(p) != std::string::npos, error.c_str());
    }
}

void ServiceChecksTest::textMendedToUtf8_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("mended");
    const QByteArray fffd = "\xef\xbf\xbd";
    QTest::newRow("valid, all lengths") << QByteArray("a \xc3\xa9 \xe4\xb8\xad \xf0\x9f\x8e\xa4")
                                        << QByteArray("a \xc3\xa9 \xe4\xb8\xad \xf0\x9f\x8e\xa4");
    QTest::newRow("a path like /%ff%fe%80")
        << QByteArray("/\xff\xfe\x80") << "/" + fffd + fffd + fffd;
    QTest::newRow("overlong slash") << QByteArray("\xc0\xaf") << fffd + fffd;
    QTest::newRow("surrogate") << QByteArray("\xed\xa0\x80") << fffd + fffd + fffd;
    QTest::newRow("beyond U+10FFFF") << QByteArray("\xf4\x90\x80\x80") << fffd + fffd + fffd + fffd;
    QTest::newRow("cut at the end") << QByteArray("ab\xe4\xb8") << "ab" + fffd + fffd;
}

void ServiceChecksTest::textMendedToUtf8()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, mended);
    QCOMPARE(QByteArray::fromStdString(toValidUtf8(text.toStdString())), mended);
    // Every reply body goes through this.
    Json::Value body;
    body["error"] = text.toStdString();
    const std::string json = toJson(body);
    QVERIFY2(json.find(mended.toStdString()) != std::string::npos, json.c_str());
}

// The watchdog takes received minus unread for what the server has read.
// Looked at while data keeps arriving, the unread part must never be more
// than what was received (the difference would wrap to a huge head).
void ServiceChecksTest::socketProgressStaysConsistentWhileDataArrives()
{
    LoopbackConnection connection;
    QVERIFY(connection.open());
    const int client = connection.client;
    const int accepted = connection.accepted;

    constexpr size_t kTotal = 64 * 1024 * 1024;
    std::thread writer([client] {
        const std::string chunk(700, 'x');
        for (size_t sent = 0; sent < kTotal;) {
            const ssize_t n = ::send(client, chunk.data(), chunk.size(), MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += size_t(n);
        }
        ::shutdown(client, SHUT_WR);
    });
    std::atomic<bool> drained { false };
    std::thread reader([accepted, &drained] {
        char sink[1500];
        while (::recv(accepted, sink, sizeof sink, 0) > 0) { }
        drained = true;
    });
    uint64_t lastRead = 0;
    uint64_t looks = 0;
    bool consistent = true;
    while (!drained && consistent) {
        SocketProgress progress;
        consistent = socketProgress(accepted, progress) && progress.unread <= progress.received;
        if (consistent)
            lastRead = progress.received - progress.unread;
        ++looks;
    }
    writer.join();
    if (!consistent)
        ::shutdown(accepted, SHUT_RDWR);
    reader.join();
    QVERIFY2(consistent,
        qPrintable(QStringLiteral("after %1 looks, at %2 bytes read").arg(looks).arg(lastRead)));
    QVERIFY(looks > 100);
}

void ServiceChecksTest::loopbackIsOneClientAndItsPeerIsFound()
{
    for (const char *address : { "127.0.0.1", "127.9.8.7", "::1", "::ffff:127.0.0.2" }) {
        QVERIFY2(isLoopbackAddress(address), address);
        QCOMPARE(clientOf(address), clientOf("127.0.0.1"));
    }
    for (const char *address : { "10.0.0.1", "::2", "::ffff:10.0.0.1", "128.0.0.1", "" })
        QVERIFY2(!isLoopbackAddress(address) && clientOf(address) == address, address);

    // A connection of this process's own over loopback: its peer belongs to this user.
    LoopbackConnection connection;
    QVERIFY(connection.open());
    sockaddr_in from {};
    socklen_t length = sizeof from;
    QVERIFY(::getsockname(connection.client, reinterpret_cast<sockaddr *>(&from), &length) == 0);
    const Endpoint ours { "127.0.0.1", ntohs(connection.address.sin_port) };
    const Endpoint peer { "127.0.0.1", ntohs(from.sin_port) };
    QCOMPARE(loopbackPeerOwner(peer, ours), std::optional<uid_t>(::geteuid()));
    QCOMPARE(loopbackPeerOwner({ "127.0.0.1", peer.port == 1 ? 2 : 1 }, ours), std::nullopt);

    // The table's own form: addresses as 32-bit words in memory order, the uid in column 8.
    const std::string table
        = "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  "
          "timeout inode\n"
          "   0: 0100007F:D431 0100007F:4A6D 01 00000000:00000000 00:00000000 00000000  1000       "
          " "
          "0 4242 1 0\n";
    QCOMPARE(socketOwnerInTable(table, { "127.0.0.1", 0xD431 }, { "127.0.0.1", 0x4A6D }),
        std::optional<uid_t>(1000));
    QCOMPARE(
        socketOwnerInTable(table, { "127.0.0.1", 0x4A6D }, { "127.0.0.1", 0xD431 }), std::nullopt);
}

void ServiceChecksTest::optionsParsed()
{
    std::string error;
    std::optional<ServiceOptions> o = parseOptions({}, error);
    QVERIFY(o);
    QCOMPARE(o->host, std::string("127.0.0.1"));
    QCOMPARE(o->port, 18765);
    QCOMPARE(o->threads, 0u);
    QVERIFY(o->key.empty());
    QCOMPARE(o->models.size(), size_t(1));
    QCOMPARE(o->models.count(1737), size_t(1));
    QCOMPARE(o->clientId, std::string(kClient));
    QCOMPARE(o->maxQueueWaitSeconds, 30);
    QCOMPARE(o->stopTimeoutSeconds, 120);

    o = parseOptions({ "--max-queue-wait", "0", "--stop-timeout=5" }, error);
    QVERIFY2(o, error.c_str());
    QCOMPARE(o->maxQueueWaitSeconds, 0);
    QCOMPARE(o->stopTimeoutSeconds, 5);

    o = parseOptions({ "--port", "0", "--threads=3", "--key", "k", "--host", "::1", "--model",
                         "1537=/m/zh,/m/zh.lm.bin,/m/zh.dict", "--default-dev-pid", "1537" },
        error);
    QVERIFY2(o, error.c_str());
    QCOMPARE(o->port, 0);
    QCOMPARE(o->threads, 3u);
    QCOMPARE(o->key, std::string("k"));
    QCOMPARE(o->host, std::string("::1"));
    QCOMPARE(o->defaultDevPid, 1537);
    QCOMPARE(o->models.size(), size_t(2));
    QCOMPARE(o->models[1537].acousticModelDir, std::string("/m/zh"));
    QCOMPARE(o->models[1537].languageModel, std::string("/m/zh.lm.bin"));
    QCOMPARE(o->models[1537].dictionary, std::string("/m/zh.dict"));

    QCOMPARE(o->limits.maxHeaderCount, ServiceLimits().maxHeaderCount);

    o = parseOptions({ "--key-file", "/etc/speech/key", "--max-headers", "20",
                         "--max-header-bytes=4096", "--request-timeout", "7",
                         "--connection-threads", "9", "--max-connections-per-client", "0" },
        error);
    QVERIFY2(o, error.c_str());
    QCOMPARE(o->keyFile, std::string("/etc/speech/key"));
    QCOMPARE(o->limits.maxHeaderCount, size_t(20));
    QCOMPARE(o->limits.maxHeaderBytes, size_t(4096));
    QCOMPARE(o->limits.requestTimeoutSeconds, 7u);
    QCOMPARE(o->limits.connectionThreads, size_t(9));
    QCOMPARE(o->limits.maxConnectionsPerClient, size_t(0));

    o = parseOptions({ "--help" }, error);
    QVERIFY(o && o->help);
    QVERIFY(usageText().find("--model DEV_PID=HMM_DIR,LM,DICT") != std::string::npos);
}

void ServiceChecksTest::searchOptionsParsed()
{
    std::string error;
    std::optional<ServiceOptions> o = parseOptions({}, error);
    QVERIFY(o);
    QVERIFY(o->search == fastSearch());
    QVERIFY(!(fastSearch() == accurateSearch()));

    o = parseOptions({ "--search", "accurate" }, error);
    QVERIFY2(o, error.c_str());
    QVERIFY(o->search == accurateSearch());

    // A single setting changes the preset, whether it comes before or after it.
    o = parseOptions({ "--beam=1e-40", "--search=accurate", "--max-words-per-frame", "0",
                         "--max-hmms-per-frame", "2500", "--word-beam", "1e-20", "--phone-beam",
                         "1e-30", "--flat-pass", "no", "--best-path", "no", "--frame-step", "2" },
        error);
    QVERIFY2(o, error.c_str());
    SearchSettings expected = accurateSearch();
    expected.beam = 1e-40;
    expected.maxWordsPerFrame = -1; // 0: no limit, as the decoder spells it
    expected.maxHmmsPerFrame = 2500;
    expected.wordBeam = 1e-20;
    expected.phoneBeam = 1e-30;
    expected.flatPass = false;
    expected.bestPath = false;
    expected.frameStep = 2;
    QVERIFY(o->search == expected);
    QCOMPARE(describeSearch(o->search),
        std::string("-maxhmmpf 2500 -maxwpf -1 -beam 1e-40 -wbeam 1e-20 -pbeam 1e-30 -fwdflat no "
                    "-bestpath no -ds 2"));
}

void ServiceChecksTest::optionsRefused_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("unknown") << QStringList { QStringLiteral("--verbose") };
    QTest::newRow("no value") << QStringList { QStringLiteral("--port") };
    QTest::newRow("port text") << QStringList { QStringLiteral("--port"), QStringLiteral("http") };
    QTest::newRow("port too big") << QStringList { QStringLiteral("--port=70000") };
    QTest::newRow("no threads") << QStringList { QStringLiteral("--threads=0") };
    QTest::newRow("empty key") << QStringList { QStringLiteral("--key=") };
    QTest::newRow("model without files") << QStringList { QStringLiteral("--model=1537") };
    QTest::newRow("model two files") << QStringList { QStringLiteral("--model=1537=/a,/b") };
    QTest::newRow("model four files") << QStringList { QStringLiteral("--model=1537=/a,/b,/c,/d") };
    QTest::newRow("negative queue wait") << QStringList { QStringLiteral("--max-queue-wait=-1") };
    QTest::newRow("no stop wait") << QStringList { QStringLiteral("--stop-timeout=0") };
    QTest::newRow("model bad number") << QStringList { QStringLiteral("--model=zh=/a,/b,/c") };
    QTest::newRow("key twice") << QStringList { QStringLiteral("--key=k"),
        QStringLiteral("--key-file=/k") };
    QTest::newRow("no timeout") << QStringList { QStringLiteral("--request-timeout=0") };
    QTest::newRow("headers text") << QStringList { QStringLiteral("--max-headers=many") };
    QTest::newRow("tiny head") << QStringList { QStringLiteral("--max-header-bytes=100") };
    QTest::newRow("search preset") << QStringList { QStringLiteral("--search=fastest") };
    QTest::newRow("hmms too few") << QStringList { QStringLiteral("--max-hmms-per-frame=99") };
    QTest::newRow("hmms too many") << QStringList { QStringLiteral("--max-hmms-per-frame=100001") };
    QTest::newRow("words negative") << QStringList { QStringLiteral("--max-words-per-frame=-1") };
    QTest::newRow("words too many") << QStringList { QStringLiteral("--max-words-per-frame=1001") };
    // Narrower beams crash the decoder (a division by zero in its histogram pruning).
    QTest::newRow("beam too narrow") << QStringList { QStringLiteral("--beam=1e-12") };
    QTest::newRow("beam too wide") << QStringList { QStringLiteral("--word-beam=1e-101") };
    QTest::newRow("beam text") << QStringList { QStringLiteral("--phone-beam=narrow") };
    QTest::newRow("beam not finite") << QStringList { QStringLiteral("--beam=nan") };
    QTest::newRow("flat pass") << QStringList { QStringLiteral("--flat-pass=1") };
    QTest::newRow("best path") << QStringList { QStringLiteral("--best-path=") };
    QTest::newRow("frame step") << QStringList { QStringLiteral("--frame-step=5") };
    QTest::newRow("search no value") << QStringList { QStringLiteral("--frame-step") };
}

void ServiceChecksTest::optionsRefused()
{
    QFETCH(QStringList, args);
    std::vector<std::string> list;
    for (const QString &a : args)
        list.push_back(a.toStdString());
    std::string error;
    QVERIFY(!parseOptions(list, error));
    QVERIFY(!error.empty());
}

void ServiceChecksTest::optionMessagesAndLog()
{
    std::string error;
    // A value missing at the end, an empty one after "=" and a stray word, each named.
    QVERIFY(!parseOptions({ "--threads", "2", "--stop-timeout" }, error));
    QCOMPARE(error, std::string("--stop-timeout needs a value"));
    QVERIFY(!parseOptions({ "--host=" }, error));
    QCOMPARE(error, std::string("--host needs an address"));
    QVERIFY(!parseOptions({ "--port", "1", "extra" }, error));
    QCOMPARE(error, std::string("unknown option: extra"));
    // The first bad value is the one reported; a later good one does not hide it.
    QVERIFY(!parseOptions({ "--port=x", "--threads=0", "--port=1" }, error));
    QCOMPARE(error, std::string("--port needs a number from 0 to 65535"));

    // The log shows the values in force and never a secret.
    std::optional<ServiceOptions> o
        = parseOptions({ "--key", "k3y-in-log", "--client-secret", "s3cret-in-log",
                           "--max-connections-per-client", "0", "--request-timeout", "7" },
            error);
    QVERIFY2(o, error.c_str());
    const std::string log = describeOptions(*o);
    QVERIFY2(log.find("request timeout 7 s") != std::string::npos, log.c_str());
    QVERIFY2(log.find("connections per client unbounded") != std::string::npos, log.c_str());
    QVERIFY(log.find("in-log") == std::string::npos);

    // The upload limit is given in MiB, kept in bytes and logged in MiB again.
    o = parseOptions({ "--max-upload-mb=2" }, error);
    QVERIFY2(o, error.c_str());
    QCOMPARE(o->limits.maxUploadBytes, size_t(2) * 1024 * 1024);
    QVERIFY2(
        describeOptions(*o).find("upload 2 MiB") != std::string::npos, describeOptions(*o).c_str());
    QVERIFY(!parseOptions({ "--max-upload-mb", "0" }, error));
    QCOMPARE(error, std::string("--max-upload-mb needs a number from 1 to 1024"));
}

QTEST_APPLESS_MAIN(ServiceChecksTest)
#include "tst_servicechecks.moc"
