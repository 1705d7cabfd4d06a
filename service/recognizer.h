#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace speech {

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
};

} // namespace speech
