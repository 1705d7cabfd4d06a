#pragma once

#include <QtGlobal>

// Where live speech is cut into utterances: each 20 ms frame's level against a noise floor that
// follows the room, an utterance begun after a few loud frames and ended after a hangover of
// quiet ones, and never longer than a limit (then cut at its quietest recent frame, so a word is
// seldom split). One frame in, the new state out: the caller keeps the samples.
namespace Endpoint {

struct Settings
{
    int frameSamples = 320; // 20 ms at 16 kHz
    int startFrames = 3; // loud frames in a row that begin an utterance
    int hangoverFrames = 25; // quiet frames that end it (500 ms)
    int prerollFrames = 10; // kept before the first loud frame (200 ms), for soft onsets
    int maxFrames = 750; // at most 15 s an utterance
    int searchFrames = 150; // the last 3 s before the limit, where its cut is looked for
    double marginDb = 12.0; // above the floor is loud
    double minThresholdDb = -50.0; // never louder than this is quiet, whatever the floor
    double floorRiseDb = 0.02; // a frame above the floor lifts it this much (1 dB/s)
};

struct State
{
    qint64 frame = 0; // frames seen so far
    double floorDb = 0.0; // the first frames bring it down to the room's level
    int loudRun = 0;
    int quietRun = 0;
    bool inSpeech = false;
    qint64 start = 0; // first frame of the utterance under way
    qint64 lastLoud = 0;
    qint64 lastEnd = 0; // end of the utterance before
    // Quietest frame in the last search window of a long utterance.
    qint64 quietestFrame = -1;
    double quietestDb = 0;
};

// An utterance that ended with the frame just taken: frames [start, end).
struct Cut
{
    bool valid = false;
    qint64 start = 0;
    qint64 end = 0;
};

struct Step
{
    State state;
    Cut cut;
};

// The level of one frame of 16-bit samples: RMS in dB of full scale, -100 for silence.
double levelDb(const qint16 *samples, int count);

// The next state after a frame of the given level.
Step step(const State &state, double levelDb, const Settings &settings = Settings());

// A stream that ends: the utterance under way, if any, ends with the last frame seen.
Cut finish(const State &state);

} // namespace Endpoint
