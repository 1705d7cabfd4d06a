// loadbench: the speech service under load, as a team would run it. N clients
// each do the desktop program's token request and then send 59-second
// recognition requests for a set time, answering "busy" (err_no 3304) as the
// desktop does: a wait of 1 to 10 s and the same request again. Three runs,
// one after the other: one instance directly, nginx (the deployment's file) in
// front of two instances, and the same pair while one instance is killed and
// started again mid-load. Prints one `name: value` line per figure.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include "common/nginxfront.h"
#include "common/speechservice.h"
#include "service/replies.h"
#include "service/requestbodies.h"

#include "service/app/options.h"
#include "service/recognition/audio_input.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <map>
#include <mutex>
#include <random>
#include <thread>

using Clock = std::chrono::steady_clock;

namespace {

const char *kKey = "loadbench-shared-key";
const char *kClient = speech::kDefaultClientId; // the desktop program's pair
const char *kSecret = speech::kDefaultClientSecret;
constexpr int kClientLimitSeconds = 120; // the desktop program's limit per request

// SIGINT or SIGTERM: the run ends at once and the services and nginx with it.
std::atomic<bool> interrupted { false };

struct Settings
{
    int clients = 4;
    int seconds = 120;
    int decoders = 1;
    int maxQueueWait = 30;
};

// What the clients of one run saw.
struct Tally
{
    std::mutex mutex;
    std::vector<double> answeredSeconds; // round trips of err_no 0 replies
    std::map<int, int> byErrNo;
    int failures = 0; // what the desktop program would report as a failure
    std::map<std::string, int> failureKinds;

    void failure(const std::string &kind)
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++failures;
        ++failureKinds[kind];
    }
};

void print(const std::string &run, const std::string &name, double value, int decimals = 2)
{
    std::printf("%s.%s: %.*f\n", run.c_str(), name.c_str(), decimals, value);
    std::fflush(stdout);
}

double percentile(std::vector<double> sorted, double q)
{
    if (sorted.empty())
        return NAN;
    std::sort(sorted.begin(), sorted.end());
    const size_t rank = size_t(std::ceil(q * double(sorted.size())));
    return sorted[std::min(sorted.size(), std::max<size_t>(rank, 1)) - 1];
}

// One desktop program: a token, then recognitions until the time is up.
void runClient(
    int port, const std::string &audio, Clock::time_point end, unsigned seed, Tally &tally)
{
    httplib::Client http("127.0.0.1", port);
    http.set_connection_timeout(10, 0);
    http.set_read_timeout(kClientLimitSeconds, 0);
    http.set_write_timeout(kClientLimitSeconds, 0);
    std::mt19937 random(seed);

    std::string token;
    while (token.empty() && Clock::now() < end) {
        const testhttp::Reply r = testhttp::toReply(
            http.Get(testhttp::tokenPath("client_credentials", kClient, kSecret).c_str()));
        token = r.json["access_token"].asString();
        if (token.empty()) {
            tally.failure(r.status < 0 ? "token " + r.transportError
                                       : "token status " + std::to_string(r.status));
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
    }
    const std::string body = testaudio::text(testaudio::body(audio, token));

    while (Clock::now() < end) {
        const Clock::time_point sent = Clock::now();
        const testhttp::Reply r
            = testhttp::toReply(http.Post("/server_api", body, "application/json"));
        const double seconds = std::chrono::duration<double>(Clock::now() - sent).count();
        if (r.status < 0) {
            tally.failure(r.transportError);
            continue;
        }
        if (r.status != 200 || !r.isJson) {
            tally.failure("status " + std::to_string(r.status));
            continue;
        }
        const int errNo = r.json["err_no"].asInt();
        {
            std::lock_guard<std::mutex> lock(tally.mutex);
            ++tally.byErrNo[errNo];
            if (errNo == 0)
                tally.answeredSeconds.push_back(seconds);
        }
        if (errNo == 3304) {
            // The desktop program's back-off, then the same segment again.
            std::this_thread::sleep_for(std::chrono::seconds(1 + random() % 10));
        } else if (errNo != 0) {
            tally.failure("err_no " + std::to_string(errNo));
        }
    }
}

// Runs the clients against `port` while the event loop keeps the services'
// logs read; `midway` runs once a third of the time has passed.
bool runLoad(const std::string &run, int port, const Settings &settings, const std::string &audio,
    const std::function<void()> &midway = {})
{
    Tally tally;
    const Clock::time_point start = Clock::now();
    const Clock::time_point end = start + std::chrono::seconds(settings.seconds);
    std::atomic<int> running { settings.clients };
    std::vector<std::thread> clients;
    for (int i = 0; i < settings.clients; ++i) {
        clients.emplace_back([&, i] {
            runClient(port, audio, end, unsigned(i + 1), tally);
            --running;
        });
    }

    QEventLoop loop;
    QTimer finished;
    QObject::connect(&finished, &QTimer::timeout, [&] {
        if (running == 0 || interrupted)
            loop.quit();
    });
    finished.start(200);
    if (midway)
        QTimer::singleShot(settings.seconds * 1000 / 3, midway);
    loop.exec();
    for (std::thread &t : clients) {
        if (interrupted)
            t.detach(); // ends with the process; the services must not wait for it
        else
            t.join();
    }
    if (interrupted)
        return false;
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();

    int replies = 0;
    for (const auto &[errNo, count] : tally.byErrNo)
        replies += count;
    print(run, "clients", settings.clients, 0);
    print(run, "elapsed_s", elapsed, 1);
    print(run, "answered", double(tally.answeredSeconds.size()), 0);
    print(run, "answered_per_s", double(tally.answeredSeconds.size()) / elapsed, 3);
    print(run, "replies_per_s", replies / elapsed, 3);
    print(run, "latency_p50_s", percentile(tally.answeredSeconds, 0.50));
    print(run, "latency_p95_s", percentile(tally.answeredSeconds, 0.95));
    print(run, "latency_p99_s", percentile(tally.answeredSeconds, 0.99));
    print(run, "latency_max_s", percentile(tally.answeredSeconds, 1.0));
    for (const auto &[errNo, count] : tally.byErrNo)
        print(run, "err_no_" + std::to_string(errNo), count, 0);
    print(run, "busy_share", replies ? double(tally.byErrNo[3304]) / replies : 0, 3);
    print(run, "token_refusals", tally.byErrNo[3302], 0);
    print(run, "client_failures", tally.failures, 0);
    for (const auto &[kind, count] : tally.failureKinds)
        std::fprintf(stderr, "%s: failure \"%s\" x%d\n", run.c_str(), kind.c_str(), count);
    return true;
}

QStringList serviceArguments(const Settings &s)
{
    return { QStringLiteral("--threads"), QString::number(s.decoders), QStringLiteral("--key"),
        QString::fromLatin1(kKey), QStringLiteral("--max-queue-wait"),
        QString::number(s.maxQueueWait) };
}

bool startAll(std::initializer_list<SpeechServiceProcess *> services)
{
    for (SpeechServiceProcess *s : services) {
        if (!s->start()) {
            std::fprintf(
                stderr, "loadbench: the service did not start:\n%s\n", qPrintable(s->logText()));
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::signal(SIGINT, [](int) { interrupted = true; });
    std::signal(SIGTERM, [](int) { interrupted = true; });
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Load and fault runs of the speech service, directly and behind nginx."));
    parser.addHelpOption();
    Settings settings;
    struct NumberOption
    {
        QCommandLineOption option;
        int *value;
        int least;
    };
    const auto number = [](const char *name, const char *help, int *value, int least) {
        return NumberOption {
            QCommandLineOption(QString::fromLatin1(name),
                QStringLiteral("%1 (default %2).").arg(QString::fromLatin1(help)).arg(*value),
                QStringLiteral("N"), QString::number(*value)),
            value, least
        };
    };
    const NumberOption numbers[] = {
        number("clients", "Concurrent clients", &settings.clients, 1),
        number("seconds", "Duration of each run in seconds", &settings.seconds, 1),
        number("decoders", "Decoders per instance", &settings.decoders, 1),
        number("max-queue-wait", "The instances' --max-queue-wait in seconds",
            &settings.maxQueueWait, 0),
    };
    const QCommandLineOption runsOption(QStringLiteral("runs"),
        QStringLiteral("Runs to do (default direct,nginx,fault)."), QStringLiteral("LIST"),
        QStringLiteral("direct,nginx,fault"));
    for (const NumberOption &n : numbers)
        parser.addOption(n.option);
    parser.addOption(runsOption);
    parser.process(app);
    for (const NumberOption &n : numbers) {
        bool ok = false;
        *n.value = parser.value(n.option).toInt(&ok);
        if (!ok || *n.value < n.least) {
            std::fprintf(stderr, "loadbench: --%s needs a number from %d\n",
                qPrintable(n.option.names().constFirst()), n.least);
            return 2;
        }
    }
    const QStringList runs = parser.value(runsOption).split(QLatin1Char(','));
    if (runs.contains(QStringLiteral("nginx")) || runs.contains(QStringLiteral("fault"))) {
        if (!NginxFront::available()) {
            std::fprintf(stderr, "loadbench: nginx is missing (scripts/install-deps.sh)\n");
            return 1;
        }
    }

    // 59 seconds of English speech, the length of the desktop program's segments.
    QTemporaryDir dir;
    const QString wav = dir.filePath(QStringLiteral("speech.wav"));
    if (!makeSpeechWav(QStringLiteral(TOV_SOURCE_DIR "/tests/common/speechtext.txt"), wav)) {
        std::fprintf(stderr, "loadbench: flite or ffmpeg failed\n");
        return 1;
    }
    QFile file(wav);
    file.open(QIODevice::ReadOnly);
    const QByteArray bytes = file.readAll();
    std::vector<int16_t> samples
        = speech::readAudio(std::string_view(bytes.constData(), size_t(bytes.size()))).samples;
    samples.resize(59 * speech::kSampleRate);
    const std::string audio = speech::makeWav(samples);

    print("setup", "decoders_per_instance", settings.decoders, 0);
    print("setup", "max_queue_wait_s", settings.maxQueueWait, 0);
    print("setup", "run_s", settings.seconds, 0);
    print("setup", "audio_s", 59, 0);

    if (runs.contains(QStringLiteral("direct"))) {
        SpeechServiceProcess one(serviceArguments(settings));
        if (!startAll({ &one }))
            return 1;
        if (!runLoad("direct", one.port(), settings, audio))
            return 130;
    }
    for (const QString &run : { QStringLiteral("nginx"), QStringLiteral("fault") }) {
        if (!runs.contains(run))
            continue;
        SpeechServiceProcess one(serviceArguments(settings));
        SpeechServiceProcess two(serviceArguments(settings));
        NginxFront front;
        if (!startAll({ &one, &two }))
            return 1;
        if (!front.start({ one.port(), two.port() })) {
            std::fprintf(stderr, "loadbench: %s\n", qPrintable(front.error()));
            return 1;
        }
        std::function<void()> fault;
        if (run == QStringLiteral("fault")) {
            fault = [&] {
                const int port = two.port();
                const Clock::time_point killed = Clock::now();
                two.kill();
                std::fprintf(stderr, "loadbench: instance on port %d killed\n", port);
                if (!two.start(port))
                    std::fprintf(
                        stderr, "loadbench: restart failed:\n%s\n", qPrintable(two.logText()));
                print("fault", "restart_s",
                    std::chrono::duration<double>(Clock::now() - killed).count());
            };
        }
        if (!runLoad(run.toStdString(), front.port(), settings, audio, fault))
            return 130;
    }
    return 0;
}
