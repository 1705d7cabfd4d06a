#include "service/recognition/decoder_pool.h"

#include "service/recognition/audio_input.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <exception>
#include <stdexcept>
#include <string>
#include <thread>

namespace speech {

namespace {

// Each decoder takes the next utterance not yet taken, so they all finish at about the same
// time however the utterance lengths fall; each utterance is decoded on its own, so the text
// does not depend on how many decoders there are. A decoder's failure stops the others.
std::vector<Recognizer::Timed> decodeAll(const std::vector<Recognizer *> &decoders,
    const int16_t *samples, const std::vector<size_t> &utterances,
    std::vector<std::exception_ptr> &errors)
{
    const size_t utteranceCount = utterances.empty() ? 0 : utterances.size() - 1;
    const size_t pieces = decoders.size();
    std::vector<Recognizer::Timed> words(utteranceCount);
    errors.assign(pieces, nullptr);
    std::atomic<size_t> next { 0 };
    auto decodeUtterances = [&](size_t decoder) {
        try {
            for (size_t u = next++; u < utteranceCount; u = next++)
                words[u] = decoders[decoder]->recognizeTimed(
                    samples + utterances[u], utterances[u + 1] - utterances[u]);
        } catch (...) {
            errors[decoder] = std::current_exception();
            next = utteranceCount;
        }
    };
    std::vector<std::thread> helpers;
    for (size_t i = 1; i < pieces; ++i)
        helpers.emplace_back(decodeUtterances, i);
    if (pieces > 0)
        decodeUtterances(0);
    for (std::thread &t : helpers)
        t.join();
    return words;
}

// The utterances' words placed in the whole audio, joined into its text; silent ones dropped.
void joinUtterances(std::vector<Recognizer::Timed> &words, const std::vector<size_t> &utterances,
    DecoderPool::Outcome &outcome)
{
    for (size_t u = 0; u < words.size(); ++u) {
        Recognizer::Timed &w = words[u];
        if (w.text.empty())
            continue;
        if (!outcome.text.empty())
            outcome.text += ' ';
        outcome.text += w.text;
        DecoderPool::Utterance utterance;
        utterance.begin = utterances[u];
        utterance.end = utterances[u + 1];
        for (TimedWord &word : w.words) {
            word.begin += utterances[u];
            word.end += utterances[u];
        }
        if (!w.words.empty()) {
            utterance.begin = w.words.front().begin;
            utterance.end = w.words.back().end;
        }
        utterance.text = std::move(w.text);
        utterance.words = std::move(w.words);
        outcome.utterances.push_back(std::move(utterance));
    }
}

} // namespace

DecoderPool::DecoderPool(const Factory &factory, size_t count)
{
    if (count == 0)
        throw std::invalid_argument("a decoder pool needs at least one decoder");
    decoders_.resize(count);
    std::vector<std::exception_ptr> errors(count);
    std::vector<std::thread> loaders;
    for (size_t i = 0; i < count; ++i) {
        loaders.emplace_back([&, i] {
            try {
                decoders_[i] = factory();
            } catch (...) {
                errors[i] = std::current_exception();
            }
        });
    }
    for (std::thread &t : loaders)
        t.join();
    for (const std::exception_ptr &e : errors) {
        if (e)
            std::rethrow_exception(e);
    }
    for (const auto &decoder : decoders_)
        free_.push_back(decoder.get());
}

size_t DecoderPool::freeCount()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return free_.size();
}

std::vector<Recognizer *> DecoderPool::acquire(size_t samples, size_t most)
{
    std::unique_lock<std::mutex> lock(mutex_);
    const bool limited = maxWait_ != std::chrono::milliseconds::max();
    if (limited && secondsPerSample_ > 0 && !(queue_.empty() && !free_.empty())) {
        // Requests in progress are half done on average.
        double ahead = double(busySamples_) / 2;
        for (const Waiter &w : queue_)
            ahead += double(w.samples);
        const double wait = secondsPerSample_ * ahead / double(decoders_.size());
        const double limit = std::chrono::duration<double>(maxWait_).count();
        if (wait > limit)
            throw Busy("the requests ahead would keep the decoders for about "
                + std::to_string(int(std::ceil(wait))) + " s, longer than the "
                + std::to_string(int(limit)) + " s a request may wait");
    }
    const uint64_t ticket = nextTicket_++;
    queue_.push_back({ ticket, samples });
    const auto turn = [&] { return !free_.empty() && queue_.front().ticket == ticket; };
    const bool got = !limited
        ? (available_.wait(lock, turn), true)
        : available_.wait_until(lock, std::chrono::steady_clock::now() + maxWait_, turn);
    if (!got) {
        queue_.erase(std::find_if(
            queue_.begin(), queue_.end(), [&](const Waiter &w) { return w.ticket == ticket; }));
        // The one behind may now be first in line for a free decoder.
        available_.notify_all();
        throw Busy("no decoder came free within "
            + std::to_string(std::chrono::duration_cast<std::chrono::seconds>(maxWait_).count())
            + " s");
    }
    queue_.pop_front();
    busySamples_ += samples;
    std::vector<Recognizer *> taken;
    // Under load every request keeps to one decoder, which serves the most
    // requests per second; alone, a request uses every free decoder.
    const size_t want = std::min(most, queue_.empty() ? free_.size() : size_t(1));
    for (size_t i = 0; i < want; ++i) {
        taken.push_back(free_.back());
        free_.pop_back();
    }
    if (!free_.empty())
        available_.notify_all();
    return taken;
}

void DecoderPool::release(const std::vector<Recognizer *> &decoders, size_t samplesDone)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        free_.insert(free_.end(), decoders.begin(), decoders.end());
        busySamples_ -= samplesDone;
    }
    available_.notify_all();
}

Recognizer *DecoderPool::acquireOne()
{
    return acquire(0, 1).front();
}

void DecoderPool::releaseOne(Recognizer *decoder)
{
    if (decoder)
        release({ decoder });
}

void DecoderPool::notePace(double decodeSeconds, size_t decoders, size_t samples)
{
    // Pauses alone take no decoding; a second of audio or more says how fast
    // the decoders go now, on this machine under its present load.
    if (decoders == 0 || samples < kSampleRate)
        return;
    const double pace = decodeSeconds * double(decoders) / double(samples);
    std::lock_guard<std::mutex> lock(mutex_);
    secondsPerSample_ = secondsPerSample_ > 0 ? 0.7 * secondsPerSample_ + 0.3 * pace : pace;
}

DecoderPool::Outcome DecoderPool::recognize(
    const int16_t *samples, size_t count, const SplitSettings &split)
{
    return recognizeUtterances(samples, count, utteranceBounds(samples, count, split));
}

DecoderPool::Outcome DecoderPool::recognizeUtterances(
    const int16_t *samples, size_t count, const std::vector<size_t> &utterances)
{
    std::vector<Recognizer *> taken = acquire(count);
    const auto started = std::chrono::steady_clock::now();
    struct Returner
    {
        DecoderPool *pool;
        std::vector<Recognizer *> *decoders;
        size_t samples;
        ~Returner() { pool->release(*decoders, samples); }
    } returner { this, &taken, count };

    const size_t utteranceCount = utterances.empty() ? 0 : utterances.size() - 1;
    const size_t pieces = std::min(taken.size(), utteranceCount);
    // Short audio or audio without pauses needs fewer decoders than it took.
    if (pieces < taken.size()) {
        const std::vector<Recognizer *> spare(
            taken.begin() + static_cast<long>(pieces), taken.end());
        taken.resize(pieces);
        release(spare);
    }
    std::vector<std::exception_ptr> errors;
    std::vector<Recognizer::Timed> words = decodeAll(taken, samples, utterances, errors);
    Outcome outcome;
    outcome.pieces = pieces;
    outcome.decodeMs = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - started)
                           .count();
    for (const std::exception_ptr &e : errors) {
        if (e)
            std::rethrow_exception(e);
    }
    notePace(double(outcome.decodeMs) / 1000, pieces, count);
    joinUtterances(words, utterances, outcome);
    return outcome;
}

} // namespace speech
