// speech-service: offline speech recognition behind an OAuth-style token
// endpoint and a JSON recognition endpoint.

#include "service/api/server.h"
#include "service/app/options.h"
#include "service/auth/clients_file.h"
#include "service/auth/key_file.h"
#include "service/recognition/pocketsphinx_recognizer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <malloc.h>
#include <pthread.h>
#include <sys/resource.h>
#include <thread>

using namespace speech;

namespace {

// Stop signals are taken by one thread that stops the server in an orderly
// way; every other thread, started later, inherits the blocked mask.
sigset_t blockStopSignals()
{
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP); // reloads the clients file, taken by the same thread
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return stopSignals;
}

void raiseProcessLimits()
{
    // Every connection worker and every waiting connection holds a socket,
    // more than the usual soft limit of 1024 open files allows.
    rlimit files {};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    // Large buffers (bodies, audio) come from the system and go straight back
    // to it when freed, rather than raising the threshold and staying.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    // The many connection threads would each get a heap of their own (up to 16 on two cores),
    // and over hours every one kept a little more; two heaps are shared by all of them.
    mallopt(M_ARENA_MAX, 2);
}

// The server's settings from the options; nothing when the key file or the
// clients file cannot be used.
std::optional<ServiceConfig> serviceConfig(const ServiceOptions &options)
{
    ServiceConfig config;
    config.key = options.key.empty() ? randomHex(32) : options.key;
    if (!options.key.empty())
        std::cerr << "speech-service: warning: --key shows the key to every local user in the "
                     "process list; give --key-file instead\n";
    if (!options.keyFile.empty()) {
        std::string warning;
        std::string error;
        const std::optional<std::string> key = readKeyFile(options.keyFile, warning, error);
        if (!key) {
            std::cerr << "speech-service: " << error << "\n";
            return std::nullopt;
        }
        if (!warning.empty())
            std::cerr << "speech-service: warning: " << warning << "\n";
        config.key = *key;
    }
    config.clientId = options.clientId;
    config.clientSecret = options.clientSecret;
    if (!options.clientsFile.empty()) {
        std::string warning;
        std::string error;
        std::optional<std::vector<Client>> clients
            = readClientsFile(options.clientsFile, warning, error);
        if (!clients) {
            std::cerr << "speech-service: " << error << "\n";
            return std::nullopt;
        }
        if (!warning.empty())
            std::cerr << "speech-service: warning: " << warning << "\n";
        config.clients = std::move(*clients);
    }
    config.defaultDevPid = options.defaultDevPid;
    config.limits = options.limits;
    return config;
}

// On SIGHUP: the clients file is read again; a file that cannot be used
// leaves the clients as they were.
void reloadClients(SpeechServer &server, const std::string &clientsFile)
{
    if (clientsFile.empty())
        return;
    // Never waits on what lies at the path (a FIFO is refused unread), so
    // that the signal thread is always free for the stop signals.
    std::string warning;
    std::string why;
    std::optional<std::vector<Client>> clients = readClientsFile(clientsFile, warning, why);
    if (!clients) {
        std::cerr << "speech-service: " << why << "; the clients stay as they were" << std::endl;
        return;
    }
    if (!warning.empty())
        std::cerr << "speech-service: warning: " << warning << std::endl;
    std::cerr << "speech-service: clients file read again: " << clients->size() << " client(s)"
              << std::endl;
    server.setClients(std::move(*clients));
}

// On SIGINT or SIGTERM: health turns to 503, the requests in progress get
// their time, then the server stops. SIGHUP reloads the clients meanwhile.
void waitForStopSignal(SpeechServer &server, sigset_t stopSignals, std::chrono::seconds timeout,
    const std::string &clientsFile)
{
    std::thread([&server, stopSignals, timeout, clientsFile] {
        int signal = 0;
        while (sigwait(&stopSignals, &signal) == 0 && signal == SIGHUP)
            reloadClients(server, clientsFile);
        std::cerr << "speech-service: stopping; health says 503, waiting up to " << timeout.count()
                  << " s for the requests in progress" << std::endl;
        server.beginStop();
        if (!server.waitIdle(timeout)) {
            std::cerr << "speech-service: requests still in progress after " << timeout.count()
                      << " s; stopped without them" << std::endl;
            std::_Exit(1);
        }
        server.stop();
    }).detach();
}

// One pool of decoders per model; nothing when a model cannot be loaded.
std::optional<DecoderPools> loadModels(const ServiceOptions &options, unsigned threads)
{
    const SearchSettings search = options.search;
    DecoderPools pools;
    for (const auto &[devPid, files] : options.models) {
        const ModelFiles model = files;
        try {
            pools[devPid] = std::make_shared<DecoderPool>(
                [model, search] { return std::make_unique<PocketSphinxRecognizer>(model, search); },
                threads);
            pools[devPid]->setMaxWait(std::chrono::seconds(options.maxQueueWaitSeconds));
        } catch (const std::exception &e) {
            std::cerr << "speech-service: cannot load the model for dev_pid " << devPid << ": "
                      << e.what() << "\n";
            return std::nullopt;
        }
    }
    return pools;
}

void logStart(const ServiceOptions &options, unsigned threads, int port)
{
    const SearchSettings &search = options.search;
    std::cerr << "speech-service: " << threads << " decoder(s) per model, models for dev_pid";
    for (const auto &entry : options.models)
        std::cerr << " " << entry.first;
    std::cerr << "\nspeech-service: " << describeOptions(options);
    std::cerr << "\nspeech-service: search "
              << (search == fastSearch()              ? "fast"
                         : search == accurateSearch() ? "accurate"
                                                      : "custom")
              << ": " << describeSearch(search);
    std::cerr << "\nlistening on " << options.host << ":" << port << std::endl;
}

} // namespace

int main(int argc, char **argv)
{
    std::string error;
    const std::optional<ServiceOptions> options
        = parseOptions(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
        std::cerr << "speech-service: " << error << "\n" << usageText();
        return 2;
    }
    if (options->help) {
        std::cout << usageText();
        return 0;
    }

    const sigset_t stopSignals = blockStopSignals();
    const unsigned threads
        = options->threads ? options->threads : std::max(1u, std::thread::hardware_concurrency());
    raiseProcessLimits();
    std::optional<ServiceConfig> config = serviceConfig(*options);
    if (!config)
        return 1;

    SpeechServer server(std::move(*config));
    const int port = server.bind(options->host, options->port);
    if (port < 0) {
        std::cerr << "speech-service: cannot listen on " << options->host << ":" << options->port
                  << "\n";
        return 1;
    }
    // Serving starts before the models load, so that a balancer polling
    // GET /health meanwhile sees 503 rather than a refused connection.
    std::atomic<bool> serveResult { false };
    std::atomic<bool> serveEnded { false };
    std::thread serving([&] {
        serveResult = server.serve();
        serveEnded = true;
    });
    // A stop asked for before the server runs would be lost.
    while (!server.running() && !serveEnded)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    waitForStopSignal(server, stopSignals, std::chrono::seconds(options->stopTimeoutSeconds),
        options->clientsFile);

    std::cerr << "speech-service: loading models; GET /health on " << options->host << ":" << port
              << " answers 503 until they are loaded" << std::endl;
    std::optional<DecoderPools> pools = loadModels(*options, threads);
    if (!pools) {
        server.beginStop();
        server.stop();
        serving.join();
        return 1;
    }
    server.setModels(std::move(*pools));
    logStart(*options, threads, port);

    serving.join();
    std::cerr << "speech-service: stopped" << std::endl;
    return serveResult ? 0 : 1;
}
