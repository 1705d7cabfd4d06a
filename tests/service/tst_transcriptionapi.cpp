// The transcription API of the real speech-service program over loopback:
// the form's edge cases, every response format, files of several formats and
// broken ones decoded by ffmpeg, times against speech with known onsets, the
// clients file reloaded on SIGHUP and an oversized upload refused from its head.

#include <QTcpSocket>
#include <QTextCodec>
#include <QtTest>

#include "replies.h"

#include "service/recognition/audio_input.h"

#include "common/speechservice.h"

#include <httplib.h>
#include <json/json.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace speech;
using namespace testhttp;

namespace {

const char *kSecret = "Gf5tQw2LzN8kRm4VxHp7Cs9JdT3bYe6W";
const char *kPath = "/v1/audio/transcriptions";

// Three phrases with known pauses between them: each phrase's speech starts
// where its clip's first loud sample lies.
const char *const kPhrases[] = { "hello world", "the quick brown fox jumps over the lazy dog",
    "after lunch we walked down to the river" };
const double kPauseSeconds[] = { 1.5, 2.5 };

httplib::MultipartFormDataItems form(const std::string &file,
    std::vector<std::pair<std::string, std::string>> fields = { { "model", "whisper-1" } })
{
    httplib::MultipartFormDataItems items;
    if (!file.empty() || fields.empty())
        items.push_back({ "file", file, "speech.bin", "application/octet-stream" });
    for (auto &[name, value] : fields)
        items.push_back({ name, value, "", "" });
    return items;
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

std::string bytesOf(const QString &path)
{
    const QByteArray b = readFile(path);
    return std::string(b.constData(), size_t(b.size()));
}

bool ffmpeg(const QStringList &args)
{
    return QProcess::execute(QStringLiteral("ffmpeg"),
               QStringList { QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y") }
                   + args)
        == 0;
}

} // namespace

class TranscriptionApiTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void refusals_data();
    void refusals();
    void timesAgainstKnownOnsets();
    void inputFormatsDecoded();
    void textAndSubtitleFormats();
    void brokenFilesAnsweredWhileServing();
    void uploadNamingOtherFilesIsNotFollowed();
    void builtInKeyOnlyFromTheServicesOwnUser();
    void oversizedUploadRefusedFromItsHead();
    void clientsFileReloadedOnHangup();
    void recognitionOutlastsTheRequestTime();

private:
    httplib::Client client(int port = 0) const;
    httplib::Result post(const httplib::MultipartFormDataItems &items,
        const std::string &key = kSecret, int port = 0) const;

    QTemporaryDir dir;
    SpeechServiceProcess service { { QStringLiteral("--threads"), QStringLiteral("2") } };
    std::string wav; // the phrases joined by pauses
    std::vector<double> onsets; // seconds
};

httplib::Client TranscriptionApiTest::client(int port) const
{
    httplib::Client c("127.0.0.1", port ? port : service.port());
    c.set_read_timeout(120, 0);
    return c;
}

httplib::Result TranscriptionApiTest::post(
    const httplib::MultipartFormDataItems &items, const std::string &key, int port) const
{
    httplib::Headers headers;
    if (!key.empty())
        headers.emplace("Authorization", "Bearer " + key);
    return client(port).Post(kPath, headers, items);
}

void TranscriptionApiTest::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY2(service.start(), qPrintable(service.logText()));
    std::vector<int16_t> joined;
    for (size_t i = 0; i < std::size(kPhrases); ++i) {
        const QString text = dir.filePath(QStringLiteral("p%1.txt").arg(i));
        QFile f(text);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(kPhrases[i]);
        f.close();
        const QString clip = dir.filePath(QStringLiteral("p%1.wav").arg(i));
        QVERIFY(makeSpeechWav(text, clip));
        const AudioInput audio = readAudio(bytesOf(clip));
        QVERIFY(audio.ok && !audio.samples.empty());
        size_t first = 0;
        while (first < audio.samples.size() && std::abs(audio.samples[first]) < 1000)
            ++first;
        onsets.push_back(double(joined.size() + first) / kSampleRate);
        joined.insert(joined.end(), audio.samples.begin(), audio.samples.end());
        if (i < std::size(kPauseSeconds))
            joined.insert(joined.end(), size_t(kPauseSeconds[i] * kSampleRate), 0);
    }
    wav = makeWav(joined);
    QFile out(dir.filePath(QStringLiteral("speech.wav")));
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(wav.data(), qint64(wav.size()));
}

void TranscriptionApiTest::refusals_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("param");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("shape"); // which form
    auto add = [](const char *name, int status, const char *param, const char *shape,
                   const char *key = "") {
        QTest::newRow(name) << status << QString::fromLatin1(param)
                            << QString::fromLatin1(*key ? key : kSecret)
                            << QString::fromLatin1(shape);
    };
    add("no file", 400, "file", "nofile");
    add("two files", 400, "file", "twofiles");
    add("empty file", 400, "file", "empty");
    add("prompt over its size", 400, "prompt", "longprompt");
    add("unknown response format", 400, "response_format", "badformat");
    add("word times without verbose_json", 400, "timestamp_granularities", "wordsjson");
    add("language without a model", 400, "language", "french");
    add("no model", 400, "model", "nomodel");
    add("unknown model", 404, "model", "unknownmodel");
    add("wrong key", 401, "", "plain", "not-a-key");
    add("no key", 401, "", "nokey");
    add("not a form", 400, "", "json");
    add("response format not UTF-8", 400, "response_format", "notutf8");
}

void TranscriptionApiTest::refusals()
{
    QFETCH(int, status);
    QFETCH(QString, param);
    QFETCH(QString, key);
    QFETCH(QString, shape);
    const std::string s = shape.toStdString();
    httplib::MultipartFormDataItems items = form(wav);
    if (s == "nofile")
        items = form({});
    else if (s == "twofiles")
        items.push_back({ "file", wav, "again.wav", "audio/wav" });
    else if (s == "empty")
        items = { { "file", "", "empty.wav", "audio/wav" }, { "model", "whisper-1", "", "" } };
    else if (s == "longprompt")
        items.push_back({ "prompt", std::string(100 * 1024, 'a'), "", "" });
    else if (s == "badformat")
        items.push_back({ "response_format", "docx", "", "" });
    else if (s == "notutf8")
        items.push_back({ "response_format", "\xff\xfe\x80", "", "" });
    else if (s == "wordsjson")
        items.push_back({ "timestamp_granularities[]", "word", "", "" });
    else if (s == "french")
        items.push_back({ "language", "fr", "", "" });
    else if (s == "nomodel")
        items = form(wav, {});
    else if (s == "unknownmodel")
        items = form(wav, { { "model", "no-such-model" } });
    httplib::Result r = s == "json"
        ? client().Post(kPath, { { "Authorization", std::string("Bearer ") + kSecret } },
            "{\"model\":\"whisper-1\"}", "application/json")
        : post(items, s == "nokey" ? std::string() : key.toStdString());
    QVERIFY(r);
    QCOMPARE(r->status, status);
    // Whatever the client sent, the body is valid UTF-8.
    QTextDecoder decoder(QTextCodec::codecForName("UTF-8"), QTextCodec::ConvertInvalidToNull);
    decoder.toUnicode(r->body.data(), int(r->body.size()));
    QVERIFY2(!decoder.hasFailure(), r->body.c_str());
    const Json::Value error = parse(r->body)["error"];
    QVERIFY2(error["message"].isString() && !error["message"].asString().empty(), r->body.c_str());
    QVERIFY(error["type"].isString());
    QCOMPARE(QString::fromStdString(error["param"].asString()), param);
    if (s == "french")
        QVERIFY2(error["message"].asString().find("'fr'") != std::string::npos, r->body.c_str());
}

void TranscriptionApiTest::timesAgainstKnownOnsets()
{
    auto items = form(wav);
    items.push_back({ "response_format", "verbose_json", "", "" });
    items.push_back({ "timestamp_granularities[]", "word", "", "" });
    items.push_back({ "timestamp_granularities[]", "segment", "", "" });
    httplib::Result r = post(items);
    QVERIFY(r);
    QCOMPARE(r->status, 200);
    const Json::Value v = parse(r->body);
    QCOMPARE(v["task"].asString(), std::string("transcribe"));
    QCOMPARE(v["language"].asString(), std::string("english"));
    QVERIFY(std::fabs(v["duration"].asDouble() - double(wav.size() - 44) / 2 / kSampleRate) < 0.02);
    // Each phrase an utterance of its own, starting where its speech does.
    const Json::Value &segments = v["segments"];
    QCOMPARE(segments.size(), Json::ArrayIndex(std::size(kPhrases)));
    for (Json::ArrayIndex i = 0; i < segments.size(); ++i) {
        QCOMPARE(segments[i]["id"].asInt(), int(i));
        QVERIFY2(std::fabs(segments[i]["start"].asDouble() - onsets[i]) < 0.3, r->body.c_str());
        if (i + 1 < segments.size())
            QVERIFY(segments[i]["end"].asDouble() < onsets[i + 1]);
        // Every member a strict client requires, of its type; seek in 10 ms frames.
        const Json::Value &s = segments[i];
        QVERIFY(s["tokens"].isArray() && s["temperature"].isDouble() && s["avg_logprob"].isDouble()
            && s["no_speech_prob"].isDouble());
        QVERIFY(s["seek"].isIntegral());
        QVERIFY(std::abs(s["seek"].asInt() - s["start"].asDouble() * 100) <= 1);
        QVERIFY(s["compression_ratio"].asDouble() > 0);
    }
    const Json::Value &words = v["words"];
    QVERIFY(words.size() >= 10);
    double last = 0;
    for (const Json::Value &w : words) {
        QVERIFY(w["start"].asDouble() >= last && w["end"].asDouble() > w["start"].asDouble());
        last = w["end"].asDouble();
    }
    QVERIFY(v["text"].asString().find("world") != std::string::npos);

    // The token protocol tells the same times for the same audio.
    const Reply token = toReply(
        client().Get(tokenPath("client_credentials", "Rk3nVq8ZtLm2Hs7PxWc4JdYb", kSecret).c_str()));
    Json::Value request;
    request["format"] = "wav";
    request["rate"] = 16000;
    request["channel"] = 1;
    request["cuid"] = "test";
    request["token"] = token.json["access_token"];
    request["len"] = Json::UInt64(wav.size());
    QByteArray base64 = QByteArray::fromStdString(wav).toBase64();
    request["speech"] = base64.toStdString();
    Json::StreamWriterBuilder writer;
    const Reply recognised = toReply(
        client().Post("/server_api", Json::writeString(writer, request), "application/json"));
    QCOMPARE(recognised.json["err_no"].asInt(), 0);
    const Json::Value &utterances = recognised.json["utterances"];
    QCOMPARE(utterances.size(), segments.size());
    for (Json::ArrayIndex i = 0; i < utterances.size(); ++i) {
        QCOMPARE(utterances[i]["start"].asDouble(), segments[i]["start"].asDouble());
        QVERIFY(!utterances[i]["words"].empty());
    }
}

void TranscriptionApiTest::inputFormatsDecoded()
{
    const QString source = dir.filePath(QStringLiteral("speech.wav"));
    for (const char *suffix : { "mp3", "flac", "ogg", "m4a", "webm" }) {
        const QString file = dir.filePath(QStringLiteral("speech.%1").arg(QLatin1String(suffix)));
        QVERIFY2(ffmpeg({ QStringLiteral("-i"), source, QStringLiteral("-ar"),
                     QStringLiteral("48000"), QStringLiteral("-ac"), QStringLiteral("2"), file }),
            suffix);
        httplib::Result r = post(form(bytesOf(file)));
        QVERIFY2(r && r->status == 200, suffix);
        const std::string text = parse(r->body)["text"].asString();
        QVERIFY2(text.find("world") != std::string::npos && text.find("river") != std::string::npos,
            (std::string(suffix) + ": " + text).c_str());
    }
}

void TranscriptionApiTest::textAndSubtitleFormats()
{
    std::map<std::string, std::string> bodies;
    for (const char *format : { "json", "text", "srt", "vtt" }) {
        auto items = form(wav);
        items.push_back({ "response_format", format, "", "" });
        httplib::Result r = post(items);
        QVERIFY2(r && r->status == 200, format);
        bodies[format] = r->body;
    }
    const std::string text = parse(bodies["json"])["text"].asString();
    QVERIFY(!text.empty());
    QCOMPARE(bodies["text"], text + "\n");
    // Both subtitle bodies read back by ffmpeg, with the speech's words in their cues.
    for (const char *format : { "srt", "vtt" }) {
        const QString file = dir.filePath(QStringLiteral("cues.%1").arg(QLatin1String(format)));
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bodies[format].data(), qint64(bodies[format].size()));
        f.close();
        const QString back = dir.filePath(QStringLiteral("back-%1.srt").arg(QLatin1String(format)));
        QVERIFY2(ffmpeg({ QStringLiteral("-i"), file, back }), format);
        const QString read = QString::fromUtf8(readFile(back));
        QVERIFY2(read.contains(QStringLiteral("00:00:0")) && read.contains(QStringLiteral("fox"))
                && read.contains(QStringLiteral("river")),
            qPrintable(read));
    }
}

void TranscriptionApiTest::brokenFilesAnsweredWhileServing()
{
    const QString mp4 = dir.filePath(QStringLiteral("speech.mp4"));
    QVERIFY(ffmpeg({ QStringLiteral("-i"), dir.filePath(QStringLiteral("speech.wav")),
        QStringLiteral("-c:a"), QStringLiteral("aac"), mp4 }));
    const std::string whole = bytesOf(mp4);
    for (const std::string &broken : { whole.substr(0, whole.size() / 2),
             std::string("These are the minutes of the meeting, not a recording.\n") }) {
        httplib::Result r = post(form(broken));
        QVERIFY(r);
        QCOMPARE(r->status, 400);
        QCOMPARE(parse(r->body)["error"]["param"].asString(), std::string("file"));
    }
    httplib::Result health = client().Get("/health");
    QVERIFY(health && health->status == 200);
    httplib::Result good = post(form(whole));
    QVERIFY(good && good->status == 200);
}

void TranscriptionApiTest::uploadNamingOtherFilesIsNotFollowed()
{
    // A file of the service's user, and a listener, that the uploads name.
    const QString secret = dir.filePath(QStringLiteral("secret.mp3"));
    QVERIFY(ffmpeg({ QStringLiteral("-i"), dir.filePath(QStringLiteral("speech.wav")), secret }));
    httplib::Server listener;
    std::atomic<int> hits { 0 };
    listener.Get(".*", [&](const httplib::Request &, httplib::Response &res) {
        ++hits;
        res.set_content(bytesOf(secret), "audio/mpeg");
    });
    const int port = listener.bind_to_any_port("127.0.0.1");
    QVERIFY(port > 0);
    std::thread serving([&] { listener.listen_after_bind(); });
    const std::string path = secret.toStdString();
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/secret.mp3";
    const std::string playlist = "#EXTM3U\n#EXT-X-TARGETDURATION:60\n#EXTINF:20.0,\n";
    for (const std::string &upload : { playlist + "file://" + path + "\n#EXT-X-ENDLIST\n",
             playlist + path + "\n#EXT-X-ENDLIST\n", playlist + url + "\n#EXT-X-ENDLIST\n",
             "ffconcat version 1.0\nfile '" + path + "'\n",
             "ffconcat version 1.0\nfile '" + url + "'\n" }) {
        httplib::Result r = post(form(upload));
        QVERIFY(r);
        QVERIFY2(r->status == 400 && r->body.find("fox") == std::string::npos, r->body.c_str());
        QCOMPARE(parse(r->body)["error"]["param"].asString(), std::string("file"));
    }
    listener.stop();
    serving.join();
    QCOMPARE(hits.load(), 0);
    // The same file uploaded itself is read.
    httplib::Result own = post(form(bytesOf(secret)));
    QVERIFY(own && own->status == 200 && own->body.find("fox") != std::string::npos);
}

void TranscriptionApiTest::builtInKeyOnlyFromTheServicesOwnUser()
{
    // The built-in secret is in every copy of the desktop program: from
    // another user of this machine it is no key. Only root can be one here.
    if (::geteuid() != 0)
        QSKIP("needs root to run a client as another user");
    QProcess curl;
    curl.start(QStringLiteral("setpriv"),
        { QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
            QStringLiteral("--clear-groups"), QStringLiteral("curl"), QStringLiteral("-s"),
            QStringLiteral("-o"), QStringLiteral("/dev/null"), QStringLiteral("-w"),
            QStringLiteral("%{http_code}"), QStringLiteral("-H"),
            QStringLiteral("Authorization: Bearer ") + QLatin1String(kSecret),
            QStringLiteral("http://127.0.0.1:%1/v1/models").arg(service.port()) });
    QVERIFY(curl.waitForFinished(30000));
    QCOMPARE(curl.readAllStandardOutput(), QByteArray("401"));
    httplib::Result own
        = client().Get("/v1/models", { { "Authorization", std::string("Bearer ") + kSecret } });
    QVERIFY(own && own->status == 200);
}

void TranscriptionApiTest::oversizedUploadRefusedFromItsHead()
{
    // The head alone: a refusal that waited for the 30 MB would never come.
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, quint16(service.port()));
    QVERIFY(socket.waitForConnected(10000));
    socket.write(QByteArray("POST /v1/audio/transcriptions HTTP/1.1\r\nHost: x\r\n"
                            "Authorization: Bearer ")
        + kSecret
        + "\r\nContent-Type: multipart/form-data; boundary=b\r\nContent-Length: 31457280\r\n\r\n");
    QByteArray reply;
    QVERIFY(QTest::qWaitFor(
        [&] {
            socket.waitForReadyRead(100);
            reply += socket.readAll();
            return reply.contains("}");
        },
        30000));
    QVERIFY2(reply.startsWith("HTTP/1.1 413"), reply.constData());
    QVERIFY(reply.contains("\"error\""));

    // The answer to a head, without the body: refused for want of a key
    // before any of it is read; with a key, 408 once the body stops coming.
    auto answer = [&](const QByteArray &key, const QByteArray &bodyStart) {
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, quint16(service.port()));
        if (!s.waitForConnected(10000))
            return QByteArray();
        s.write("POST /v1/audio/transcriptions HTTP/1.1\r\nHost: x\r\n" + key
            + "Content-Type: multipart/form-data; boundary=b\r\nContent-Length: 20000000\r\n\r\n"
            + bodyStart);
        QByteArray got;
        (void)QTest::qWaitFor(
            [&] {
                s.waitForReadyRead(100);
                got += s.readAll();
                return got.contains("}");
            },
            30000);
        return got;
    };
    const QByteArray noKey = answer({}, {});
    QVERIFY2(
        noKey.startsWith("HTTP/1.1 401") && noKey.contains("invalid_api_key"), noKey.constData());
    const QByteArray stalled = answer(QByteArray("Authorization: Bearer ") + kSecret + "\r\n",
        "--b\r\nContent-Disposition: form-data; name=\"file\"; filename=\"a.wav\"\r\n\r\nRIFF");
    QVERIFY2(
        stalled.startsWith("HTTP/1.1 408") && stalled.contains("\"error\":{"), stalled.constData());
}

void TranscriptionApiTest::clientsFileReloadedOnHangup()
{
    const QString path = dir.filePath(QStringLiteral("clients"));
    auto writeClients = [&](const QByteArray &text) {
        QFile f(path);
        return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(text) == text.size();
    };
    // Bob's secret stored as its hash only.
    const QByteArray hashB
        = QCryptographicHash::hash("secret-b", QCryptographicHash::Sha256).toHex();
    // The built-in secret listed for a client is still no key for the API.
    QVERIFY(writeClients(
        "# team\nalice secret-a\nbob sha256:" + hashB + "\ndesk " + QByteArray(kSecret) + "\n"));
    SpeechServiceProcess team { { QStringLiteral("--threads"), QStringLiteral("1"),
        QStringLiteral("--clients-file"), path } };
    QVERIFY2(team.start(), qPrintable(team.logText()));
    httplib::Client c("127.0.0.1", team.port());
    const Reply aliceToken
        = toReply(c.Get(tokenPath("client_credentials", "alice", "secret-a").c_str()));
    QCOMPARE(aliceToken.status, 200);
    QCOMPARE(
        toReply(c.Get(tokenPath("client_credentials", "bob", "secret-b").c_str())).status, 200);
    QCOMPARE(
        toReply(
            c.Get(tokenPath("client_credentials", "bob", "sha256:" + hashB.toStdString()).c_str()))
            .status,
        401);
    QCOMPARE(
        toReply(c.Get(tokenPath("client_credentials", "Rk3nVq8ZtLm2Hs7PxWc4JdYb", kSecret).c_str()))
            .status,
        401);
    httplib::Result models = c.Get("/v1/models", { { "Authorization", "Bearer secret-a" } });
    QVERIFY(models && models->status == 200);
    httplib::Result builtIn
        = c.Get("/v1/models", { { "Authorization", std::string("Bearer ") + kSecret } });
    QVERIFY(builtIn && builtIn->status == 401);
    const Reply bobToken
        = toReply(c.Get(tokenPath("client_credentials", "bob", "secret-b").c_str()));
    QCOMPARE(bobToken.status, 200);

    // A long transcription under way while alice is removed goes on to its end.
    std::string longWav;
    {
        const AudioInput audio = readAudio(wav);
        std::vector<int16_t> repeated;
        for (int i = 0; i < 6; ++i)
            repeated.insert(repeated.end(), audio.samples.begin(), audio.samples.end());
        longWav = makeWav(repeated);
    }
    int inProgressStatus = -1;
    std::thread longRequest([&] {
        const httplib::Result r = post(form(longWav), "secret-a", team.port());
        inProgressStatus = r ? r->status : -1;
    });
    QVERIFY(QTest::qWaitFor(
        [&] {
            httplib::Result h = c.Get("/health");
            return h && parse(h->body)["requests_in_progress"].asInt() == 1;
        },
        30000));
    // Alice removed, bob's secret changed.
    QVERIFY(writeClients("bob secret-b2\n"));
    ::kill(pid_t(team.pid()), SIGHUP);
    QVERIFY(QTest::qWaitFor(
        [&] { return team.logText().contains(QStringLiteral("clients file read again")); }, 30000));
    longRequest.join();
    QCOMPARE(inProgressStatus, 200);

    httplib::Result refused = c.Get("/v1/models", { { "Authorization", "Bearer secret-a" } });
    QVERIFY(refused && refused->status == 401);
    httplib::Result bob = c.Get("/v1/models", { { "Authorization", "Bearer secret-b" } });
    QVERIFY(bob && bob->status == 401);
    bob = c.Get("/v1/models", { { "Authorization", "Bearer secret-b2" } });
    QVERIFY(bob && bob->status == 200);
    // Alice's token goes with her, and bob's with his old secret.
    Json::Value request;
    request["format"] = "wav";
    request["rate"] = 16000;
    request["channel"] = 1;
    request["cuid"] = "test";
    request["token"] = aliceToken.json["access_token"];
    request["len"] = Json::UInt64(wav.size());
    request["speech"] = QByteArray::fromStdString(wav).toBase64().toStdString();
    for (const Reply &token : { aliceToken, bobToken }) {
        request["token"] = token.json["access_token"];
        const Reply r = toReply(c.Post("/server_api",
            Json::writeString(Json::StreamWriterBuilder(), request), "application/json"));
        QCOMPARE(r.json["err_no"].asInt(), 3302);
    }

    // A FIFO put at the path is refused without being waited on: the
    // signal thread still takes the stop.
    QVERIFY(QFile::remove(path));
    QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
    ::kill(pid_t(team.pid()), SIGHUP);
    QVERIFY(QTest::qWaitFor(
        [&] { return team.logText().contains(QStringLiteral("is not a regular file")); }, 30000));
    team.signalStop();
    QCOMPARE(team.waitForExit(30000), 0);
}

QTEST_GUILESS_MAIN(TranscriptionApiTest)
// The request's time limit is for its arrival: a small compressed upload of long speech is
// answered however long its recognition takes, not cut off with 408 while it is recognised.
void TranscriptionApiTest::recognitionOutlastsTheRequestTime()
{
    const AudioInput audio = readAudio(wav);
    std::vector<int16_t> repeated;
    for (int i = 0; i < 4; ++i)
        repeated.insert(repeated.end(), audio.samples.begin(), audio.samples.end());
    const QString longWav = dir.filePath(QStringLiteral("long.wav"));
    {
        const std::string bytes = makeWav(repeated);
        QFile out(longWav);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(bytes.data(), qint64(bytes.size()));
    }
    const QString mp3 = dir.filePath(QStringLiteral("long.mp3"));
    QVERIFY(ffmpeg({ QStringLiteral("-i"), longWav, QStringLiteral("-ac"), QStringLiteral("1"),
        QStringLiteral("-ar"), QStringLiteral("16000"), QStringLiteral("-b:a"),
        QStringLiteral("24k"), mp3 }));
    const std::string upload = bytesOf(mp3);
    SpeechServiceProcess strict { { QStringLiteral("--threads"), QStringLiteral("1"),
        QStringLiteral("--request-timeout"), QStringLiteral("1") } };
    QVERIFY2(strict.start(), qPrintable(strict.logText()));
    const auto started = std::chrono::steady_clock::now();
    const httplib::Result r = post(form(upload), kSecret, strict.port());
    const double seconds
        = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    // Its arrival's time: one second and the upload at the least rate (64 KiB/s).
    const double arrival = 1 + double(upload.size()) / (64 * 1024);
    QVERIFY2(r, qPrintable(strict.logText()));
    QVERIFY2(r->status == 200, r->body.c_str());
    const std::string text = parse(r->body)["text"].asString();
    QVERIFY2(text.find("river") != std::string::npos, text.c_str());
    if (seconds <= arrival)
        QSKIP("recognised within the arrival's time: this machine cannot show the limit");
}

#include "tst_transcriptionapi.moc"
