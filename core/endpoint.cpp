#include "core/endpoint.h"

#include <algorithm>
#include <cmath>

namespace Endpoint {

double levelDb(const qint16 *samples, int count)
{
    if (count <= 0)
        return -100.0;
    double sum = 0;
    for (int i = 0; i < count; ++i)
        sum += double(samples[i]) * double(samples[i]);
    const double rms = std::sqrt(sum / count) / 32768.0;
    return rms <= 1e-5 ? -100.0 : std::max(-100.0, 20.0 * std::log10(rms));
}

Step step(const State &state, double level, const Settings &settings)
{
    Step out;
    State &s = out.state;
    s = state;
    const qint64 frame = s.frame++;
    const double threshold = std::max(s.floorDb + settings.marginDb, settings.minThresholdDb);
    const bool loud = level > threshold;
    // The floor falls at once to a quieter frame and rises slowly, so speech barely lifts it.
    s.floorDb = level < s.floorDb ? level : s.floorDb + settings.floorRiseDb;

    if (!s.inSpeech) {
        s.loudRun = loud ? s.loudRun + 1 : 0;
        if (s.loudRun >= settings.startFrames) {
            s.inSpeech = true;
            const qint64 firstLoud = frame - settings.startFrames + 1;
            // The preroll never reaches back into the utterance before.
            s.start = std::max(firstLoud - settings.prerollFrames, s.lastEnd);
            s.lastLoud = frame;
            s.quietRun = 0;
            s.quietestFrame = -1;
        }
        return out;
    }

    if (loud) {
        s.lastLoud = frame;
        s.quietRun = 0;
    } else {
        ++s.quietRun;
    }
    const qint64 length = frame + 1 - s.start;
    if (length > settings.maxFrames - settings.searchFrames
        && (s.quietestFrame < 0 || level <= s.quietestDb)) {
        s.quietestFrame = frame;
        s.quietestDb = level;
    }
    if (s.quietRun >= settings.hangoverFrames) {
        out.cut = { true, s.start, frame + 1 };
        s.lastEnd = frame + 1;
        s.inSpeech = false;
        s.loudRun = 0;
        s.quietRun = 0;
        s.quietestFrame = -1;
        return out;
    }
    if (length >= settings.maxFrames) {
        // Cut after the quietest frame of the window; the rest goes on as the next utterance.
        const qint64 end = std::max(s.quietestFrame + 1, s.start + 1);
        out.cut = { true, s.start, end };
        s.start = end;
        s.lastEnd = end;
        s.quietestFrame = -1;
    }
    return out;
}

Cut finish(const State &state)
{
    if (!state.inSpeech || state.frame <= state.start)
        return {};
    return { true, state.start, state.frame };
}

} // namespace Endpoint
