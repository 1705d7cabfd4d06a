// speech-service: offline speech recognition behind an OAuth-style token
// endpoint and a JSON recognition endpoint.

#include "options.h"
#include "pocketsphinx_recognizer.h"
#include "server.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <pthread.h>
#include <thread>

using namespace speech;

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

    // Signals are taken by one thread that stops the server in an orderly
    // way; every other thread, started later, inherits the blocked mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    const unsigned threads
        = options->threads ? options->threads : std::max(1u, std::thread::hardware_concurrency());

    ServiceConfig config;
    config.key = options->key.empty() ? randomHex(32) : options->key;
    config.clientId = options->clientId;
    config.clientSecret = options->clientSecret;
    config.defaultDevPid = options->defaultDevPid;
    // Workers wait for decoders while they hold a connection; enough of
    // them keep token requests answered under a burst of recognitions.
    config.httpThreads = std::max<size_t>(32, 4 * size_t(threads));

    const SearchSettings search = options->search;
    for (const auto &[devPid, files] : options->models) {
        const ModelFiles model = files;
        try {
            config.pools[devPid] = std::make_shared<DecoderPool>(
                [model, search] { return std::make_unique<PocketSphinxRecognizer>(model, search); },
                threads);
        } catch (const std::exception &e) {
            std::cerr << "speech-service: cannot load the model for dev_pid " << devPid << ": "
                      << e.what() << "\n";
            return 1;
        }
    }

    SpeechServer server(std::move(config));
    const int port = server.bind(options->host, options->port);
    if (port < 0) {
        std::cerr << "speech-service: cannot listen on " << options->host << ":" << options->port
                  << "\n";
        return 1;
    }

    std::thread signalWaiter([&server, stopSignals] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        server.stop();
    });
    signalWaiter.detach();

    std::cerr << "speech-service: " << threads << " decoder(s) per model, models for dev_pid";
    for (const auto &entry : options->models)
        std::cerr << " " << entry.first;
    std::cerr << "\nspeech-service: search "
              << (search == fastSearch()              ? "fast"
                         : search == accurateSearch() ? "accurate"
                                                      : "custom")
              << ": " << describeSearch(search);
    std::cerr << "\nlistening on " << options->host << ":" << port << std::endl;

    const bool ok = server.serve();
    std::cerr << "speech-service: stopped" << std::endl;
    return ok ? 0 : 1;
}
