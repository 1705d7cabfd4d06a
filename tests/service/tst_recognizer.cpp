// The real recogniser: PocketSphinx with the US-English model on synthetic
// speech from flite, on silence, and split over several decoders.

#include <QtTest>

#include "requestbodies.h"

#include "service/recognition/audio_input.h"
#include "service/recognition/decoder_pool.h"
#include "service/recognition/live_sessions.h"
#include "service/recognition/pocketsphinx_recognizer.h"

#include "common/speechservice.h"
#include "common/wordrate.h"

using namespace speech;

namespace {

const char *kSentences
    = "The weather was cold this morning, so we stayed inside and talked about the plans for the "
      "new school year. After lunch we walked down to the river and watched the boats move slowly "
      "past the bridge. The children played in the park until the sun went down behind the hills. "
      "My brother wants to study history at the university in the city. Our teacher said that the "
      "best way to learn a language is to speak it every day.";

std::unique_ptr<Recognizer> englishDecoder()
{
    return std::make_unique<PocketSphinxRecognizer>(defaultEnglishModel());
}

} // namespace

class RecognizerTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void recognisesSyntheticSpeech();
    void silenceGivesNoWords();
    void splitDecodingGivesTheSameWords();
    void decoderKeepsNoStateBetweenCalls();
    void liveTextDoesNotDependOnPieces();
    void liveSessionDecodesPiecesWithinItsBounds();
    void searchSettingsReachTheDecoder();
    void missingModelIsReported();

private:
    QTemporaryDir dir;
    std::vector<int16_t> speechSamples;
    std::unique_ptr<DecoderPool> pool; // two decoders
    DecoderPool::Outcome pooled; // the pool's decoding of the whole speech, once
    const DecoderPool::Outcome &pooledOutcome()
    {
        if (pooled.text.empty())
            pooled = pool->recognize(speechSamples.data(), speechSamples.size());
        return pooled;
    }
};

void RecognizerTest::initTestCase()
{
    QVERIFY(dir.isValid());
    const QString textFile = dir.filePath(QStringLiteral("text.txt"));
    QFile f(textFile);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(kSentences);
    f.close();
    const QString wav = dir.filePath(QStringLiteral("speech.wav"));
    QVERIFY2(makeSpeechWav(textFile, wav), "flite or ffmpeg failed");
    QFile w(wav);
    QVERIFY(w.open(QIODevice::ReadOnly));
    const QByteArray bytes = w.readAll();
    const AudioInput audio = readAudio(std::string_view(bytes.constData(), size_t(bytes.size())));
    QVERIFY2(audio.ok, audio.error.c_str());
    QVERIFY(audio.seconds() > 15 && audio.seconds() < 60);
    speechSamples = audio.samples;

    pool = std::make_unique<DecoderPool>(englishDecoder, 2);
}

void RecognizerTest::recognisesSyntheticSpeech()
{
    const DecoderPool::Outcome &out = pooledOutcome();
    const double wer
        = WordRate::errorRate(QString::fromLatin1(kSentences), QString::fromStdString(out.text));
    qInfo("word error rate %.1f %% over %zu piece(s) in %lld ms: %s", 100 * wer, out.pieces,
        out.decodeMs, out.text.c_str());
    // PocketSphinx gets about nine words in ten of this voice right.
    QVERIFY2(wer <= 0.2, out.text.c_str());
    // Lower case words, single blanks, nothing around them.
    QVERIFY(QString::fromStdString(out.text).contains(
        QRegularExpression(QStringLiteral("^[a-z' ]+$"))));
    QVERIFY(out.text.find("  ") == std::string::npos);
    QVERIFY(out.text.front() != ' ' && out.text.back() != ' ');
}

void RecognizerTest::silenceGivesNoWords()
{
    const std::vector<int16_t> zeros = testaudio::silence(5);
    DecoderPool::Outcome out = pool->recognize(zeros.data(), zeros.size());
    QCOMPARE(out.text, std::string());

    // Faint hiss, as from a microphone left open in a quiet room.
    std::vector<int16_t> hiss(5 * kSampleRate);
    uint32_t x = 1;
    for (int16_t &s : hiss) {
        x = x * 1664525u + 1013904223u;
        s = static_cast<int16_t>(int(x >> 24) - 128) / 16;
    }
    out = pool->recognize(hiss.data(), hiss.size());
    QCOMPARE(out.text, std::string());
}

void RecognizerTest::splitDecodingGivesTheSameWords()
{
    DecoderPool single(englishDecoder, 1);
    const DecoderPool::Outcome whole = single.recognize(speechSamples.data(), speechSamples.size());
    QCOMPARE(whole.pieces, size_t(1));

    const DecoderPool::Outcome &split = pooledOutcome();
    QCOMPARE(split.pieces, size_t(2));
    QVERIFY(!whole.text.empty());
    QCOMPARE(WordRate::words(QString::fromStdString(split.text)),
        WordRate::words(QString::fromStdString(whole.text)));
    qInfo("one decoder %lld ms, two decoders %lld ms", whole.decodeMs, split.decodeMs);
}

void RecognizerTest::decoderKeepsNoStateBetweenCalls()
{
    PocketSphinxRecognizer decoder(defaultEnglishModel());
    // A short clip is the most sensitive to what the front end carries over.
    const size_t n = std::min<size_t>(speechSamples.size(), 3 * kSampleRate);
    const std::string first = decoder.recognize(speechSamples.data(), n);
    QVERIFY(!first.empty());
    // Loud noise in between, as another client might send, then the same audio again.
    std::vector<int16_t> noise(5 * kSampleRate);
    uint32_t x = 1;
    for (int16_t &s : noise) {
        x = x * 1664525u + 1013904223u;
        s = static_cast<int16_t>(int(x >> 16) % 20001 - 10000);
    }
    decoder.recognize(noise.data(), noise.size());
    QCOMPARE(decoder.recognize(speechSamples.data(), n), first);
    // A live stream switches the front end to a running mean; a whole request after it must
    // not inherit that, nor the mean the stream left.
    std::vector<float> mean;
    QVERIFY(decoder.beginStream(mean));
    decoder.continueStream(noise.data(), noise.size() / 2);
    decoder.continueStream(noise.data() + noise.size() / 2, noise.size() / 2);
    decoder.endStream(mean);
    QVERIFY(!mean.empty());
    QCOMPARE(decoder.recognize(speechSamples.data(), n), first);
    QVERIFY(decoder.beginStream(mean));
    decoder.continueStream(noise.data(), noise.size());
    decoder.abandonStream();
    QCOMPARE(decoder.recognize(speechSamples.data(), n), first);
}

void RecognizerTest::liveTextDoesNotDependOnPieces()
{
    // A live client's pieces grow when the service falls behind the speech; the text must not
    // change with them.
    PocketSphinxRecognizer decoder(defaultEnglishModel());
    const auto live = [&](const std::vector<size_t> &sizes) {
        std::vector<float> mean; // the model's own each time
        decoder.beginStream(mean);
        for (size_t at = 0, i = 0; at < speechSamples.size(); ++i) {
            const size_t n = std::min(sizes[i % sizes.size()], speechSamples.size() - at);
            decoder.continueStream(speechSamples.data() + at, n);
            at += n;
        }
        return decoder.endStream(mean).text;
    };
    const std::string even = live({ kSampleRate / 5 });
    QVERIFY(!even.empty());
    QCOMPARE(live({ 1234, 7 * kSampleRate, 321, kSampleRate + 17 }), even);
    QCOMPARE(live({ speechSamples.size() }), even);
    // Nor with the utterances the decoder decoded whole before, which size its frame buffers:
    // after 0.1 s the search lost frames, after 6 s long pieces overran them.
    for (const size_t whole : { kSampleRate / 10, 6 * kSampleRate }) {
        decoder.recognize(speechSamples.data() + 2 * kSampleRate, whole);
        QCOMPARE(live({ 4 * kSampleRate }), even);
    }

    // The mean carried from an utterance said much more softly (the microphone turned down)
    // must not spoil a short one after it: it is to come out as its whole request does.
    const size_t n = 4 * kSampleRate;
    std::vector<int16_t> soft(speechSamples.begin() + n, speechSamples.end());
    for (int16_t &s : soft)
        s = int16_t(s / 20);
    std::vector<float> mean;
    decoder.beginStream(mean);
    decoder.continueStream(soft.data(), soft.size());
    decoder.endStream(mean);
    decoder.beginStream(mean);
    for (size_t at = 0; at < n; at += kSampleRate / 5)
        decoder.continueStream(speechSamples.data() + at, kSampleRate / 5);
    const QString after = QString::fromStdString(decoder.endStream(mean).text);
    const QString whole = QString::fromStdString(decoder.recognize(speechSamples.data(), n));
    qInfo("whole: %s\nafter soft speech: %s", qPrintable(whole), qPrintable(after));
    QVERIFY2(WordRate::errorRate(whole, after) <= 0.3, qPrintable(after));
}

void RecognizerTest::liveSessionDecodesPiecesWithinItsBounds()
{
    auto one = std::make_shared<DecoderPool>(englishDecoder, 1);
    LiveLimits limits;
    limits.maxSessions = 1;
    limits.utteranceIdle = std::chrono::milliseconds(300);
    limits.sessionIdle = std::chrono::milliseconds(600);
    limits.maxUtteranceSamples = speechSamples.size();
    LiveSessions sessions(limits);
    using Status = LiveSessions::Status;

    // The speech in 200 ms pieces, twice in one session (the second starts from the mean the
    // first left): both as good as the whole request, and the decoder back in the pool.
    const size_t piece = kSampleRate / 5;
    std::string id;
    for (int round = 0; round < 2; ++round) {
        LiveSessions::Result r;
        for (size_t at = 0; at < speechSamples.size(); at += piece) {
            const size_t n = std::min(piece, speechSamples.size() - at);
            r = sessions.append(
                id, "me", one, at, speechSamples.data() + at, n, at + n == speechSamples.size());
            QVERIFY2(r.status == Status::Ok, r.message.c_str());
            id = r.session;
        }
        QVERIFY(r.ended);
        const QString reference = QString::fromLatin1(kSentences);
        const double whole
            = WordRate::errorRate(reference, QString::fromStdString(pooledOutcome().text));
        QVERIFY2(
            WordRate::errorRate(reference, QString::fromStdString(r.timed.text)) <= whole + 0.05,
            r.timed.text.c_str());
        QVERIFY(!r.timed.words.empty() && r.timed.words.back().end <= speechSamples.size());
        QCOMPARE(one->freeCount(), size_t(1));
    }

    const int16_t *s = speechSamples.data();
    QCOMPARE(sessions.append("", "me", one, 0, s, piece, false).status, Status::Full);
    QCOMPARE(sessions.append(id, "someone else", one, 0, s, piece, false).status, Status::Unknown);
    QCOMPARE(sessions.append(id, "me", one, 0, s, piece, false).status, Status::Ok);
    QCOMPARE(sessions.append(id, "me", one, 3 * piece, s, piece, false).status, Status::BadOffset);
    QCOMPARE(sessions.append(id, "me", one, piece, s, speechSamples.size(), false).status,
        Status::TooLong);
    QCOMPARE(one->freeCount(), size_t(1));
    // A client that goes away mid-utterance: its decoder is freed, then its session forgotten.
    QCOMPARE(sessions.append(id, "me", one, 0, s, piece, false).status, Status::Ok);
    QCOMPARE(one->freeCount(), size_t(0));
    QTRY_COMPARE_WITH_TIMEOUT(one->freeCount(), size_t(1), 30000);
    QTRY_COMPARE_WITH_TIMEOUT(sessions.sessionCount(), size_t(0), 30000);
    QCOMPARE(sessions.append(id, "me", one, 0, s, piece, true).status, Status::Unknown);
}

void RecognizerTest::searchSettingsReachTheDecoder()
{
    // The narrowest limits the options accept, which no real search can work within: one word
    // and a hundred HMMs per frame, the narrowest beams. Such a decoder must lose most of the
    // words the default one finds, and must not crash.
    SearchSettings starved = fastSearch();
    starved.maxHmmsPerFrame = 100;
    starved.maxWordsPerFrame = 1;
    starved.beam = starved.wordBeam = starved.phoneBeam = 1e-15;
    const size_t n = std::min<size_t>(speechSamples.size(), 8 * kSampleRate);
    const std::string usual
        = PocketSphinxRecognizer(defaultEnglishModel()).recognize(speechSamples.data(), n);
    const std::string narrow
        = PocketSphinxRecognizer(defaultEnglishModel(), starved).recognize(speechSamples.data(), n);
    qInfo("default: %s\nstarved: %s", usual.c_str(), narrow.c_str());
    QVERIFY(WordRate::words(QString::fromStdString(usual)).size() >= 10);
    QVERIFY2(
        WordRate::errorRate(QString::fromStdString(usual), QString::fromStdString(narrow)) >= 0.5,
        narrow.c_str());
}

void RecognizerTest::missingModelIsReported()
{
    ModelFiles files = defaultEnglishModel();
    files.languageModel = dir.filePath(QStringLiteral("no-such.lm.bin")).toStdString();
    try {
        PocketSphinxRecognizer decoder(files);
        QFAIL("a decoder without its language model was built");
    } catch (const std::runtime_error &e) {
        QVERIFY2(std::string(e.what()).find("no-such.lm.bin") != std::string::npos, e.what());
    }
}

QTEST_GUILESS_MAIN(RecognizerTest)
#include "tst_recognizer.moc"
