// Where live speech is cut: generated audio with known pauses, run frame by frame through the
// rule as the live transcriber runs it.
#include <QtTest>

#include <cmath>
#include <random>
#include <vector>

#include "core/endpoint.h"

namespace {

constexpr int Rate = 16000;

// Builds a signal from pieces: a voiced stretch (a tone with a syllable rhythm), or a pause
// (room noise at the given level).
struct Signal
{
    std::vector<qint16> samples;
    std::mt19937 random { 7 };
    double noiseAmplitude = 0;
    double clipGain = 1.0;

    void voice(double seconds, double amplitude = 8000)
    {
        const int n = int(seconds * Rate);
        std::normal_distribution<double> noise(0, std::max(noiseAmplitude, 1e-9));
        for (int i = 0; i < n; ++i) {
            const double t = double(i) / Rate;
            // 4 syllables a second that never fall silent: a pause must come from silence.
            const double envelope = 0.6 + 0.4 * std::sin(2 * M_PI * 4 * t);
            double v = clipGain * amplitude * envelope
                    * (std::sin(2 * M_PI * 180 * t) + 0.5 * std::sin(2 * M_PI * 720 * t))
                + noise(random);
            samples.push_back(qint16(std::clamp(v, -32768.0, 32767.0)));
        }
    }
    void pause(double seconds)
    {
        const int n = int(seconds * Rate);
        std::normal_distribution<double> noise(0, std::max(noiseAmplitude, 1e-9));
        for (int i = 0; i < n; ++i)
            samples.push_back(qint16(std::clamp(noise(random), -32768.0, 32767.0)));
    }
};

// Utterances in seconds, the last one closed by the end of the stream.
QVector<QPair<double, double>> cuts(const std::vector<qint16> &samples)
{
    const Endpoint::Settings settings;
    Endpoint::State state;
    QVector<QPair<double, double>> out;
    const double frameSeconds = double(settings.frameSamples) / Rate;
    const auto take = [&](const Endpoint::Cut &cut) {
        if (cut.valid)
            out.append({ cut.start * frameSeconds, cut.end * frameSeconds });
    };
    for (size_t at = 0; at + settings.frameSamples <= samples.size(); at += settings.frameSamples) {
        const double level = Endpoint::levelDb(samples.data() + at, settings.frameSamples);
        const Endpoint::Step next = Endpoint::step(state, level, settings);
        state = next.state;
        take(next.cut);
    }
    take(Endpoint::finish(state));
    return out;
}

} // namespace

class EndpointTest : public QObject
{
    Q_OBJECT

private slots:
    void cutsAtPausesOnly_data();
    void cutsAtPausesOnly();
    void longUtteranceIsCutWithinTheLimit();
    void silenceGivesNothing();
};

void EndpointTest::cutsAtPausesOnly_data()
{
    QTest::addColumn<double>("noise");
    QTest::addColumn<double>("gain");
    QTest::newRow("digital silence between") << 0.0 << 1.0;
    QTest::newRow("room noise between") << 30.0 << 1.0;
    // A speaker too close to the microphone: every voiced sample at full scale.
    QTest::newRow("clipped speech, noisy room") << 120.0 << 20.0;
}

void EndpointTest::cutsAtPausesOnly()
{
    QFETCH(double, noise);
    QFETCH(double, gain);
    Signal signal;
    signal.noiseAmplitude = noise;
    signal.clipGain = gain;
    signal.pause(1.0);
    signal.voice(1.5); // 1.0-2.5
    signal.pause(0.25); // too short to cut: a breath inside the utterance
    signal.voice(1.0); // 2.75-3.75
    signal.pause(1.2);
    signal.voice(2.0); // 4.95-6.95
    signal.pause(1.0);

    const QVector<QPair<double, double>> got = cuts(signal.samples);
    QCOMPARE(got.size(), 2);
    // Each holds its voice whole (a little preroll before, the hangover after), and the cut
    // lies in the long pause.
    QVERIFY2(got[0].first <= 1.0 && got[0].first >= 0.7, qPrintable(QString::number(got[0].first)));
    QVERIFY(got[0].second >= 3.75 && got[0].second <= 4.95);
    QVERIFY(got[1].first >= got[0].second && got[1].first <= 4.95);
    QVERIFY(got[1].second >= 6.95 && got[1].second <= 7.95);
}

void EndpointTest::longUtteranceIsCutWithinTheLimit()
{
    Signal signal;
    signal.noiseAmplitude = 30;
    signal.pause(0.5);
    signal.voice(20.0);
    signal.pause(1.0);

    const QVector<QPair<double, double>> got = cuts(signal.samples);
    QCOMPARE(got.size(), 2);
    for (const auto &cut : got)
        QVERIFY2(cut.second - cut.first <= 15.0 + 1e-9,
            qPrintable(QString::number(cut.second - cut.first)));
    // No audio between them is lost, and the first is cut late, not in its first seconds.
    QCOMPARE(got[1].first, got[0].second);
    QVERIFY(got[0].second - got[0].first >= 12.0);
    QVERIFY(got[1].second >= 20.5);
}

void EndpointTest::silenceGivesNothing()
{
    for (const double noise : { 0.0, 30.0, 300.0 }) {
        Signal signal;
        signal.noiseAmplitude = noise;
        signal.pause(30.0);
        QVERIFY2(cuts(signal.samples).isEmpty(), qPrintable(QString::number(noise)));
    }
    // A room that gets louder (a fan switched on) is learnt as its new floor within seconds.
    Signal signal;
    signal.noiseAmplitude = 30;
    signal.pause(5.0);
    signal.noiseAmplitude = 600;
    signal.pause(40.0);
    const QVector<QPair<double, double>> got = cuts(signal.samples);
    QVERIFY(got.size() <= 2);
    for (const auto &cut : got)
        QVERIFY(cut.second <= 30.0);
}

QTEST_APPLESS_MAIN(EndpointTest)
#include "tst_endpoint.moc"
