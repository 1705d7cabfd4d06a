#include "silence_splitter.h"

#include <algorithm>
#include <cmath>

namespace speech {

namespace {

// Below this spread between quiet and loud frames nothing can be told apart.
constexpr double kMinContrastDb = 12.0;
// Where between noise floor and speech level the quiet threshold lies.
constexpr double kThresholdPosition = 0.25;

double frameLevelDb(const int16_t *p, size_t n)
{
    double sum = 0;
    for (size_t i = 0; i < n; ++i)
        sum += double(p[i]) * double(p[i]);
    return 10.0 * std::log10(sum / double(n) + 1.0);
}

double percentile(std::vector<double> values, double q)
{
    const size_t k = std::min(values.size() - 1, static_cast<size_t>(q * double(values.size())));
    std::nth_element(values.begin(), values.begin() + static_cast<long>(k), values.end());
    return values[k];
}

} // namespace

std::vector<SilenceRun> findSilences(const int16_t *samples, size_t count,
                                     const SplitSettings &settings)
{
    std::vector<SilenceRun> runs;
    const size_t frame = std::max<size_t>(1, settings.frameSamples);
    const size_t frames = count / frame;
    if (frames == 0)
        return runs;

    std::vector<double> level(frames);
    for (size_t f = 0; f < frames; ++f)
        level[f] = frameLevelDb(samples + f * frame, frame);

    const double floorDb = percentile(level, 0.05);
    const double speechDb = percentile(level, 0.95);
    if (speechDb - floorDb < kMinContrastDb)
        return runs;
    const double threshold = floorDb + kThresholdPosition * (speechDb - floorDb);

    size_t f = 0;
    while (f < frames) {
        if (level[f] >= threshold) {
            ++f;
            continue;
        }
        const size_t start = f;
        while (f < frames && level[f] < threshold)
            ++f;
        const SilenceRun run{start * frame, f * frame};
        if (run.length() >= settings.minSilenceSamples)
            runs.push_back(run);
    }
    return runs;
}

std::vector<size_t> splitAtSilences(const int16_t *samples, size_t count, int parts,
                                    const SplitSettings &settings)
{
    std::vector<size_t> bounds{0};
    if (parts > 1 && count >= 2 * settings.minPartSamples) {
        const std::vector<SilenceRun> runs = findSilences(samples, count, settings);
        const double partLength = double(count) / parts;
        const double window = settings.balanceWindow * partLength;

        for (int i = 1; i < parts; ++i) {
            const double target = i * partLength;
            const SilenceRun *best = nullptr;
            double bestDistance = 0;
            bool bestInWindow = false;
            for (const SilenceRun &run : runs) {
                const size_t cut = run.middle();
                // Each piece, and what is left after the cut, must be worth a decoder.
                if (cut < bounds.back() + settings.minPartSamples
                    || cut + settings.minPartSamples > count)
                    continue;
                const double distance = std::fabs(double(cut) - target);
                const bool inWindow = distance <= window;
                // In the window the longest pause wins (the surest word
                // boundary); outside it the nearest one.
                bool better = false;
                if (!best)
                    better = true;
                else if (inWindow != bestInWindow)
                    better = inWindow;
                else if (inWindow)
                    better = run.length() > best->length()
                             || (run.length() == best->length() && distance < bestDistance);
                else
                    better = distance < bestDistance;
                if (better) {
                    best = &run;
                    bestDistance = distance;
                    bestInWindow = inWindow;
                }
            }
            // Past the next target's window the cut would take that target's place.
            if (best && best->middle() < target + partLength - window)
                bounds.push_back(best->middle());
        }
    }
    bounds.push_back(count);
    return bounds;
}

} // namespace speech
