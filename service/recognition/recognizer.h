#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace speech {

// A recognised word and where it lies, in samples from the start of the audio
// handed to the recogniser.
struct TimedWord
{
    std::string word;
    size_t begin = 0;
    size_t end = 0; // one past the last sample
};

// One decoder: turns 16 kHz mono samples into words. An instance is used by
// one thread at a time; the pool hands instances out.
class Recognizer
{
public:
    virtual ~Recognizer() = default;

    // Decodes the samples as one utterance. Returns the recognised words
    // separated by single blanks, empty for silence. Each call starts from
    // the same state, whatever came before.
    virtual std::string recognize(const int16_t *samples, size_t count) = 0;

    // As recognize(), with each word's place; fillers and silences left out.
    // A recogniser that knows no places gives its words without any.
    struct Timed
    {
        std::string text;
        std::vector<TimedWord> words;
    };
    virtual Timed recognizeTimed(const int16_t *samples, size_t count)
    {
        return { recognize(samples, count), {} };
    }

    // Live decoding: one utterance handed over in pieces as it is said, so that little is
    // left to do once it ends. `mean` is the channel's cepstral mean carried over from the
    // same speaker's previous utterance (empty: the model's own); endStream() gives the
    // utterance's words, placed from its first sample, and the mean to carry on. False: this
    // recogniser cannot decode live.
    virtual bool beginStream(const std::vector<float> &mean)
    {
        (void)mean;
        return false;
    }
    virtual void continueStream(const int16_t *samples, size_t count)
    {
        (void)samples;
        (void)count;
    }
    virtual Timed endStream(std::vector<float> &mean)
    {
        (void)mean;
        return {};
    }
    // Drops the utterance under way; the recogniser is ready for the next request.
    virtual void abandonStream() { }
};

} // namespace speech
