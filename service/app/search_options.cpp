#include "service/app/search_options.h"

#include "service/app/option_set.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <memory>

namespace speech {

namespace {

// A beam is a probability ratio: below 1e-100 it prunes nothing. Above about 1e-12 PocketSphinx's
// histogram pruning divides by zero and the process dies of SIGFPE, so 1e-15 is the narrowest.
bool toBeam(const std::string &text, double &out)
{
    if (text.empty())
        return false;
    char *end = nullptr;
    errno = 0;
    out = std::strtod(text.c_str(), &end);
    return errno == 0 && end == text.c_str() + text.size() && std::isfinite(out) && out >= 1e-100
        && out <= 1e-15;
}

bool toYesNo(const std::string &text, bool &out)
{
    out = text == "yes";
    return text == "yes" || text == "no";
}

// What the search options asked for, applied once all are read.
struct PendingSearch
{
    SearchSettings preset;
    std::vector<std::function<void(SearchSettings &)>> changes;
};

// One setting's option: `read` turns the text into the value.
template <typename T>
ValueRule settingRule(const std::shared_ptr<PendingSearch> &pending, T SearchSettings::*member,
    std::string needs, std::function<bool(const std::string &, T &)> read, std::string range = {})
{
    return { std::move(needs),
        [pending, member, read](const std::string &text) {
            T value {};
            if (!read(text, value))
                return false;
            pending->changes.push_back([member, value](SearchSettings &s) { s.*member = value; });
            return true;
        },
        [] { return std::string(); }, {}, {}, std::move(range) };
}

ValueRule countRule(
    const std::shared_ptr<PendingSearch> &pending, int SearchSettings::*member, int min, int max)
{
    return settingRule<int>(
        pending, member, "a number from " + std::to_string(min) + " to " + std::to_string(max),
        [min, max](const std::string &text, int &out) {
            long long n = 0;
            if (!parseInteger(text, min, max, n))
                return false;
            out = int(n);
            return true;
        },
        std::to_string(min) + " to " + std::to_string(max));
}

// The three pruning beams, each a probability ratio.
void declareBeamOptions(OptionSet &options, const std::shared_ptr<PendingSearch> &pending)
{
    const struct
    {
        const char *name;
        const char *help;
        double SearchSettings::*member;
    } beams[]
        = { { "--beam", "pruning beam, the smaller the wider [-beam]", &SearchSettings::beam },
              { "--word-beam", "word pruning beam [-wbeam]", &SearchSettings::wordBeam },
              { "--phone-beam", "phone pruning beam [-pbeam]", &SearchSettings::phoneBeam } };
    for (const auto &beam : beams)
        options.add({ beam.name, "P", beam.help, {}, "-" },
            settingRule<double>(
                pending, beam.member, "a number from 1e-100 to 1e-15", toBeam, "1e-100 to 1e-15"));
}

} // namespace

const char *const kSearchSection
    = "Search (PocketSphinx's option in brackets; the defaults are --search fast)";

void declareSearchOptions(OptionSet &options, SearchSettings &settings)
{
    auto pending = std::make_shared<PendingSearch>();
    pending->preset = settings;
    options.section(kSearchSection);
    options.add({ "--search", "fast|accurate",
                    "fast: limits chosen on the tuning set (bench/tovtune); accurate: "
                    "PocketSphinx's full search, slower",
                    {}, "-" },
        { "fast or accurate",
            [pending](const std::string &text) {
                pending->preset = text == "fast" ? fastSearch() : accurateSearch();
                return text == "fast" || text == "accurate";
            },
            [] { return std::string(); }, {}, {} });
    options.add({ "--max-hmms-per-frame", "N", "HMMs kept per frame [-maxhmmpf]", {}, "-" },
        countRule(pending, &SearchSettings::maxHmmsPerFrame, 100, 100000));
    options.add(
        { "--max-words-per-frame", "N", "words kept per frame, 0 for no limit [-maxwpf]", {}, "-" },
        settingRule<int>(
            pending, &SearchSettings::maxWordsPerFrame,
            "a number from 1 to 1000, or 0 for no limit",
            [](const std::string &text, int &out) {
                long long n = 0;
                if (!parseInteger(text, 0, 1000, n))
                    return false;
                // 0 is no limit, which the decoder spells -1.
                out = n == 0 ? -1 : int(n);
                return true;
            },
            "1 to 1000"));
    declareBeamOptions(options, pending);
    options.add(
        { "--flat-pass", "yes|no", "second search with a flat lexicon [-fwdflat]", {}, "-" },
        settingRule<bool>(pending, &SearchSettings::flatPass, "yes or no", toYesNo));
    options.add(
        { "--best-path", "yes|no", "best-path search of the word lattice [-bestpath]", {}, "-" },
        settingRule<bool>(pending, &SearchSettings::bestPath, "yes or no", toYesNo));
    options.add({ "--frame-step", "N", "decode every Nth frame [-ds]", {}, "-" },
        countRule(pending, &SearchSettings::frameStep, 1, 4));
    options.footer("fast is now: " + describeSearch(fastSearch()));

    // The preset first, so that a single setting given before it still counts.
    options.whenParsed([pending, &settings](std::string &) {
        settings = pending->preset;
        for (const auto &change : pending->changes)
            change(settings);
        return true;
    });
}

bool parseSearchOptions(
    const std::vector<std::string> &args, SearchSettings &settings, std::string &error)
{
    OptionSet options("tovtune", "search options");
    declareSearchOptions(options, settings);
    return options.parse(args, error);
}

} // namespace speech
