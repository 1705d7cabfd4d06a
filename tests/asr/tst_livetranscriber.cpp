// Live transcription: the recorder's ffmpeg reading spoken sentences at real-time speed into the
// real local service, a scripted peer that answers out of order, a service that is killed and
// started again, and a stop in the middle of an utterance.
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "asr/livetranscriber.h"
#include "audio/recorder.h"
#include "audio/wavinfo.h"
#include "common/paddedspeech.h"
#include "common/scriptedhttppeer.h"
#include "common/speechservice.h"
#include "common/wordrate.h"

using Reply = ScriptedHttpPeer::Reply;

namespace {

const QStringList Sentences = {
    QStringLiteral("The weather was cold this morning, so we stayed inside."),
    QStringLiteral("My brother wants to study history at the university."),
    QStringLiteral("Our teacher said that the best way to learn a language is to speak it."),
};

Reply textReply(const QString &text, int delayMs = 0)
{
    return Reply::json(
        R"({"err_no":0,"err_msg":"success.","sn":"1","result":[")" + text.toUtf8() + "\"]}")
        .after(delayMs);
}

// A tone with a syllable rhythm for the given seconds, then silence: one utterance each.
QByteArray voicedThenSilent(double voiced, double silent)
{
    QByteArray pcm;
    const int n = int(voiced * 16000);
    for (int i = 0; i < n; ++i) {
        const double t = i / 16000.0;
        const qint16 v = qint16(
            8000 * (0.6 + 0.4 * std::sin(2 * M_PI * 4 * t)) * std::sin(2 * M_PI * 200 * t));
        pcm.append(reinterpret_cast<const char *>(&v), 2);
    }
    return pcm + QByteArray(int(silent * 16000) * 2, '\0');
}

} // namespace

class LiveTranscriberTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void recordsAndRecognisesUntilStoppedMidUtterance();
    void deliversInTheOrderSaidAndMarksGaps();
    void resumesWhenTheServiceIsBack();
    void streamsPiecesInOrderAndFallsBackWhole();

private:
    LiveSettings settingsFor(const QString &url) const;
    QTemporaryDir dir;
    QString speech;
};

void LiveTranscriberTest::initTestCase()
{
    QVERIFY(dir.isValid());
    speech = dir.filePath(QStringLiteral("speech.wav"));
    // Each sentence, then silence to the next 6 s mark: pauses the rule must cut at.
    QVERIFY(makePaddedSpeech(speech, Sentences, 6));
}

LiveSettings LiveTranscriberTest::settingsFor(const QString &url) const
{
    LiveSettings settings;
    settings.service.serviceBaseUrl = url;
    settings.service.language = QStringLiteral("英文");
    settings.service.clientId = QStringLiteral("8-0-27-aa-bb-1");
    settings.service.backoffScale = 0.2;
    return settings;
}

void LiveTranscriberTest::recordsAndRecognisesUntilStoppedMidUtterance()
{
    SpeechServiceProcess service;
    QVERIFY2(service.start(), qPrintable(service.logText()));
    LiveTranscriber live;
    live.setSettings(settingsFor(service.baseUrl()));
    QVector<TimedUtterance> texts;
    connect(&live, &LiveTranscriber::recognised, this,
        [&](const TimedUtterance &text) { texts << text; });
    QSignalSpy finished(&live, &LiveTranscriber::finished);
    QSignalSpy gaps(&live, &LiveTranscriber::gapMarked);

    Recorder recorder;
    recorder.setCaptureInputOverride({ QStringLiteral("-i"), speech });
    recorder.setLiveSamples(true);
    connect(&recorder, &Recorder::samples, &live, &LiveTranscriber::feed);
    live.start();
    const QString file
        = recorder.start(dir.path(), QString(), [](const QString &) { return false; });

    // Stopped while the third sentence is being said (it starts at 12 s).
    QTRY_VERIFY_WITH_TIMEOUT(live.audioMs() >= 13500, 60000);
    const qint64 stoppedAt = live.audioMs();
    QVERIFY(recorder.finish());
    live.finish();
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 60000);

    QCOMPARE(gaps.size(), 0);
    QCOMPARE(texts.size(), 3);
    for (int k = 0; k < 2; ++k) {
        const double wer = WordRate::errorRate(Sentences[k], texts[k].text);
        QVERIFY2(wer < 0.35, qPrintable(texts[k].text));
        QVERIFY(texts[k].startMs >= k * 6000 - 300 && texts[k].endMs <= (k + 1) * 6000);
    }
    // The cut-off sentence's first words are not dropped, and end where the recording did.
    QVERIFY2(texts[2].text.startsWith(QLatin1String("our")), qPrintable(texts[2].text));
    QVERIFY(texts[2].startMs >= 11700 && texts[2].endMs >= stoppedAt);
    // The recording is the capture whole, as without live text.
    const WavInfo recorded = WavInfo::fromFile(file);
    QVERIFY(recorded.isPcm16kMono());
    QVERIFY(qAbs(recorded.frames() / 16 - texts[2].endMs) < 1000);
}

void LiveTranscriberTest::deliversInTheOrderSaidAndMarksGaps()
{
    ScriptedHttpPeer peer;
    QVERIFY(peer.start());
    peer.setFallback("/oauth/2.0/token", Reply::json(R"({"access_token":"24.tok",
        "session_key":"sk","refresh_token":"rt","session_secret":"ss","expires_in":2592000})"));
    // The first answer comes last.
    peer.enqueue("/server_api", textReply(QStringLiteral("one"), 1500));
    peer.enqueue("/server_api", textReply(QStringLiteral("two")));
    // Then the service is gone until the backlog overflows: the oldest waiting are given up.
    peer.setFallback("/server_api", Reply::closing());

    LiveSettings settings = settingsFor(peer.baseUrl());
    settings.maxBacklogMs = 3000;
    settings.finishGiveUpMs = 2000;
    LiveTranscriber live;
    live.setSettings(settings);
    QStringList shown;
    connect(&live, &LiveTranscriber::recognised, this,
        [&](const TimedUtterance &text) { shown << text.text; });
    connect(&live, &LiveTranscriber::gapMarked, this,
        [&](qint64 from, qint64 to) { shown << LiveTranscriber::gapText(from, to); });
    QSignalSpy finished(&live, &LiveTranscriber::finished);
    QSignalSpy trouble(&live, &LiveTranscriber::serviceTrouble);
    live.start();
    // The second is cut once the first has reached the peer, which answers in arrival order:
    // two connections may otherwise bring them in either order.
    live.feed(voicedThenSilent(1.0, 1.0));
    QTRY_COMPARE_WITH_TIMEOUT(peer.requestsTo("/server_api").size(), 1, 30000);
    live.feed(voicedThenSilent(1.0, 1.0));
    QTRY_COMPARE_WITH_TIMEOUT(peer.requestsTo("/server_api").size(), 2, 30000);
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 2, 30000);
    QCOMPARE(shown, QStringList({ QStringLiteral("one"), QStringLiteral("two") }));

    // Four more of 1.5 s each at 4 s onwards: the first ones past the 3 s bound are given up.
    for (int k = 0; k < 4; ++k)
        live.feed(voicedThenSilent(1.5, 1.0));
    QTRY_VERIFY_WITH_TIMEOUT(trouble.size() == 1, 30000);
    live.finish();
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 30000);
    // One mark for the whole stretch, in recording time; nothing after it was recognised.
    QCOMPARE(shown.size(), 3);
    QVERIFY2(shown[2].startsWith(QStringLiteral("[未识别 00:00:03–00:00:1")), qPrintable(shown[2]));
}

void LiveTranscriberTest::resumesWhenTheServiceIsBack()
{
    SpeechServiceProcess service;
    QVERIFY2(service.start(), qPrintable(service.logText()));
    const int port = service.port();
    LiveTranscriber live;
    live.setSettings(settingsFor(service.baseUrl()));
    QStringList texts;
    connect(&live, &LiveTranscriber::recognised, this,
        [&](const TimedUtterance &text) { texts << text.text; });
    QSignalSpy back(&live, &LiveTranscriber::serviceBack);
    QSignalSpy trouble(&live, &LiveTranscriber::serviceTrouble);
    QSignalSpy finished(&live, &LiveTranscriber::finished);
    QSignalSpy gaps(&live, &LiveTranscriber::gapMarked);

    Recorder recorder;
    recorder.setCaptureInputOverride({ QStringLiteral("-i"), speech });
    recorder.setLiveSamples(true);
    connect(&recorder, &Recorder::samples, &live, &LiveTranscriber::feed);
    live.start();
    recorder.start(dir.path(), QString(), [](const QString &) { return false; });
    QTRY_COMPARE_WITH_TIMEOUT(texts.size(), 1, 60000);
    // Killed while the second sentence is said, started again on the same port after it.
    service.kill();
    QTRY_COMPARE_WITH_TIMEOUT(trouble.size(), 1, 60000);
    QVERIFY2(service.start(port), qPrintable(service.logText()));
    QTRY_VERIFY_WITH_TIMEOUT(!recorder.isRecording(), 60000);
    recorder.finish();
    live.finish();
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 120000);
    QCOMPARE(gaps.size(), 0);
    QCOMPARE(back.size(), 1);
    QCOMPARE(texts.size(), 3);
    QVERIFY2(WordRate::errorRate(Sentences[1], texts[1]) < 0.35, qPrintable(texts[1]));
}

void LiveTranscriberTest::streamsPiecesInOrderAndFallsBackWhole()
{
    ScriptedHttpPeer peer;
    QVERIFY(peer.start());
    peer.setFallback("/oauth/2.0/token", Reply::json(R"({"access_token":"24.tok",
        "session_key":"sk","refresh_token":"rt","session_secret":"ss","expires_in":2592000})"));
    // The live route as the service keeps it: each piece must follow the one before, in the
    // session it named; the second utterance's last piece finds the service gone.
    qint64 expected = 0;
    int ends = 0;
    QStringList problems;
    peer.setHandler("/server_api/live", [&](const ScriptedHttpPeer::Request &request) {
        const QJsonObject piece = QJsonDocument::fromJson(request.body).object();
        const qint64 offset = piece.value(QStringLiteral("live_offset")).toVariant().toLongLong();
        const qint64 samples
            = (QByteArray::fromBase64(piece.value(QStringLiteral("speech")).toString().toLatin1())
                      .size()
                  - 44)
            / 2;
        const bool last = piece.value(QStringLiteral("live_end")).toInt() == 1;
        // The client's network layer sends a request again once when its connection closes.
        if (last && ends >= 1)
            return Reply::closing();
        if (offset != expected)
            problems << QStringLiteral("offset %1, not %2").arg(offset).arg(expected);
        if (expected > 0
            && piece.value(QStringLiteral("live_session")).toString() != QLatin1String("s1"))
            problems << QStringLiteral("no session");
        expected = last ? 0 : offset + samples;
        ends += last ? 1 : 0;
        return Reply::json(R"({"err_no":0,"err_msg":"success.","sn":"1","live_session":"s1",
            "result":[)"
            + QByteArray(last ? "\"streamed\"" : "") + "]}");
    });
    peer.setFallback("/server_api", textReply(QStringLiteral("whole")));

    LiveTranscriber live;
    live.setSettings(settingsFor(peer.baseUrl()));
    QStringList texts;
    connect(&live, &LiveTranscriber::recognised, this,
        [&](const TimedUtterance &text) { texts << text.text; });
    QSignalSpy finished(&live, &LiveTranscriber::finished);
    live.start();
    // Fed in three parts, each once the peer has answered a piece of the one before: several
    // pieces, whatever the timing.
    const QByteArray first = voicedThenSilent(2.0, 1.0);
    const int third = first.size() / 3 / 640 * 640;
    for (int part = 0; part < 3; ++part) {
        const int before = peer.repliesSent("/server_api/live");
        live.feed(first.mid(part * third, part < 2 ? third : -1));
        QTRY_VERIFY_WITH_TIMEOUT(peer.repliesSent("/server_api/live") > before, 30000);
    }
    QTRY_COMPARE_WITH_TIMEOUT(texts.size(), 1, 30000);
    live.feed(voicedThenSilent(2.0, 1.0));
    live.finish();
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 30000);
    QCOMPARE(texts, QStringList({ QStringLiteral("streamed"), QStringLiteral("whole") }));
    QCOMPARE(peer.requestsTo("/server_api").size(), 1);
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QStringLiteral("; "))));
}

QTEST_MAIN(LiveTranscriberTest)
#include "tst_livetranscriber.moc"
