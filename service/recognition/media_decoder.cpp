#include "service/recognition/media_decoder.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace speech {

namespace {

using Clock = std::chrono::steady_clock;

// The child's bounds beside the time limit: memory and the size of files it
// could write (it writes none; its output is a pipe).
constexpr rlim_t kChildMemoryBytes = rlim_t(2) * 1024 * 1024 * 1024;
constexpr int kExecFailed = 127;

struct Fd
{
    int fd = -1;
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

bool writeAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data.remove_prefix(size_t(n));
    }
    return true;
}

DecodedMedia failure(DecodedMedia::Status status, std::string error)
{
    DecodedMedia r;
    r.status = status;
    r.error = std::move(error);
    return r;
}

// In the child, before the decoder runs: the file on its standard input, its output to the
// pipe, and bounds on what it may take. Only async-signal-safe calls: the service has threads.
[[noreturn]] void runDecoder(int inputFd, int outputFd, char *const argv[], rlim_t cpuSeconds)
{
    ::dup2(inputFd, 0);
    ::dup2(outputFd, 1);
    const int devNull = ::open("/dev/null", O_WRONLY);
    if (devNull >= 0)
        ::dup2(devNull, 2);
    // Nothing of the service (its sockets, its listening port) reaches the decoder.
    ::close_range(3, ~0U, 0);
    const rlimit memory { kChildMemoryBytes, kChildMemoryBytes };
    ::setrlimit(RLIMIT_AS, &memory);
    const rlimit cpu { cpuSeconds, cpuSeconds };
    ::setrlimit(RLIMIT_CPU, &cpu);
    const rlimit noFiles { 0, 0 };
    ::setrlimit(RLIMIT_FSIZE, &noFiles);
    const rlimit noCore { 0, 0 };
    ::setrlimit(RLIMIT_CORE, &noCore);
    ::execvp(argv[0], argv);
    ::_exit(kExecFailed);
}

// How reading the decoder's output ended.
struct ReadEnd
{
    bool timedOut = false;
    bool tooLong = false;
};

// Reads the decoder's output straight into the samples, so the audio is held once, until it
// ends, the time is up or it is longer than allowed.
ReadEnd readDecoded(int outFd, const DecodeLimits &limits, std::vector<int16_t> &samples)
{
    ReadEnd end;
    size_t bytes = 0;
    const size_t maxBytes = limits.maxSamples * 2;
    const auto deadline = Clock::now() + limits.time;
    constexpr size_t kChunk = 64 * 1024;
    for (;;) {
        const auto left
            = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            end.timedOut = true;
            break;
        }
        pollfd p { outFd, POLLIN, 0 };
        const int ready = ::poll(&p, 1, int(std::min<long long>(left, INT_MAX)));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            end.timedOut = ready == 0;
            break;
        }
        if (bytes + kChunk > samples.size() * 2)
            samples.resize(std::max(samples.size() * 2, (bytes + kChunk) / 2 + 1));
        const ssize_t n = ::read(outFd, reinterpret_cast<char *>(samples.data()) + bytes, kChunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        bytes += size_t(n);
        if (bytes > maxBytes) {
            end.tooLong = true;
            break;
        }
    }
    samples.resize(bytes / 2);
    return end;
}

// What the client is told of a decoding, from how its reading ended and how the child did.
DecodedMedia outcome(DecodedMedia result, ReadEnd end, int status, const DecodeLimits &limits)
{
    if (end.timedOut)
        return failure(DecodedMedia::Status::TimedOut,
            "decoding the file took longer than " + std::to_string(limits.time.count()) + " s");
    if (end.tooLong)
        return failure(DecodedMedia::Status::TooLong,
            "the audio lasts longer than the " + std::to_string(limits.maxSamples / 16000)
                + " s this service takes");
    if (WIFEXITED(status) && WEXITSTATUS(status) == kExecFailed)
        return failure(DecodedMedia::Status::NoDecoder, "the service has no audio decoder");
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return failure(DecodedMedia::Status::NotAudio,
            "the file could not be decoded as audio; send a file in a format such as wav, "
            "flac, mp3, m4a, mp4, ogg or webm");
    if (result.samples.empty())
        return failure(DecodedMedia::Status::NotAudio, "the file holds no audio");
    result.status = DecodedMedia::Status::Ok;
    return result;
}

} // namespace

const char *const kAllowedDemuxers = "wav,w64,aiff,caf,au,voc,flac,mp3,aac,ac3,eac3,dts,truehd,"
                                     "mlp,wv,ape,tta,amr,amrnb,amrwb,mov,matroska,ogg,asf,avi,"
                                     "flv,mpeg,mpegts";

DecodedMedia decodeMedia(std::string_view file, const DecodeLimits &limits)
{
    // The file in memory, seekable, so that formats with their index at the
    // end (mp4, m4a) decode.
    Fd input { ::memfd_create("upload", MFD_CLOEXEC) };
    if (input.fd < 0 || !writeAll(input.fd, file))
        return failure(
            DecodedMedia::Status::NoDecoder, "the file could not be handed to the decoder");
    return decodeMediaFile(input.fd, limits);
}

DecodedMedia decodeMediaFile(int inputFd, const DecodeLimits &limits)
{
    if (::lseek(inputFd, 0, SEEK_SET) != 0)
        return failure(
            DecodedMedia::Status::NoDecoder, "the file could not be handed to the decoder");
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return failure(DecodedMedia::Status::NoDecoder, "the decoder could not be started");
    Fd out { pipeFds[0] };
    Fd childOut { pipeFds[1] };

    // Built before the fork: the child of a threaded process may only make
    // async-signal-safe calls.
    const std::string maxSeconds = std::to_string(limits.maxSamples / 16000 + 1);
    // The input is the child's standard input through the file protocol (a
    // pipe could not seek), and nothing else: no other protocol, and only
    // demuxers that open nothing beyond their own input.
    std::vector<std::string> args = { limits.program, "-nostdin", "-hide_banner", "-loglevel",
        "quiet", "-threads", "1", "-protocol_whitelist", "file", "-format_whitelist",
        kAllowedDemuxers, "-i", "/proc/self/fd/0", "-map", "0:a:0", "-vn", "-sn", "-dn", "-ac", "1",
        "-ar", "16000", "-f", "s16le", "-acodec", "pcm_s16le", "-t", maxSeconds, "pipe:1" };
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const rlim_t cpuSeconds = rlim_t(limits.time.count()) + 1;

    const pid_t pid = ::fork();
    if (pid < 0)
        return failure(DecodedMedia::Status::NoDecoder, "the decoder could not be started");
    if (pid == 0)
        runDecoder(inputFd, childOut.fd, argv.data(), cpuSeconds);
    ::close(childOut.fd);
    childOut.fd = -1;

    DecodedMedia result;
    const ReadEnd end = readDecoded(out.fd, limits, result.samples);
    if (end.timedOut || end.tooLong)
        ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
    return outcome(std::move(result), end, status, limits);
}

} // namespace speech
