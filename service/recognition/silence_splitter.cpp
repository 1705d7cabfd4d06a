#include "service/recognition/silence_splitter.h"

#include <algorithm>
#include <cmath>

namespace speech {

namespace {

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

std::vector<SilenceRun> findSilences(
    const int16_t *samples, size_t count, const SplitSettings &settings)
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
    if (speechDb - floorDb < settings.minContrastDb)
        return runs;
    const double threshold = floorDb + settings.thresholdPosition * (speechDb - floorDb);

    size_t f = 0;
    while (f < frames) {
        if (level[f] >= threshold) {
            ++f;
            continue;
        }
        const size_t start = f;
        while (f < frames && level[f] < threshold)
            ++f;
        // The samples after the last whole frame belong to the run that reaches them.
        const SilenceRun run { start * frame, f == frames ? count : f * frame };
        if (run.length() >= settings.minSilenceSamples)
            runs.push_back(run);
    }
    return runs;
}

std::vector<size_t> utteranceBounds(
    const int16_t *samples, size_t count, const SplitSettings &settings)
{
    std::vector<size_t> bounds { 0 };
    if (count == 0)
        return bounds;
    for (const SilenceRun &run : findSilences(samples, count, settings)) {
        // Leading and trailing silence stays with the speech next to it.
        if (run.begin == 0 || run.end == count)
            continue;
        const size_t cut = run.middle();
        if (cut >= bounds.back() + settings.minUtteranceSamples
            && cut + settings.minUtteranceSamples <= count)
            bounds.push_back(cut);
    }
    bounds.push_back(count);
    return bounds;
}

std::vector<size_t> capUtterances(std::vector<size_t> bounds, size_t maxSamples)
{
    if (bounds.size() < 2 || maxSamples == 0)
        return bounds;
    std::vector<size_t> capped { bounds.front() };
    for (size_t i = 1; i < bounds.size(); ++i) {
        const size_t begin = capped.back();
        const size_t length = bounds[i] - begin;
        const size_t parts = (length + maxSamples - 1) / maxSamples;
        for (size_t k = 1; k < parts; ++k)
            capped.push_back(begin + length * k / parts);
        capped.push_back(bounds[i]);
    }
    return capped;
}

std::vector<size_t> groupUtterances(
    const std::vector<size_t> &bounds, int parts, const SplitSettings &settings)
{
    if (bounds.size() < 2)
        return bounds;
    const size_t first = bounds.front();
    const size_t last = bounds.back();
    std::vector<size_t> grouped { first };
    const double partLength = double(last - first) / std::max(1, parts);
    for (int i = 1; i < parts; ++i) {
        const double target = double(first) + i * partLength;
        size_t best = 0;
        double bestDistance = 0;
        for (size_t k = 1; k + 1 < bounds.size(); ++k) {
            const size_t cut = bounds[k];
            if (cut < grouped.back() + settings.minPartSamples
                || cut + settings.minPartSamples > last)
                continue;
            const double distance = std::fabs(double(cut) - target);
            if (best == 0 || distance < bestDistance) {
                best = cut;
                bestDistance = distance;
            }
        }
        // A cut nearer the next target than this one is left to the next.
        const bool nextIsNearer = i + 1 < parts && double(best) >= target + partLength / 2;
        if (best != 0 && !nextIsNearer)
            grouped.push_back(best);
    }
    grouped.push_back(last);
    return grouped;
}

std::vector<size_t> splitAtSilences(
    const int16_t *samples, size_t count, int parts, const SplitSettings &settings)
{
    return groupUtterances(utteranceBounds(samples, count, settings), parts, settings);
}

} // namespace speech
