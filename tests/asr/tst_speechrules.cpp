#include <QSet>
#include <QtTest>

#include <algorithm>
#include <cstdlib>

#include <json/reader.h>
#include <json/value.h>

#include "asr/backoff.h"
#include "asr/jobnotices.h"
#include "asr/recognitionreply.h"
#include "asr/recognitionrequest.h"
#include "asr/tokenreply.h"
#include "asr/utterancetimes.h"

class TestSpeechRules : public QObject
{
    Q_OBJECT

private slots:
    void requestBodyIsStyledAndSorted();
    void requestBodyMembers_data();
    void requestBodyMembers();
    void recognitionReply_data();
    void recognitionReply();
    void utterancesInFileTime();
    void everyErrNoHasItsOwnMessage();
    void tokenReply_data();
    void tokenReply();
    void addressesAndTexts();
    void backoffCoversOneToTenSeconds();
    void transcriptParagraphs();
};

void TestSpeechRules::requestBodyIsStyledAndSorted()
{
    RecognitionRequest request;
    request.clientId = QStringLiteral("8-0-27-1a-2b-3c");
    request.token = QStringLiteral("tok");
    request.language = QStringLiteral("英文");
    request.speech = QByteArray("RIFF\x00\x01", 6);
    request.length = 6;
    const QByteArray expected = "{\n"
                                "   \"channel\" : 1,\n"
                                "   \"cuid\" : \"8-0-27-1a-2b-3c\",\n"
                                "   \"dev_pid\" : 1737,\n"
                                "   \"format\" : \"wav\",\n"
                                "   \"len\" : 6,\n"
                                "   \"rate\" : 16000,\n"
                                "   \"speech\" : \"UklGRgAB\",\n"
                                "   \"token\" : \"tok\"\n"
                                "}\n";
    QCOMPARE(buildRecognitionBody(request), expected);
}

void TestSpeechRules::requestBodyMembers_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<int>("devPid"); // -1: member absent
    QTest::addColumn<QString>("clientId");
    QTest::addColumn<int>("speechBytes");

    QTest::newRow("near field") << QStringLiteral("中文近场") << 1537 << QStringLiteral("a-b") << 0;
    QTest::newRow("far field") << QStringLiteral("中文远场") << 1936 << QString() << 1;
    QTest::newRow("english") << QStringLiteral("英文") << 1737 << QStringLiteral("x") << 2;
    QTest::newRow("cantonese") << QStringLiteral("粤语") << 1637 << QStringLiteral("x") << 3;
    QTest::newRow("sichuanese") << QStringLiteral("四川话") << 1837 << QStringLiteral("x") << 4;
    QTest::newRow("unknown text") << QStringLiteral("English") << -1 << QStringLiteral("x") << 5;
    QTest::newRow("blank around") << QStringLiteral(" 英文") << -1 << QStringLiteral("x") << 57;
    QTest::newRow("whole segment")
        << QStringLiteral("英文") << 1737 << QStringLiteral("x") << 59 * 32000 + 44;
}

void TestSpeechRules::requestBodyMembers()
{
    QFETCH(QString, language);
    QFETCH(int, devPid);
    QFETCH(QString, clientId);
    QFETCH(int, speechBytes);

    QByteArray speech(speechBytes, '\0');
    for (int i = 0; i < speechBytes; ++i)
        speech[i] = char(i * 7 + 3);
    RecognitionRequest request;
    request.clientId = clientId;
    request.token = QStringLiteral("24.abc+/=");
    request.language = language;
    request.speech = speech;
    request.length = speechBytes;

    const QByteArray body = buildRecognitionBody(request);
    QCOMPARE(devPidForLanguage(language), devPid);
    QVERIFY(body.endsWith("}\n"));
    QVERIFY(!body.contains("\r"));

    Json::Value root;
    Json::Reader reader;
    QVERIFY(reader.parse(body.constData(), body.constData() + body.size(), root));
    QCOMPARE(root["channel"].asInt(), 1);
    QCOMPARE(root["rate"].asInt(), 16000);
    QCOMPARE(QString::fromStdString(root["format"].asString()), QStringLiteral("wav"));
    QCOMPARE(QString::fromStdString(root["cuid"].asString()), clientId);
    QCOMPARE(QString::fromStdString(root["token"].asString()), QStringLiteral("24.abc+/="));
    QCOMPARE(root["len"].asInt(), speechBytes);
    QCOMPARE(root.isMember("dev_pid"), devPid >= 0);
    if (devPid >= 0)
        QCOMPARE(root["dev_pid"].asInt(), devPid);
    const QByteArray base64 = QByteArray::fromStdString(root["speech"].asString());
    QVERIFY(!base64.contains('\n'));
    QCOMPARE(QByteArray::fromBase64(base64), speech);
    QCOMPARE(int(root.size()), devPid >= 0 ? 8 : 7);
}

Q_DECLARE_METATYPE(RecognitionReply::Kind)

void TestSpeechRules::recognitionReply_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<RecognitionReply::Kind>("kind");
    QTest::addColumn<int>("errNo");
    QTest::addColumn<bool>("hasText");
    QTest::addColumn<QString>("text");

    const auto Text = RecognitionReply::Text;
    const auto Bad = RecognitionReply::Unrecognisable;
    QTest::newRow("success") << QByteArray(R"({"err_no":0,"err_msg":"success.","result":["你好"]})")
                             << Text << 0 << true << QStringLiteral("你好");
    QTest::newRow("further results ignored")
        << QByteArray(R"({"err_no":0,"result":["first","second"]})") << Text << 0 << true
        << QStringLiteral("first");
    QTest::newRow("no err_no reads as 0")
        << QByteArray(R"({"result":["hello"]})") << Text << 0 << true << QStringLiteral("hello");
    QTest::newRow("empty result") << QByteArray(R"({"err_no":0,"result":[]})") << Text << 0 << false
                                  << QString();
    QTest::newRow("no result") << QByteArray(R"({"err_no":0})") << Text << 0 << false << QString();
    QTest::newRow("retry") << QByteArray(R"({"err_no":3304,"err_msg":"busy"})")
                           << RecognitionReply::Retry << 3304 << false << QString();
    QTest::newRow("table code") << QByteArray(R"({"err_no":3314})")
                                << RecognitionReply::ServiceError << 3314 << false << QString();
    QTest::newRow("unknown code") << QByteArray(R"({"err_no":3300,"err_msg":"param"})")
                                  << RecognitionReply::UnknownCode << 3300 << false << QString();
    QTest::newRow("negative code") << QByteArray(R"({"err_no":-1})")
                                   << RecognitionReply::UnknownCode << -1 << false << QString();
    QTest::newRow("integral float code") << QByteArray(R"({"err_no":0.0,"result":["a"]})") << Text
                                         << 0 << true << QStringLiteral("a");
    QTest::newRow("empty") << QByteArray() << Bad << 0 << false << QString();
    QTest::newRow("html") << QByteArray("<html>502</html>") << Bad << 0 << false << QString();
    QTest::newRow("cut off") << QByteArray(R"({"err_no":0,"result":["hal)") << Bad << 0 << false
                             << QString();
    QTest::newRow("trailing garbage")
        << QByteArray(R"({"err_no":0,"result":["a"]} junk)") << Bad << 0 << false << QString();
    QTest::newRow("array") << QByteArray(R"([{"err_no":0}])") << Bad << 0 << false << QString();
    QTest::newRow("number") << QByteArray("0") << Bad << 0 << false << QString();
    QTest::newRow("err_no string")
        << QByteArray(R"({"err_no":"0","result":["a"]})") << Bad << 0 << false << QString();
    QTest::newRow("err_no fraction")
        << QByteArray(R"({"err_no":3304.5})") << Bad << 0 << false << QString();
    QTest::newRow("result string")
        << QByteArray(R"({"err_no":0,"result":"hello"})") << Bad << 0 << false << QString();
    QTest::newRow("result of numbers")
        << QByteArray(R"({"err_no":0,"result":[7]})") << Bad << 0 << false << QString();
    QTest::newRow("ends at a zero byte") << QByteArray("{\"err_no\":0,\"result\":[\"a\"]}\0junk",
        32) << Text << 0 << true << QStringLiteral("a");
    QTest::newRow("escaped text") << QByteArray(R"({"result":["\u4f60\u597d \"ok\""]})") << Text
                                  << 0 << true << QStringLiteral("你好 \"ok\"");
    QTest::newRow("deep nesting") << QByteArray(100000, '[') << Bad << 0 << false << QString();
    QByteArray huge = R"({"err_no":0,"result":[")";
    huge += QByteArray(MaxRecognitionReplyBytes, 'a') + "\"]}";
    QTest::newRow("huge") << huge << Bad << 0 << false << QString();
    QByteArray large = R"({"err_no":0,"result":[")";
    large += QByteArray(MaxRecognitionReplyBytes - 100, 'b') + "\"]}";
    QTest::newRow("large but within limit")
        << large << Text << 0 << true << QString(MaxRecognitionReplyBytes - 100, QLatin1Char('b'));
}

void TestSpeechRules::recognitionReply()
{
    QFETCH(QByteArray, body);
    QFETCH(RecognitionReply::Kind, kind);
    QFETCH(int, errNo);
    QFETCH(bool, hasText);
    QFETCH(QString, text);

    const RecognitionReply reply = parseRecognitionReply(body);
    QCOMPARE(int(reply.kind), int(kind));
    QCOMPARE(reply.hasText, hasText);
    QCOMPARE(reply.text, text);
    const QString notice = JobNotices::text(reply.failure);
    if (kind == RecognitionReply::Unrecognisable) {
        QCOMPARE(notice, QStringLiteral("语音服务返回了无法识别的数据！"));
        return;
    }
    QCOMPARE(reply.errNo, errNo);
    if (kind == RecognitionReply::UnknownCode)
        QCOMPARE(notice, QStringLiteral("语音识别出错（错误码：%1）！").arg(errNo));
    else if (kind == RecognitionReply::ServiceError)
        QCOMPARE(notice, messageForErrNo(errNo));
}

void TestSpeechRules::utterancesInFileTime()
{
    // the second 59 s segment; an entry without times and a word of the wrong shape are left out
    const RecognitionReply reply
        = parseRecognitionReply("{\"err_no\":0,\"result\":[\"hello world again\"],\"utterances\":["
                                "{\"start\":0.52,\"end\":2.31,\"text\":\"hello world\",\"words\":["
                                "{\"word\":\"hello\",\"start\":0.52,\"end\":1.1},{\"word\":7}]},"
                                "{\"text\":\"untimed\"},"
                                "{\"start\":2.0,\"end\":3.0,\"text\":\"again\"}]}");
    QCOMPARE(reply.kind, RecognitionReply::Text);
    QCOMPARE(reply.utterances.size(), 2);
    TimedUtterances placed = UtteranceTimes::placeInFile(reply.utterances, reply.text, true,
        UtteranceTimes::segmentStartMs(1, 59), UtteranceTimes::wavDurationMs(44 + 32000 * 59));
    QCOMPARE(placed[0].startMs, 59520);
    QCOMPARE(placed[0].endMs, 61310);
    QCOMPARE(placed[0].words, (QVector<TimedWord> { { 59520, 60100, QStringLiteral("hello") } }));
    QCOMPARE(placed[1].startMs, 61310); // overlapping the one before: it waits for it
    QCOMPARE(placed[1].endMs, 62000);

    // an old reply without times: one utterance over its segment, ending where the audio ends
    const RecognitionReply old = parseRecognitionReply("{\"err_no\":0,\"result\":[\"hi\"]}");
    QVERIFY(old.utterances.isEmpty());
    placed = UtteranceTimes::placeInFile(old.utterances, old.text, true,
        UtteranceTimes::segmentStartMs(2, 59),
        UtteranceTimes::wavDurationMs(44 + 32000 * 3 + 16000));
    QCOMPARE(placed, (TimedUtterances { { 118000, 121500, QStringLiteral("hi"), {} } }));
    QVERIFY(UtteranceTimes::placeInFile({}, QString(), false, 0, 1000).isEmpty());
}

void TestSpeechRules::everyErrNoHasItsOwnMessage()
{
    const QList<QPair<int, QString>> table = {
        { 3301, QStringLiteral("语音识别结果实际为空！") },
        { 3302, QStringLiteral("鉴权失败！") },
        { 3303, QStringLiteral("语音服务器后端繁忙，或是音频质量过低！") },
        { 3307, QStringLiteral("语音服务器后端识别出错！") },
        { 3309, QStringLiteral("服务端无法将音频转为pcm格式，可能是音频格式问题！") },
        { 3313, QStringLiteral("语音服务器解析超时！") },
        { 3314, QStringLiteral("音频长度过短！") },
        { 3315, QStringLiteral("语音服务器处理超时！") },
        { 3316, QStringLiteral("音频转为pcm失败！") },
    };
    for (const auto &row : table) {
        const RecognitionReply reply
            = parseRecognitionReply("{\"err_no\":" + QByteArray::number(row.first) + "}");
        QCOMPARE(int(reply.kind), int(RecognitionReply::ServiceError));
        QCOMPARE(JobNotices::text(reply.failure), row.second);
    }
    for (int code : { 0, 3300, 3304, 3305, 3308, 3310, 3317 })
        QVERIFY2(messageForErrNo(code).isEmpty(), QByteArray::number(code).constData());
}

void TestSpeechRules::tokenReply_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("parsed");
    QTest::addColumn<QString>("accessToken");
    QTest::addColumn<QString>("sessionKey");
    QTest::addColumn<int>("expiresIn");

    QTest::newRow("full") << QByteArray(R"({"access_token":"24.a","session_key":"sk",
        "refresh_token":"rt","session_secret":"ss","expires_in":2592000,"scope":"x"})")
                          << true << QStringLiteral("24.a") << QStringLiteral("sk") << 2592000;
    QTest::newRow("no expires_in")
        << QByteArray(R"({"access_token":"t"})") << true << QStringLiteral("t") << QString() << 0;
    QTest::newRow("no access_token")
        << QByteArray(R"({"error":"invalid_client"})") << true << QString() << QString() << 0;
    QTest::newRow("wrong types") << QByteArray(R"({"access_token":5,"session_key":["a"],
        "expires_in":"30"})") << true
                                 << QString() << QString() << 0;
    QTest::newRow("utf-8") << QByteArray(R"({"access_token":"令牌"})") << true
                           << QStringLiteral("令牌") << QString() << 0;
    QTest::newRow("not json") << QByteArray("access_token=abc") << false << QString() << QString()
                              << 0;
    QTest::newRow("empty") << QByteArray() << false << QString() << QString() << 0;
    QTest::newRow("array") << QByteArray(R"(["access_token"])") << false << QString() << QString()
                           << 0;
}

void TestSpeechRules::tokenReply()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, parsed);
    QFETCH(QString, accessToken);
    QFETCH(QString, sessionKey);
    QFETCH(int, expiresIn);

    TokenReply reply;
    QCOMPARE(parseTokenReply(body, &reply), parsed);
    QCOMPARE(reply.accessToken, accessToken);
    QCOMPARE(reply.sessionKey, sessionKey);
    QCOMPARE(reply.expiresIn, expiresIn);
}

void TestSpeechRules::addressesAndTexts()
{
    QCOMPARE(tokenUrl(QStringLiteral("http://h:1")),
        QStringLiteral("http://h:1/oauth/2.0/token?grant_type=client_credentials"
                       "&client_id=Rk3nVq8ZtLm2Hs7PxWc4JdYb"
                       "&client_secret=Gf5tQw2LzN8kRm4VxHp7Cs9JdT3bYe6W"));
    QCOMPARE(recognitionUrl(QStringLiteral("http://h:1")), QStringLiteral("http://h:1/server_api"));
}

void TestSpeechRules::backoffCoversOneToTenSeconds()
{
    // Values at both ends of the generator's range: the wait is 1 to 10 s, and each occurs.
    QSet<int> seen;
    for (int value = 0; value < 1000; ++value)
        seen.insert(Backoff::secondsFor(value));
    for (int value = RAND_MAX - 999; value < RAND_MAX; ++value)
        seen.insert(Backoff::secondsFor(value));
    seen.insert(Backoff::secondsFor(RAND_MAX));
    QCOMPARE(seen.size(), 10);
    QCOMPARE(*std::min_element(seen.cbegin(), seen.cend()), 1);
    QCOMPARE(*std::max_element(seen.cbegin(), seen.cend()), 10);
    // The draw is that rule applied to the generator.
    for (int i = 0; i < 100; ++i) {
        const int seconds = Backoff::drawSeconds();
        QVERIFY(seconds >= 1 && seconds <= 10);
    }
    // Users wait real seconds; a test's scale shortens the wait, never to nothing.
    QCOMPARE(Backoff::waitMilliseconds(10, 1.0), 10000);
    QCOMPARE(Backoff::waitMilliseconds(3, 0.05), 150);
    QCOMPARE(Backoff::waitMilliseconds(1, 0.0001), 1);
}

void TestSpeechRules::transcriptParagraphs()
{
    QCOMPARE(transcriptText({}), QString());
    QCOMPARE(transcriptText({ QStringLiteral("a < b") }), QStringLiteral("a < b\n"));
    QCOMPARE(transcriptText({ QStringLiteral("one"), QString(), QStringLiteral("three") }),
        QStringLiteral("one\n\n\n\nthree\n"));
}

QTEST_APPLESS_MAIN(TestSpeechRules)
#include "tst_speechrules.moc"
