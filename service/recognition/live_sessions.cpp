#include "service/recognition/live_sessions.h"

#include <malloc.h>
#include <random>

namespace speech {

namespace {

using Clock = std::chrono::steady_clock;

// Unguessable, so that one client cannot feed another's session even with its own token.
std::string newSessionId()
{
    std::random_device random;
    static const char digits[] = "0123456789abcdef";
    std::string id;
    for (int i = 0; i < 8; ++i) {
        const unsigned value = random();
        for (int shift = 0; shift < 32; shift += 8)
            id += { digits[(value >> (shift + 4)) & 15], digits[(value >> shift) & 15] };
    }
    return id;
}

LiveSessions::Result refusal(LiveSessions::Status status, std::string message)
{
    LiveSessions::Result r;
    r.status = status;
    r.message = std::move(message);
    return r;
}

} // namespace

struct LiveSessions::Session
{
    std::string id;
    std::string owner;
    std::mutex busy; // one piece at a time
    bool gone = false;
    Clock::time_point lastUse = Clock::now();
    std::vector<float> mean; // the speaker's, after the last utterance
    // While an utterance is under way:
    std::shared_ptr<DecoderPool> pool;
    Recognizer *decoder = nullptr;
    size_t samples = 0;

    void drop()
    {
        if (!decoder)
            return;
        decoder->abandonStream();
        pool->releaseOne(decoder);
        decoder = nullptr;
        samples = 0;
    }
};

LiveSessions::LiveSessions(LiveLimits limits)
    : limits_(limits)
{
    sweeper_ = std::thread([this] {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!stopping_) {
            wake_.wait_for(lock, std::chrono::milliseconds(250));
            lock.unlock();
            sweep();
            // An ended utterance freed its decoding's memory; give the heaps' free tops back to
            // the system here rather than on a client's request.
            if (trimDue_.exchange(false))
                malloc_trim(0);
            lock.lock();
        }
    });
}

LiveSessions::~LiveSessions()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    sweeper_.join();
    for (auto &entry : sessions_) {
        std::lock_guard<std::mutex> busy(entry.second->busy);
        entry.second->drop();
    }
}

void LiveSessions::sweep()
{
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = sessions_.begin(); it != sessions_.end();) {
        Session &s = *it->second;
        std::unique_lock<std::mutex> busy(s.busy, std::try_to_lock);
        // A session being fed is in use.
        if (!busy.owns_lock()) {
            ++it;
            continue;
        }
        if (s.decoder && now - s.lastUse > limits_.utteranceIdle) {
            s.drop();
            s.lastUse = now;
        }
        if (!s.decoder && now - s.lastUse > limits_.sessionIdle) {
            s.gone = true;
            busy.unlock();
            it = sessions_.erase(it);
            continue;
        }
        ++it;
    }
}

LiveSessions::Result LiveSessions::open(const std::string &owner, std::shared_ptr<Session> &session)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (sessions_.size() >= limits_.maxSessions)
        return refusal(Status::Full,
            "there are " + std::to_string(sessions_.size()) + " live sessions, the most taken");
    session = std::make_shared<Session>();
    session->id = newSessionId();
    session->owner = owner;
    sessions_[session->id] = session;
    return {};
}

LiveSessions::Result LiveSessions::append(const std::string &id, const std::string &owner,
    const std::shared_ptr<DecoderPool> &pool, size_t offset, const int16_t *samples, size_t count,
    bool end)
{
    std::shared_ptr<Session> session;
    if (id.empty()) {
        Result opened = open(owner, session);
        if (opened.status != Status::Ok)
            return opened;
    } else {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = sessions_.find(id);
        // Another client's session is as unknown as one that never was.
        if (it != sessions_.end() && it->second->owner == owner)
            session = it->second;
    }
    if (!session)
        return refusal(Status::Unknown, "no such live session (it may have ended when idle)");
    std::lock_guard<std::mutex> busy(session->busy);
    if (session->gone)
        return refusal(Status::Unknown, "no such live session (it may have ended when idle)");
    Result result = feed(*session, pool, offset, samples, count, end);
    session->lastUse = Clock::now();
    result.session = session->id;
    return result;
}

LiveSessions::Result LiveSessions::feed(Session &s, const std::shared_ptr<DecoderPool> &pool,
    size_t offset, const int16_t *samples, size_t count, bool end)
{
    if (offset == 0) {
        s.drop();
        try {
            s.decoder = pool->acquireOne();
        } catch (const DecoderPool::Busy &e) {
            return refusal(Status::Busy, e.what());
        }
        s.pool = pool;
        if (!s.decoder->beginStream(s.mean)) {
            s.drop();
            return refusal(Status::NotLive, "this model cannot decode live");
        }
    } else if (!s.decoder || offset != s.samples || s.pool != pool) {
        return refusal(Status::BadOffset,
            "the utterance under way holds " + std::to_string(s.decoder ? s.samples : 0)
                + " samples of this model, not " + std::to_string(offset));
    }
    if (s.samples + count > limits_.maxUtteranceSamples) {
        s.drop();
        return refusal(Status::TooLong,
            "an utterance holds at most "
                + std::to_string(limits_.maxUtteranceSamples / kSampleRate) + " s of audio");
    }
    Result result;
    try {
        s.decoder->continueStream(samples, count);
        s.samples += count;
        if (end) {
            result.timed = s.decoder->endStream(s.mean);
            result.ended = true;
            trimDue_ = true;
            s.pool->releaseOne(s.decoder);
            s.decoder = nullptr;
            s.samples = 0;
        }
    } catch (const std::exception &e) {
        s.drop();
        return refusal(Status::Failed, std::string("recognition failed: ") + e.what());
    }
    return result;
}

size_t LiveSessions::sessionCount()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return sessions_.size();
}

} // namespace speech
