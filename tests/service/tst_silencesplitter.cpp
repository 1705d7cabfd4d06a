// The silence splitter: cuts only where the recording is quiet, keeps every
// sample once and in order, and balances the pieces.

#include "requestbodies.h"
#include "service/recognition/silence_splitter.h"

#include <QtTest>

#include <random>

using namespace speech;

namespace {

struct Gap
{
    size_t begin;
    size_t end;
};

// Made-up speech: bursts of a noisy tone ("words") between stretches of low
// noise ("pauses"), with the pauses recorded for checking cuts.
struct Recording
{
    std::vector<int16_t> samples;
    std::vector<Gap> gaps;

    void sound(double seconds, double amplitude, std::mt19937 &rng)
    {
        std::normal_distribution<double> noise(0, amplitude * 0.2);
        const size_t n = static_cast<size_t>(seconds * kSampleRate);
        for (size_t i = 0; i < n; ++i) {
            const double t = double(samples.size()) / kSampleRate;
            samples.push_back(
                static_cast<int16_t>(amplitude * std::sin(2 * M_PI * 220 * t) + noise(rng)));
        }
    }
    void pause(double seconds, double amplitude, std::mt19937 &rng)
    {
        std::normal_distribution<double> noise(0, amplitude);
        const size_t begin = samples.size();
        const size_t n = static_cast<size_t>(seconds * kSampleRate);
        for (size_t i = 0; i < n; ++i)
            samples.push_back(static_cast<int16_t>(noise(rng)));
        gaps.push_back({ begin, samples.size() });
    }
    bool inGap(size_t cut) const
    {
        for (const Gap &g : gaps) {
            if (cut >= g.begin && cut < g.end)
                return true;
        }
        return false;
    }
};

// Sentences of words with short in-word dips, separated by longer pauses.
Recording sentences(unsigned seed, int count, double loudness = 6000, double noise = 30)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> wordLength(0.15, 0.6);
    std::uniform_real_distribution<double> pauseLength(0.3, 0.9);
    std::uniform_int_distribution<int> words(3, 12);
    Recording r;
    r.pause(0.4, noise, rng);
    for (int s = 0; s < count; ++s) {
        const int n = words(rng);
        for (int w = 0; w < n; ++w) {
            r.sound(wordLength(rng), loudness, rng);
            // A stop closure inside a word: quiet, but far shorter than a pause.
            std::normal_distribution<double> dip(0, noise);
            for (int i = 0; i < 1200; ++i)
                r.samples.push_back(static_cast<int16_t>(dip(rng)));
        }
        r.pause(pauseLength(rng), noise, rng);
    }
    return r;
}

void checkPieces(const Recording &r, const std::vector<size_t> &bounds, int parts)
{
    QVERIFY(bounds.size() >= 2);
    QVERIFY(int(bounds.size()) - 1 <= parts);
    QCOMPARE(bounds.front(), size_t(0));
    QCOMPARE(bounds.back(), r.samples.size());
    std::vector<int16_t> joined;
    for (size_t i = 0; i + 1 < bounds.size(); ++i) {
        QVERIFY(bounds[i] < bounds[i + 1]);
        if (i > 0)
            QVERIFY2(r.inGap(bounds[i]),
                qPrintable(QStringLiteral("cut at %1 s is not in a pause")
                               .arg(double(bounds[i]) / kSampleRate)));
        joined.insert(joined.end(), r.samples.begin() + long(bounds[i]),
            r.samples.begin() + long(bounds[i + 1]));
    }
    QVERIFY(joined == r.samples);
}

} // namespace

class SilenceSplitterTest : public QObject
{
    Q_OBJECT

private slots:
    void findsPausesButNotDipsInsideWords();
    void utterancesAreCutOnlyInPauses();
    void piecesCutOnlyInPausesAndKeepEverySample_data();
    void piecesCutOnlyInPausesAndKeepEverySample();
    void piecesAreBalanced();
    void quietRecordingIsCutLikeALoudOne();
    void nothingToCutWithoutContrast();
    void shortAudioStaysWhole();
    void groupingKeepsWholeUtterances();
};

void SilenceSplitterTest::findsPausesButNotDipsInsideWords()
{
    std::mt19937 rng(7);
    Recording r;
    r.sound(1.0, 6000, rng);
    r.pause(0.4, 30, rng);
    r.sound(1.0, 6000, rng);
    r.pause(0.1, 30, rng); // too short to be a pause between words
    r.sound(1.0, 6000, rng);

    const std::vector<SilenceRun> runs = findSilences(r.samples.data(), r.samples.size());
    QCOMPARE(runs.size(), size_t(1));
    // The run lies within the pause, give or take one frame of edge.
    QVERIFY(runs[0].begin + 160 >= r.gaps[0].begin);
    QVERIFY(runs[0].end <= r.gaps[0].end + 160);
    QVERIFY(runs[0].length() >= size_t(0.35 * kSampleRate));
}

void SilenceSplitterTest::utterancesAreCutOnlyInPauses()
{
    const Recording r = sentences(11, 8);
    const std::vector<size_t> bounds = utteranceBounds(r.samples.data(), r.samples.size());
    // Leading and trailing silence are not utterances of their own: one cut
    // per pause between sentences.
    QCOMPARE(bounds.size(), size_t(8 + 1));
    checkPieces(r, bounds, 8);
}

void SilenceSplitterTest::piecesCutOnlyInPausesAndKeepEverySample_data()
{
    QTest::addColumn<unsigned>("seed");
    QTest::addColumn<int>("sentenceCount");
    QTest::addColumn<int>("parts");
    for (int parts : { 1, 2, 3, 4, 8 }) {
        for (unsigned seed : { 1u, 2u, 3u }) {
            QTest::addRow("%d parts, seed %u", parts, seed) << seed << 12 << parts;
        }
    }
    QTest::newRow("more parts than pauses") << 5u << 2 << 6;
}

void SilenceSplitterTest::piecesCutOnlyInPausesAndKeepEverySample()
{
    QFETCH(unsigned, seed);
    QFETCH(int, sentenceCount);
    QFETCH(int, parts);
    const Recording r = sentences(seed, sentenceCount);
    const std::vector<size_t> bounds = splitAtSilences(r.samples.data(), r.samples.size(), parts);
    checkPieces(r, bounds, parts);
    const SplitSettings settings;
    for (size_t i = 0; i + 1 < bounds.size(); ++i)
        QVERIFY(bounds[i + 1] - bounds[i] >= settings.minPartSamples);
    if (parts > 1)
        QVERIFY(bounds.size() > 2); // there were pauses enough to cut at all
}

void SilenceSplitterTest::piecesAreBalanced()
{
    const Recording r = sentences(4, 30);
    const size_t n = r.samples.size();
    for (int parts : { 2, 3 }) {
        const std::vector<size_t> bounds = splitAtSilences(r.samples.data(), n, parts);
        QCOMPARE(int(bounds.size()) - 1, parts);
        // With a pause every few seconds each piece is within 20 % of its share.
        for (size_t i = 0; i + 1 < bounds.size(); ++i) {
            const double share = double(bounds[i + 1] - bounds[i]) / (double(n) / parts);
            QVERIFY2(share > 0.8 && share < 1.2, qPrintable(QString::number(share)));
        }
    }
}

void SilenceSplitterTest::quietRecordingIsCutLikeALoudOne()
{
    const Recording loud = sentences(9, 10, 6000, 30);
    const Recording quiet = sentences(9, 10, 60, 0.3);
    QCOMPARE(quiet.samples.size(), loud.samples.size());
    const std::vector<size_t> a = utteranceBounds(loud.samples.data(), loud.samples.size());
    const std::vector<size_t> b = utteranceBounds(quiet.samples.data(), quiet.samples.size());
    QCOMPARE(b.size(), a.size());
    checkPieces(quiet, b, int(b.size()));
}

void SilenceSplitterTest::nothingToCutWithoutContrast()
{
    const std::vector<int16_t> zeros = testaudio::silence(10);
    QVERIFY(findSilences(zeros.data(), zeros.size()).empty());
    QCOMPARE(
        splitAtSilences(zeros.data(), zeros.size(), 4), (std::vector<size_t> { 0, zeros.size() }));

    const std::vector<int16_t> tone = testaudio::tone(10);
    QCOMPARE(
        splitAtSilences(tone.data(), tone.size(), 4), (std::vector<size_t> { 0, tone.size() }));

    QCOMPARE(utteranceBounds(nullptr, 0), (std::vector<size_t> { 0 }));
}

void SilenceSplitterTest::shortAudioStaysWhole()
{
    // Two sentences of about a second: pieces under 2 s are not worth a decoder.
    std::mt19937 rng(3);
    Recording r;
    r.sound(1.2, 6000, rng);
    r.pause(0.5, 30, rng);
    r.sound(1.2, 6000, rng);
    QCOMPARE(utteranceBounds(r.samples.data(), r.samples.size()).size(), size_t(3));
    QCOMPARE(splitAtSilences(r.samples.data(), r.samples.size(), 2),
        (std::vector<size_t> { 0, r.samples.size() }));
}

void SilenceSplitterTest::groupingKeepsWholeUtterances()
{
    SplitSettings s;
    s.minPartSamples = 10;
    const std::vector<size_t> bounds { 0, 30, 45, 50, 100, 160, 200 };
    QCOMPARE(groupUtterances(bounds, 1, s), (std::vector<size_t> { 0, 200 }));
    QCOMPARE(groupUtterances(bounds, 2, s), (std::vector<size_t> { 0, 100, 200 }));
    QCOMPARE(groupUtterances(bounds, 4, s), (std::vector<size_t> { 0, 50, 100, 160, 200 }));
    // More parts than utterances: a subset of the bounds, every piece long enough.
    const std::vector<size_t> many = groupUtterances(bounds, 20, s);
    QVERIFY(many.size() >= 5);
    QVERIFY(std::includes(bounds.begin(), bounds.end(), many.begin(), many.end()));
    for (size_t i = 0; i + 1 < many.size(); ++i)
        QVERIFY(many[i + 1] - many[i] >= s.minPartSamples);
    QCOMPARE(groupUtterances({ 0, 200 }, 3, s), (std::vector<size_t> { 0, 200 }));
}

QTEST_APPLESS_MAIN(SilenceSplitterTest)
#include "tst_silencesplitter.moc"
