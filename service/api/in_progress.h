#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace speech {

// The recognition requests between arrival and reply, which a stop waits for (health reports
// their number), and among them the transcriptions holding an upload and its audio, of which
// only so many may wait at once.
class RequestsInProgress
{
public:
    // Counts one request for as long as it lives.
    class Request
    {
    public:
        explicit Request(RequestsInProgress &counter);
        ~Request();
        Request(const Request &) = delete;
        Request &operator=(const Request &) = delete;

    private:
        RequestsInProgress &counter_;
    };

    // One of `max` places of a transcription, held for as long as it lives; none (false) when
    // all are taken.
    class TranscriptionPlace
    {
    public:
        TranscriptionPlace(RequestsInProgress &counter, size_t max);
        ~TranscriptionPlace();
        TranscriptionPlace(const TranscriptionPlace &) = delete;
        TranscriptionPlace &operator=(const TranscriptionPlace &) = delete;
        explicit operator bool() const { return taken_; }

    private:
        RequestsInProgress &counter_;
        bool taken_ = false;
    };

    size_t count() const;
    // False when some are still in progress after `limit`.
    bool waitIdle(std::chrono::milliseconds limit);

private:
    mutable std::mutex mutex_;
    std::condition_variable idle_;
    size_t requests_ = 0;
    size_t transcriptions_ = 0;
};

} // namespace speech
