#pragma once

#include "protocol/speechprotocol.h"
#include "service/http/service_limits.h"
#include "service/recognition/pocketsphinx_recognizer.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace speech {

// The accepted client pair compiled into the desktop program.
constexpr const char *kDefaultClientId = speechprotocol::token::kBuiltInClientId;
constexpr const char *kDefaultClientSecret = speechprotocol::token::kBuiltInClientSecret;
constexpr int kDefaultPort = speechprotocol::kDefaultPort;
constexpr int kEnglishDevPid = speechprotocol::kEnglishDevPid;

struct ServiceOptions
{
    std::string host = "127.0.0.1";
    int port = kDefaultPort; // 0 picks a free port
    unsigned threads = 0; // 0: one decoder per core
    std::string key; // empty: a random key for this run
    std::string keyFile; // read at start instead of `key`
    std::map<int, ModelFiles> models;
    int defaultDevPid = kEnglishDevPid;
    std::string clientId = kDefaultClientId;
    std::string clientSecret = kDefaultClientSecret;
    std::string clientsFile; // read at start and on SIGHUP instead of the single pair
    ServiceLimits limits;
    // Running behind a balancer: how long a request may wait for a decoder
    // before it is answered "busy" (3304), and how long a stop waits for the
    // requests in progress.
    int maxQueueWaitSeconds = 30;
    int stopTimeoutSeconds = 120;
    SearchSettings search = fastSearch();
    bool help = false;
};

std::string usageText();
// The options in force, for the start-up log: the limits and the waits.
std::string describeOptions(const ServiceOptions &options);

// Parses the command line; on a mistake returns nothing and says why in `error`.
std::optional<ServiceOptions> parseOptions(
    const std::vector<std::string> &args, std::string &error);

} // namespace speech
