#include "service/app/options.h"

#include "service/api/body_rules.h"
#include "service/app/limit_options.h"
#include "service/app/option_set.h"
#include "service/app/search_options.h"

namespace speech {

namespace {

// "1737=/dir/hmm,/dir/model.lm.bin,/dir/words.dict"
bool parseModel(const std::string &text, int &devPid, ModelFiles &files)
{
    const size_t eq = text.find('=');
    long long number = 0;
    if (eq == std::string::npos || !parseInteger(text.substr(0, eq), 1, 999999, number))
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

ValueRule modelRule(std::map<int, ModelFiles> &models)
{
    return { "DEV_PID=HMM_DIR,LM,DICT",
        [&models](const std::string &text) {
            int devPid = 0;
            ModelFiles files;
            if (!parseModel(text, devPid, files))
                return false;
            models[devPid] = files;
            return true;
        },
        [] { return std::string(); }, {}, {} };
}

void declareListeningOptions(OptionSet &set, ServiceOptions &o)
{
    set.flag("-h,--help", "print this text", o.help);
    set.add({ "--host", "ADDRESS", "address to listen on" }, textRule(o.host, "an address"));
    set.add({ "--port", "N", "port to listen on, 0 for a free one" }, numberRule(o.port, 0, 65535));
    set.add({ "--threads", "N", "decoders per model, run side by side", {}, "one per core" },
        numberRule(o.threads, 1, 1024));
}

// The key that signs tokens, given one way only.
void declareKeyOptions(OptionSet &set, ServiceOptions &o)
{
    set.add({ "--key-file", "PATH",
                "file holding the key that signs tokens; give every instance behind one load "
                "balancer the same key",
                {}, "random per run" },
        textRule(o.keyFile, "a path"));
    set.add({ "--key", "SECRET",
                "the key itself; every local user sees it in the process list, so prefer "
                "--key-file",
                {}, "-" },
        textRule(o.key, "a non-empty secret"));
    set.whenParsed([&o](std::string &error) {
        if (o.key.empty() || o.keyFile.empty())
            return true;
        error = "give --key or --key-file, not both";
        return false;
    });
}

void declareModelOptions(OptionSet &set, ServiceOptions &o)
{
    set.add({ "--model", "DEV_PID=HMM_DIR,LM,DICT",
                "recognise dev_pid DEV_PID with this PocketSphinx acoustic model directory, "
                "language model and dictionary; may be repeated (1737, US English, is built in)",
                {}, "-" },
        modelRule(o.models));
    ValueRule defaultDevPid = numberRule(o.defaultDevPid, 1, 999999);
    defaultDevPid.needs = "a positive number";
    set.add({ "--default-dev-pid", "N", "model for requests without \"dev_pid\"" },
        std::move(defaultDevPid));
}

void declareClientOptions(OptionSet &set, ServiceOptions &o)
{
    set.add({ "--client-id", "ID", "accepted client id", {}, "the desktop program's" },
        textRule(o.clientId, "a value"));
    set.add({ "--client-secret", "S", "accepted client secret", {}, "the desktop program's" },
        textRule(o.clientSecret, "a value"));
    set.add({ "--clients-file", "PATH",
                "accepted clients, \"ID SECRET\" a line (SECRET may be sha256:HEX); read again on "
                "SIGHUP; replaces the pair",
                {}, "-" },
        textRule(o.clientsFile, "a path"));
}

void declareWaitOptions(OptionSet &set, ServiceOptions &o)
{
    set.add({ "--max-queue-wait", "S",
                "answer a request \"busy\" (err_no 3304) when no decoder is free for it within S "
                "seconds; 0: when none is free at once",
                "decoder wait" },
        secondsRule(o.maxQueueWaitSeconds, 0, 3600));
    set.add({ "--stop-timeout", "S",
                "on SIGTERM or SIGINT, wait up to S seconds for the requests in progress",
                "stop wait" },
        secondsRule(o.stopTimeoutSeconds, 1, 3600));
}

// Every option of the service, each declared once: adding one is adding a line in one of the
// groups above (and its member to ServiceOptions).
void declareOptions(OptionSet &set, ServiceOptions &o)
{
    declareListeningOptions(set, o);
    declareKeyOptions(set, o);
    declareModelOptions(set, o);
    declareClientOptions(set, o);
    declareWaitOptions(set, o);
    declareLimitOptions(set, o.limits);
    declareSearchOptions(set, o.search);
}

ServiceOptions defaultOptions()
{
    ServiceOptions o;
    o.models[kEnglishDevPid] = defaultEnglishModel();
    return o;
}

const char *kProgram = "speech-service";
const char *kDescription = "Offline speech recognition behind the token and recognition endpoints.";

} // namespace

std::string usageText()
{
    ServiceOptions o = defaultOptions();
    OptionSet set(kProgram, kDescription);
    declareOptions(set, o);
    return set.help();
}

std::optional<ServiceOptions> parseOptions(const std::vector<std::string> &args, std::string &error)
{
    ServiceOptions o = defaultOptions();
    OptionSet set(kProgram, kDescription);
    declareOptions(set, o);
    if (!set.parse(args, error))
        return std::nullopt;
    return o;
}

std::string describeOptions(const ServiceOptions &options)
{
    ServiceOptions o = options;
    OptionSet set(kProgram, kDescription);
    declareOptions(set, o);
    return "limits: " + set.describe(kLimitsSection) + "; " + describeBodyLimits(o.limits)
        + "; waits: " + set.describe({});
}

} // namespace speech
