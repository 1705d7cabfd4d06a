#pragma once

#include "service/recognition/audio_input.h"
#include "service/recognition/decoder_pool.h"
#include "service/recognition/recognizer.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace speech {

struct LiveLimits
{
    size_t maxSessions = 8;
    // An utterance that gets no audio for this long is dropped and its decoder freed: its
    // client has gone.
    std::chrono::milliseconds utteranceIdle { 5000 };
    // A session with no utterance under way is forgotten after this long.
    std::chrono::milliseconds sessionIdle { 120000 };
    size_t maxUtteranceSamples = size_t(speechprotocol::kMaxAudioSeconds) * kSampleRate;
};

// Live recognition of a recording: its utterances come in pieces while they are said, and
// each is decoded as it comes on a decoder held from its first piece to its last, so that when
// it ends only the last piece and the final pass are left. A session is one client's
// recording: it carries the speaker's cepstral mean from one utterance to the next, and holds
// no decoder between utterances. Bounded in number, in audio an utterance and in idle time; a
// thread of its own frees what idle clients left.
class LiveSessions
{
public:
    explicit LiveSessions(LiveLimits limits = {});
    ~LiveSessions();
    LiveSessions(const LiveSessions &) = delete;
    LiveSessions &operator=(const LiveSessions &) = delete;

    enum class Status { Ok, Unknown, Full, BadOffset, TooLong, Busy, NotLive, Failed };
    struct Result
    {
        Status status = Status::Ok;
        std::string session;
        std::string message; // why, when not Ok
        bool ended = false;
        Recognizer::Timed timed; // the utterance's words once ended
    };

    // A piece of the utterance under way in `session` (empty: a new session) of `owner`.
    // `offset` counts the utterance's samples that came before it; 0 begins an utterance
    // (dropping one left unfinished). `end` ends it, and the result holds its words.
    Result append(const std::string &session, const std::string &owner,
        const std::shared_ptr<DecoderPool> &pool, size_t offset, const int16_t *samples,
        size_t count, bool end);

    size_t sessionCount();

private:
    struct Session;
    Result open(const std::string &owner, std::shared_ptr<Session> &session);
    Result feed(Session &s, const std::shared_ptr<DecoderPool> &pool, size_t offset,
        const int16_t *samples, size_t count, bool end);
    void sweep();

    LiveLimits limits_;
    std::mutex mutex_;
    std::map<std::string, std::shared_ptr<Session>> sessions_;
    bool stopping_ = false;
    std::atomic<bool> trimDue_ { false };
    std::condition_variable wake_;
    std::thread sweeper_;
};

} // namespace speech
