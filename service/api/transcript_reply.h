#pragma once

#include "service/recognition/decoder_pool.h"

#include <json/json.h>

#include <string>
#include <vector>

namespace speech {

// Seconds from the start of the audio, rounded to the recogniser's 10 ms frames.
double secondsAt(size_t sample);

// The recognition reply's "utterances": start, end, text and words of each
// utterance, in seconds from the start of the request's audio.
Json::Value utterancesJson(const std::vector<DecoderPool::Utterance> &utterances);

struct Transcript
{
    std::string text;
    std::vector<DecoderPool::Utterance> utterances;
    size_t samples = 0;
    std::string language; // ISO 639-1
};

// The transcription API's verbose reply; segments and words as asked.
Json::Value verboseJson(const Transcript &transcript, bool segments, bool words);

// SubRip and WebVTT bodies, laid out by the subtitle rules.
std::string srtBody(const std::vector<DecoderPool::Utterance> &utterances);
std::string vttBody(const std::vector<DecoderPool::Utterance> &utterances);

} // namespace speech
