#pragma once

#include "recognizer.h"
#include "silence_splitter.h"

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace speech {

// The decoders of one model. A request takes one decoder, plus every other
// one that is free when nobody else waits; its audio is cut into utterances at
// silences, which those decoders share out between them and decode side by side.
class DecoderPool
{
public:
    using Factory = std::function<std::unique_ptr<Recognizer>()>;

    // Builds `count` decoders, loading them side by side; throws what the
    // factory throws.
    DecoderPool(const Factory &factory, size_t count);

    size_t size() const { return decoders_.size(); }

    struct Outcome
    {
        std::string text;
        size_t pieces = 0; // how many decoders worked on it
        long long decodeMs = 0; // from having the decoders to having the text
    };
    Outcome recognize(const int16_t *samples, size_t count, const SplitSettings &split = {});

private:
    std::vector<Recognizer *> acquire();
    void release(const std::vector<Recognizer *> &decoders);

    std::vector<std::unique_ptr<Recognizer>> decoders_;
    std::vector<Recognizer *> free_;
    size_t waiting_ = 0;
    std::mutex mutex_;
    std::condition_variable available_;
};

} // namespace speech
