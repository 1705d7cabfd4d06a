#include "options.h"

#include <charconv>

namespace speech {

namespace {

bool toInt(const std::string &text, long long min, long long max, long long &out)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size() && !text.empty() && out >= min
        && out <= max;
}

// "1737=/dir/hmm,/dir/model.lm.bin,/dir/words.dict"
bool parseModel(const std::string &text, int &devPid, ModelFiles &files)
{
    const size_t eq = text.find('=');
    long long number = 0;
    if (eq == std::string::npos || !toInt(text.substr(0, eq), 1, 999999, number))
        return false;
    const std::string rest = text.substr(eq + 1);
    const size_t c1 = rest.find(',');
    const size_t c2 = c1 == std::string::npos ? c1 : rest.find(',', c1 + 1);
    if (c2 == std::string::npos || rest.find(',', c2 + 1) != std::string::npos)
        return false;
    files.acousticModelDir = rest.substr(0, c1);
    files.languageModel = rest.substr(c1 + 1, c2 - c1 - 1);
    files.dictionary = rest.substr(c2 + 1);
    devPid = int(number);
    return !files.acousticModelDir.empty() && !files.languageModel.empty()
        && !files.dictionary.empty();
}

} // namespace

std::string usageText()
{
    return "Usage: speech-service [options]\n"
           "Offline speech recognition behind the token and recognition endpoints.\n"
           "\n"
           "  --host ADDRESS        address to listen on (default 127.0.0.1)\n"
           "  --port N              port to listen on, 0 for a free one (default 18765)\n"
           "  --threads N           decoders per model, run side by side\n"
           "                        (default: one per core)\n"
           "  --key-file PATH       file holding the key that signs tokens; give every\n"
           "                        instance behind one load balancer the same key\n"
           "                        (default: random per run)\n"
           "  --key SECRET          the key itself; every local user sees it in the\n"
           "                        process list, so prefer --key-file\n"
           "  --model DEV_PID=HMM_DIR,LM,DICT\n"
           "                        recognise dev_pid DEV_PID with this PocketSphinx\n"
           "                        acoustic model directory, language model and dictionary;\n"
           "                        may be repeated (1737, US English, is built in)\n"
           "  --default-dev-pid N   model for requests without \"dev_pid\" (default 1737)\n"
           "  --client-id ID        accepted client id (default: the desktop program's)\n"
           "  --client-secret S     accepted client secret (default: the desktop program's)\n"
           "  --clients-file PATH   accepted clients, \"ID SECRET\" a line (SECRET may be\n"
           "                        sha256:HEX); read again on SIGHUP; replaces the pair\n"
           "  --max-queue-wait S    answer a request \"busy\" (err_no 3304) when no decoder\n"
           "                        is free for it within S seconds; 0: when none is free\n"
           "                        at once (default 30)\n"
           "  --stop-timeout S      on SIGTERM or SIGINT, wait up to S seconds for the\n"
           "                        requests in progress (default 120)\n"
           "  --help                print this text\n"
           "\n"
        + limitsUsageText() + searchUsageText();
}

std::optional<ServiceOptions> parseOptions(const std::vector<std::string> &args, std::string &error)
{
    ServiceOptions o;
    o.models[kEnglishDevPid] = defaultEnglishModel();
    std::vector<std::pair<std::string, std::string>> searchOptions;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool haveValue = false;
        const size_t eq = name.find('=');
        if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            haveValue = true;
        }
        if (name == "--help" || name == "-h") {
            o.help = true;
            continue;
        }
        static const char *const withValue[] = { "--host", "--port", "--threads", "--key",
            "--key-file", "--model", "--default-dev-pid", "--client-id", "--client-secret",
            "--clients-file", "--max-queue-wait", "--stop-timeout" };
        bool known = isSearchOption(name);
        for (const char *n : withValue)
            known = known || name == n;
        const bool isLimit = isLimitOption(name);
        if (!known && !isLimit) {
            error = "unknown option: " + args[i];
            return std::nullopt;
        }
        if (!haveValue) {
            if (i + 1 >= args.size()) {
                error = name + " needs a value";
                return std::nullopt;
            }
            value = args[++i];
        }
        if (isLimit) {
            if (!parseLimitOption(name, value, o.limits, error))
                return std::nullopt;
            continue;
        }

        long long number = 0;
        if (name == "--host") {
            if (value.empty()) {
                error = "--host needs an address";
                return std::nullopt;
            }
            o.host = value;
        } else if (name == "--port") {
            if (!toInt(value, 0, 65535, number)) {
                error = "--port needs a number from 0 to 65535";
                return std::nullopt;
            }
            o.port = int(number);
        } else if (name == "--threads") {
            if (!toInt(value, 1, 1024, number)) {
                error = "--threads needs a number from 1 to 1024";
                return std::nullopt;
            }
            o.threads = unsigned(number);
        } else if (name == "--key") {
            if (value.empty()) {
                error = "--key needs a non-empty secret";
                return std::nullopt;
            }
            o.key = value;
        } else if (name == "--key-file") {
            if (value.empty()) {
                error = "--key-file needs a path";
                return std::nullopt;
            }
            o.keyFile = value;
        } else if (name == "--model") {
            int devPid = 0;
            ModelFiles files;
            if (!parseModel(value, devPid, files)) {
                error = "--model needs DEV_PID=HMM_DIR,LM,DICT";
                return std::nullopt;
            }
            o.models[devPid] = files;
        } else if (name == "--default-dev-pid") {
            if (!toInt(value, 1, 999999, number)) {
                error = "--default-dev-pid needs a positive number";
                return std::nullopt;
            }
            o.defaultDevPid = int(number);
        } else if (name == "--client-id") {
            if (value.empty()) {
                error = "--client-id needs a value";
                return std::nullopt;
            }
            o.clientId = value;
        } else if (name == "--client-secret") {
            if (value.empty()) {
                error = "--client-secret needs a value";
                return std::nullopt;
            }
            o.clientSecret = value;
        } else if (name == "--clients-file") {
            if (value.empty()) {
                error = "--clients-file needs a path";
                return std::nullopt;
            }
            o.clientsFile = value;
        } else if (name == "--max-queue-wait" || name == "--stop-timeout") {
            const bool queue = name == "--max-queue-wait";
            if (!toInt(value, queue ? 0 : 1, 3600, number)) {
                error = name
                    + (queue ? " needs seconds from 0 to 3600" : " needs seconds from 1 to 3600");
                return std::nullopt;
            }
            (queue ? o.maxQueueWaitSeconds : o.stopTimeoutSeconds) = int(number);
        } else if (isSearchOption(name)) {
            searchOptions.emplace_back(name, value);
        }
    }
    if (!applySearchOptions(searchOptions, o.search, error))
        return std::nullopt;
    if (!o.key.empty() && !o.keyFile.empty()) {
        error = "give --key or --key-file, not both";
        return std::nullopt;
    }
    return o;
}

} // namespace speech
