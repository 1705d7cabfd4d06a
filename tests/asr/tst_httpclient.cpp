#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>

#include "asr/qthttpclass.h"
#include "common/scriptedhttppeer.h"

using Reply = ScriptedHttpPeer::Reply;

class TestHttpClient : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void getAndPostSendHeadersAndBody();
    void repliesAreHandedBackWhole();
    void longRepliesAreCutOffWhileRead();
    void eachReplyCarriesItsOwnNumber();
    void nextRequestFromInsideTheSignal();
    void abortedRequestIsDroppedSilently();
    void networkFailuresArriveAsErrors();

private:
    ScriptedHttpPeer *peer = nullptr;
    QtHttpClass *http = nullptr;
};

void TestHttpClient::init()
{
    peer = new ScriptedHttpPeer;
    QVERIFY(peer->start());
    http = new QtHttpClass;
}

void TestHttpClient::cleanup()
{
    delete http;
    delete peer;
}

void TestHttpClient::getAndPostSendHeadersAndBody()
{
    QSignalSpy finished(http, &QtHttpClass::sigReplyFinish);
    peer->setFallback("/t", Reply::json("{}"));
    QCOMPARE(http->lastRequestId(), -1);

    http->httpGet(0, peer->baseUrl() + QStringLiteral("/t?a=1&b=x"));
    QCOMPARE(http->lastRequestId(), 0);
    QCOMPARE(http->lastRequestUrl(), QUrl(peer->baseUrl() + QStringLiteral("/t?a=1&b=x")));
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 5000);

    const QByteArray body("{\n   \"len\" : 3\n}\n\xe4\xbd\xa0");
    http->httpPost(2, peer->baseUrl() + QStringLiteral("/t"), body);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, 5000);

    QCOMPARE(peer->requests.size(), 2);
    const ScriptedHttpPeer::Request get = peer->requests[0];
    QCOMPARE(get.method, QByteArray("GET"));
    QCOMPARE(get.query, QByteArray("a=1&b=x"));
    QCOMPARE(get.headers.value("content-type"), QByteArray("application/json"));
    QVERIFY(get.body.isEmpty());
    const ScriptedHttpPeer::Request post = peer->requests[1];
    QCOMPARE(post.method, QByteArray("POST"));
    QCOMPARE(post.headers.value("content-type"), QByteArray("application/json"));
    QCOMPARE(post.headers.value("content-length"), QByteArray::number(body.size()));
    QCOMPARE(post.body, body);
}

void TestHttpClient::repliesAreHandedBackWhole()
{
    QSignalSpy finished(http, &QtHttpClass::sigReplyFinish);
    QSignalSpy failed(http, &QtHttpClass::sigReplyError);
    const QByteArray big(3 * 1024 * 1024 + 7, 'z');
    peer->enqueue("/r", Reply::json(QByteArray()));
    peer->enqueue("/r", Reply::json(big));
    peer->enqueue("/r", Reply::json(R"({"err_no":3300})", 500));
    peer->enqueue("/r", Reply::json(R"({"error":"invalid_client"})", 401));

    // A refusal leaves its status in the log, and never the query's secret.
    for (const char *status : { "500", "401" })
        QTest::ignoreMessage(QtWarningMsg,
            QRegularExpression(
                QStringLiteral("^request \\d to http://[^ ?]+/r failed: HTTP status ")
                + QLatin1String(status) + QStringLiteral(" network error \\d+ \\w+$")));
    for (int i = 0; i < 4; ++i) {
        http->httpGet(i, peer->baseUrl() + QStringLiteral("/r?client_secret=s3cret"));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count() + failed.count(), i + 1, 5000);
    }
    QCOMPARE(finished.count(), 2);
    QCOMPARE(finished[0][0].toInt(), 0);
    QCOMPARE(finished[0][1].toByteArray(), QByteArray());
    QCOMPARE(finished[1][1].toByteArray(), big);
    QCOMPARE(failed.count(), 2);
    QCOMPARE(failed[0][0].toInt(), 2);
    QCOMPARE(failed[0][1].toByteArray(), QByteArray(R"({"err_no":3300})"));
    QCOMPARE(failed[1][0].toInt(), 3);
    QCOMPARE(failed[1][1].toByteArray(), QByteArray(R"({"error":"invalid_client"})"));
}

void TestHttpClient::longRepliesAreCutOffWhileRead()
{
    QSignalSpy finished(http, &QtHttpClass::sigReplyFinish);
    QSignalSpy failed(http, &QtHttpClass::sigReplyError);
    http->setMaxReplyBytes(64 * 1024);
    peer->enqueue("/r", Reply::json(QByteArray(8 * 1024 * 1024, 'z')));
    peer->enqueue("/r", Reply::json(QByteArray(64 * 1024, 'y')));

    // Handed back as a reply over the limit, with no more of it than shows that.
    http->httpGet(5, peer->baseUrl() + QStringLiteral("/r"));
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 20000);
    QCOMPARE(finished.at(0).at(0).toInt(), 5);
    QCOMPARE(finished.at(0).at(1).toByteArray().size(), 64 * 1024 + 1);
    QCOMPARE(http->outstandingRequests(5), 0);

    // A reply of the limit itself is whole.
    http->httpGet(6, peer->baseUrl() + QStringLiteral("/r"));
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, 20000);
    QCOMPARE(finished.at(1).at(1).toByteArray(), QByteArray(64 * 1024, 'y'));
    QCOMPARE(failed.count(), 0);
}

void TestHttpClient::eachReplyCarriesItsOwnNumber()
{
    QSignalSpy finished(http, &QtHttpClass::sigReplyFinish);
    // The earlier request is answered last, after the later one has gone out.
    peer->enqueue("/slow", Reply::json("slow").after(300));
    peer->enqueue("/fast", Reply::json("fast"));

    http->httpGet(0, peer->baseUrl() + QStringLiteral("/slow"));
    http->httpPost(2, peer->baseUrl() + QStringLiteral("/fast"), "{}");
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, 5000);
    QCOMPARE(finished[0][1].toByteArray(), QByteArray("fast"));
    QCOMPARE(finished[0][0].toInt(), 2);
    QCOMPARE(finished[1][1].toByteArray(), QByteArray("slow"));
    QCOMPARE(finished[1][0].toInt(), 0);
}

void TestHttpClient::nextRequestFromInsideTheSignal()
{
    peer->setFallback("/n", Reply::json("ok"));
    QList<int> seen;
    connect(http, &QtHttpClass::sigReplyFinish, this, [&](int id, const QByteArray &) {
        seen.append(id);
        if (id < 5)
            http->httpPost(id + 1, peer->baseUrl() + QStringLiteral("/n"), "{}");
    });
    http->httpGet(0, peer->baseUrl() + QStringLiteral("/n"));
    QTRY_COMPARE_WITH_TIMEOUT(seen.size(), 6, 5000);
    QCOMPARE(seen, QList<int>({ 0, 1, 2, 3, 4, 5 }));
    QCOMPARE(http->outstandingRequests(5), 0);
}

void TestHttpClient::abortedRequestIsDroppedSilently()
{
    QSignalSpy finished(http, &QtHttpClass::sigReplyFinish);
    QSignalSpy failed(http, &QtHttpClass::sigReplyError);
    peer->enqueue("/a", Reply::json("late").after(200));
    peer->enqueue("/keep", Reply::json("kept").after(200));

    http->httpGet(0, peer->baseUrl() + QStringLiteral("/a"));
    http->httpPost(2, peer->baseUrl() + QStringLiteral("/keep"), "{}");
    QTRY_COMPARE_WITH_TIMEOUT(peer->requests.size(), 2, 5000);
    QCOMPARE(http->outstandingRequests(0), 1);
    http->abortRequests(0);
    QCOMPARE(http->outstandingRequests(0), 0);
    QCOMPARE(http->outstandingRequests(2), 1);

    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 5000);
    // The aborted reply was due at the same time: it must not follow.
    QVERIFY(!QTest::qWaitFor([&] { return finished.count() > 1 || failed.count() > 0; }, 300));
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished[0][0].toInt(), 2);
    QCOMPARE(failed.count(), 0);
}

void TestHttpClient::networkFailuresArriveAsErrors()
{
    QSignalSpy finished(http, &QtHttpClass::sigReplyFinish);
    QSignalSpy failed(http, &QtHttpClass::sigReplyError);

    // A port nobody listens on: take a free one and give it back.
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 closedPort = probe.serverPort();
    probe.close();
    http->httpGet(7, QStringLiteral("http://127.0.0.1:%1/x").arg(closedPort));
    QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 5000);
    QCOMPARE(failed[0][0].toInt(), 7);
    QVERIFY(failed[0][1].toByteArray().isEmpty());

    peer->enqueue("/c", Reply::closing());
    http->httpPost(2, peer->baseUrl() + QStringLiteral("/c"), "{}");
    QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 2, 5000);
    QCOMPARE(failed[1][0].toInt(), 2);
    QCOMPARE(finished.count(), 0);
}

QTEST_GUILESS_MAIN(TestHttpClient)
#include "tst_httpclient.moc"
