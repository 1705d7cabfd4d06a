#include "service/api/in_progress.h"

namespace speech {

RequestsInProgress::Request::Request(RequestsInProgress &counter)
    : counter_(counter)
{
    std::lock_guard<std::mutex> lock(counter_.mutex_);
    ++counter_.requests_;
}

RequestsInProgress::Request::~Request()
{
    {
        std::lock_guard<std::mutex> lock(counter_.mutex_);
        --counter_.requests_;
    }
    counter_.idle_.notify_all();
}

RequestsInProgress::TranscriptionPlace::TranscriptionPlace(RequestsInProgress &counter, size_t max)
    : counter_(counter)
{
    std::lock_guard<std::mutex> lock(counter_.mutex_);
    taken_ = counter_.transcriptions_ < max;
    if (taken_)
        ++counter_.transcriptions_;
}

RequestsInProgress::TranscriptionPlace::~TranscriptionPlace()
{
    std::lock_guard<std::mutex> lock(counter_.mutex_);
    if (taken_)
        --counter_.transcriptions_;
}

size_t RequestsInProgress::count() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

bool RequestsInProgress::waitIdle(std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return idle_.wait_for(lock, limit, [this] { return requests_ == 0; });
}

} // namespace speech
