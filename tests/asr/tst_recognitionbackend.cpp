// Recognition behind one interface: both protocols against the real local service, and the
// segment uploader's back-off and time limit against a scripted peer of each protocol.
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

#include "asr/httprequestids.h"
#include "asr/qthttpclass.h"
#include "asr/recognitionbackend.h"
#include "asr/recognitionrequest.h"
#include "asr/segmentuploader.h"
#include "asr/tokenreply.h"
#include "asr/transcriptionsapi.h"
#include "common/scriptedhttppeer.h"
#include "common/speechservice.h"
#include "common/testtime.h"

using Kind = JobSettings::ServiceKind;
using Reply = ScriptedHttpPeer::Reply;
Q_DECLARE_METATYPE(JobSettings::ServiceKind)
Q_DECLARE_METATYPE(ScriptedHttpPeer::Reply)

class TestRecognitionBackend : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void bothProtocolsRecogniseSpeech_data();
    void bothProtocolsRecogniseSpeech();
    void busyIsWaitedForAndSilenceTimesOut_data();
    void busyIsWaitedForAndSilenceTimesOut();

private:
    QTemporaryDir dir;
    QString speech;
};

void TestRecognitionBackend::initTestCase()
{
    qRegisterMetaType<RecognitionReply>();
    qRegisterMetaType<JobFailure>();
    QVERIFY(dir.isValid());
    const QString text = dir.filePath(QStringLiteral("sentence.txt"));
    QFile file(text);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("The weather was cold this morning, so we stayed inside.\n");
    file.close();
    speech = dir.filePath(QStringLiteral("speech.wav"));
    QVERIFY(makeSpeechWav(text, speech));
}

void TestRecognitionBackend::bothProtocolsRecogniseSpeech_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::newRow("token protocol") << Kind::Token;
    QTest::newRow("transcription API") << Kind::Transcriptions;
}

// The same segment, the same settings: each protocol asks what it needs and reads the words.
void TestRecognitionBackend::bothProtocolsRecogniseSpeech()
{
    QFETCH(Kind, kind);
    SpeechServiceProcess service({ QStringLiteral("--client-id"), QStringLiteral("desk"),
        QStringLiteral("--client-secret"), QStringLiteral("desk-secret") });
    QVERIFY2(service.start(), qPrintable(service.logText()));
    JobSettings settings;
    settings.serviceBaseUrl = service.baseUrl();
    settings.language = QStringLiteral("英文");
    settings.serviceClientId = QStringLiteral("desk");
    settings.serviceSecret = QStringLiteral("desk-secret");
    settings.recognitionTimeoutMs = scaledMs(120000);

    QtHttpClass http;
    RecognitionBackends backends(&http);
    RecognitionBackend *backend = backends.forKind(kind);
    QCOMPARE(backend->isAuthenticated(), kind == Kind::Transcriptions);
    if (!backend->isAuthenticated()) {
        QSignalSpy authenticated(backend, &RecognitionBackend::authenticated);
        QSignalSpy refused(backend, &RecognitionBackend::authenticationFailed);
        backend->authenticate(settings);
        QTRY_VERIFY_WITH_TIMEOUT(!authenticated.isEmpty() || !refused.isEmpty(), scaledMs(30000));
        QVERIFY(refused.isEmpty());
        QVERIFY(backend->isAuthenticated());
    }
    SegmentUploader uploader;
    QSignalSpy replied(&uploader, &SegmentUploader::replied);
    QSignalSpy failed(&uploader, &SegmentUploader::failed);
    uploader.send(backend, speech, settings);
    QTRY_VERIFY_WITH_TIMEOUT(!replied.isEmpty() || !failed.isEmpty(), scaledMs(120000));
    QVERIFY(failed.isEmpty());
    const auto reply = replied.first().first().value<RecognitionReply>();
    QCOMPARE(reply.kind, RecognitionReply::Text);
    QVERIFY2(reply.text.contains(QStringLiteral("weather")), qPrintable(reply.text));
    QVERIFY(!uploader.isWaitingForReply());
}

void TestRecognitionBackend::busyIsWaitedForAndSilenceTimesOut_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<Reply>("busy");
    QTest::addColumn<Reply>("text");
    QTest::newRow("token protocol")
        << Kind::Token << Reply::json(R"({"err_no":3304,"err_msg":"busy"})")
        << Reply::json(R"({"err_no":0,"result":["hello there"]})");
    QTest::newRow("transcription API")
        << Kind::Transcriptions
        << Reply::json(R"({"error":{"message":"busy"}})", 429).withHeader("Retry-After", "2")
        << Reply::json(R"({"text":"hello there"})");
}

// A busy answer starts the back-off, the same segment goes again once it is over, and a
// service that then says nothing ends in "no answer" once the limit has run.
void TestRecognitionBackend::busyIsWaitedForAndSilenceTimesOut()
{
    QFETCH(Kind, kind);
    QFETCH(Reply, busy);
    QFETCH(Reply, text);
    ScriptedHttpPeer peer;
    QVERIFY(peer.start());
    const QByteArray path = QUrl(kind == Kind::Token ? recognitionUrl(peer.baseUrl())
                                                     : TranscriptionsApi::url(peer.baseUrl()))
                                .path()
                                .toUtf8();
    peer.enqueue(path, busy);
    peer.enqueue(path, text);
    peer.setFallback(path, Reply::silent());
    JobSettings settings;
    settings.serviceBaseUrl = peer.baseUrl();
    settings.language = QStringLiteral("英文");
    settings.backoffScale = 0.01;
    // Answers that come are never cut off, however slow the build or the machine; only the
    // silent service meets the short limit below.
    settings.recognitionTimeoutMs = scaledMs(30000);

    QtHttpClass http;
    RecognitionBackends backends(&http);
    backends.keepToken(QStringLiteral("t"));
    RecognitionBackend *backend = backends.forKind(kind);
    SegmentUploader uploader;
    QSignalSpy backingOff(&uploader, &SegmentUploader::backingOff);
    QSignalSpy replied(&uploader, &SegmentUploader::replied);
    QSignalSpy failed(&uploader, &SegmentUploader::failed);
    connect(&uploader, &SegmentUploader::retryDue, this,
        [&] { uploader.send(backend, speech, settings); });
    uploader.send(backend, speech, settings);
    QTRY_COMPARE_WITH_TIMEOUT(replied.size() + failed.size(), 1, scaledMs(30000));
    QCOMPARE(backingOff.size(), 1);
    const int seconds = backingOff.first().at(1).toInt();
    QVERIFY2(kind == Kind::Token ? seconds >= 1 && seconds <= 10 : seconds == 2,
        qPrintable(QString::number(seconds)));
    QCOMPARE(failed.size(), 0);
    QCOMPARE(replied.first().first().value<RecognitionReply>().text, QStringLiteral("hello there"));
    const QList<ScriptedHttpPeer::Request> sent = peer.requestsTo(path);
    QCOMPARE(sent.size(), 2);
    QCOMPARE(sent.at(1).body.size(), sent.at(0).body.size());

    settings.recognitionTimeoutMs = 300;
    uploader.send(backend, speech, settings);
    QTRY_COMPARE_WITH_TIMEOUT(failed.size(), 1, scaledMs(30000));
    QCOMPARE(failed.first().first().value<JobFailure>().kind, JobFailure::Kind::NoAnswer);
    QCOMPARE(http.outstandingRequests(HttpRequestIds::Recognition)
            + http.outstandingRequests(HttpRequestIds::Transcriptions),
        0);
    QCOMPARE(replied.size(), 1);
}

QTEST_GUILESS_MAIN(TestRecognitionBackend)
#include "tst_recognitionbackend.moc"
