#include "decoder_pool.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <stdexcept>
#include <thread>

namespace speech {

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

std::vector<Recognizer *> DecoderPool::acquire()
{
    std::unique_lock<std::mutex> lock(mutex_);
    ++waiting_;
    available_.wait(lock, [this] { return !free_.empty(); });
    --waiting_;
    std::vector<Recognizer *> taken;
    // Under load every request keeps to one decoder, which serves the most
    // requests per second; alone, a request uses every free decoder.
    const size_t want = waiting_ == 0 ? free_.size() : 1;
    for (size_t i = 0; i < want; ++i) {
        taken.push_back(free_.back());
        free_.pop_back();
    }
    return taken;
}

void DecoderPool::release(const std::vector<Recognizer *> &decoders)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        free_.insert(free_.end(), decoders.begin(), decoders.end());
    }
    available_.notify_all();
}

DecoderPool::Outcome DecoderPool::recognize(
    const int16_t *samples, size_t count, const SplitSettings &split)
{
    std::vector<Recognizer *> taken = acquire();
    const auto started = std::chrono::steady_clock::now();
    struct Returner
    {
        DecoderPool *pool;
        std::vector<Recognizer *> *decoders;
        ~Returner() { pool->release(*decoders); }
    } returner { this, &taken };

    const std::vector<size_t> utterances = utteranceBounds(samples, count, split);
    const std::vector<size_t> bounds
        = groupUtterances(utterances, static_cast<int>(taken.size()), split);
    const size_t pieces = bounds.empty() ? 0 : bounds.size() - 1;
    // Short audio or audio without pauses needs fewer decoders than it took.
    if (pieces < taken.size()) {
        const std::vector<Recognizer *> spare(
            taken.begin() + static_cast<long>(pieces), taken.end());
        taken.resize(pieces);
        release(spare);
    }
    std::vector<std::string> texts(pieces);
    std::vector<std::exception_ptr> errors(pieces);
    // Each piece is a run of whole utterances, each decoded on its own, so
    // the text does not depend on how many pieces there are.
    auto decodePiece = [&](size_t i) {
        try {
            auto it = std::lower_bound(utterances.begin(), utterances.end(), bounds[i]);
            for (; it + 1 != utterances.end() && *it < bounds[i + 1]; ++it) {
                const std::string words = taken[i]->recognize(samples + *it, *(it + 1) - *it);
                if (words.empty())
                    continue;
                if (!texts[i].empty())
                    texts[i] += ' ';
                texts[i] += words;
            }
        } catch (...) {
            errors[i] = std::current_exception();
        }
    };

    std::vector<std::thread> helpers;
    for (size_t i = 1; i < pieces; ++i)
        helpers.emplace_back(decodePiece, i);
    if (pieces > 0)
        decodePiece(0);
    for (std::thread &t : helpers)
        t.join();

    Outcome outcome;
    outcome.pieces = pieces;
    outcome.decodeMs = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - started)
                           .count();
    for (size_t i = 0; i < pieces; ++i) {
        if (errors[i])
            std::rethrow_exception(errors[i]);
        if (texts[i].empty())
            continue;
        if (!outcome.text.empty())
            outcome.text += ' ';
        outcome.text += texts[i];
    }
    return outcome;
}

} // namespace speech
