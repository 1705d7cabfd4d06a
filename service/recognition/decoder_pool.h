#pragma once

#include "service/recognition/recognizer.h"
#include "service/recognition/silence_splitter.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace speech {

// The decoders of one model. A request takes one decoder, plus every other
// one that is free when nobody else waits; its audio is cut into utterances at
// silences, which those decoders share out between them and decode side by side.
// Requests get decoders in the order they came.
class DecoderPool
{
public:
    using Factory = std::function<std::unique_ptr<Recognizer>()>;

    // No decoder would be, or came, free within the wait limit; says which.
    struct Busy : std::runtime_error
    {
        using std::runtime_error::runtime_error;
    };

    // Builds `count` decoders, loading them side by side; throws what the
    // factory throws.
    DecoderPool(const Factory &factory, size_t count);

    size_t size() const { return decoders_.size(); }
    size_t freeCount();

    // How long a request may wait for a decoder. recognize() throws Busy at
    // once when the audio ahead of a request would take longer than that at
    // the pace of the requests decoded so far, and throws it at the latest
    // when the time is over.
    void setMaxWait(std::chrono::milliseconds wait) { maxWait_ = wait; }

    // A stretch between silences that held words; samples from the start of
    // the audio handed to recognize().
    struct Utterance
    {
        size_t begin = 0; // its first word's start, or its stretch's without word places
        size_t end = 0;
        std::string text;
        std::vector<TimedWord> words;
    };

    struct Outcome
    {
        std::string text;
        std::vector<Utterance> utterances; // in time order
        size_t pieces = 0; // how many decoders worked on it
        long long decodeMs = 0; // from having the decoders to having the text
    };
    Outcome recognize(const int16_t *samples, size_t count, const SplitSettings &split = {});
    // The same with the utterances' bounds given (0, each cut, count), for
    // audio the caller has cut already.
    Outcome recognizeUtterances(
        const int16_t *samples, size_t count, const std::vector<size_t> &utterances);

    // One decoder for a live stream, held until released: it waits its turn as a request
    // does (Busy as recognize() throws it) and never takes more than one.
    Recognizer *acquireOne();
    void releaseOne(Recognizer *decoder);

private:
    std::vector<Recognizer *> acquire(size_t samples, size_t most = SIZE_MAX);
    void release(const std::vector<Recognizer *> &decoders, size_t samplesDone = 0);
    void notePace(double decodeSeconds, size_t decoders, size_t samples);

    std::vector<std::unique_ptr<Recognizer>> decoders_;
    std::vector<Recognizer *> free_;
    struct Waiter
    {
        uint64_t ticket;
        size_t samples;
    };
    std::deque<Waiter> queue_; // the requests waiting, oldest first
    uint64_t nextTicket_ = 0;
    size_t busySamples_ = 0; // audio of the requests holding decoders
    double secondsPerSample_ = 0; // one decoder's recent pace; 0 until known
    std::chrono::milliseconds maxWait_ = std::chrono::milliseconds::max();
    std::mutex mutex_;
    std::condition_variable available_;
};

} // namespace speech
