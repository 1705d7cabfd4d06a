#include "search_settings.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace speech {

namespace {

bool toInt(const std::string &text, int min, int max, int &out)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size() && out >= min
        && out <= max;
}

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

std::string number(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

} // namespace

bool SearchSettings::operator==(const SearchSettings &o) const
{
    return maxHmmsPerFrame == o.maxHmmsPerFrame && maxWordsPerFrame == o.maxWordsPerFrame
        && beam == o.beam && wordBeam == o.wordBeam && phoneBeam == o.phoneBeam
        && flatPass == o.flatPass && bestPath == o.bestPath && frameStep == o.frameStep;
}

SearchSettings accurateSearch()
{
    return {};
}

// The fastest setting within a point of the full search on the tuning set: a third of its
// decoding time there. On long clear speech, where the limits seldom bind and the flat pass
// finds words the first pass missed, it takes two thirds of the time at two points more word
// errors (see the README); --search accurate keeps them.
SearchSettings fastSearch()
{
    SearchSettings s;
    s.maxHmmsPerFrame = 3000;
    s.maxWordsPerFrame = 10;
    s.flatPass = false;
    return s;
}

std::vector<std::string> decoderArguments(const SearchSettings &s)
{
    return { "-maxhmmpf", std::to_string(s.maxHmmsPerFrame), "-maxwpf",
        std::to_string(s.maxWordsPerFrame), "-beam", number(s.beam), "-wbeam", number(s.wordBeam),
        "-pbeam", number(s.phoneBeam), "-fwdflat", s.flatPass ? "yes" : "no", "-bestpath",
        s.bestPath ? "yes" : "no", "-ds", std::to_string(s.frameStep) };
}

std::string describeSearch(const SearchSettings &settings)
{
    std::string line;
    for (const std::string &word : decoderArguments(settings))
        line += (line.empty() ? "" : " ") + word;
    return line;
}

bool isSearchOption(const std::string &name)
{
    for (const char *n : { "--search", "--max-hmms-per-frame", "--max-words-per-frame", "--beam",
             "--word-beam", "--phone-beam", "--flat-pass", "--best-path", "--frame-step" }) {
        if (name == n)
            return true;
    }
    return false;
}

bool applySearchOptions(const std::vector<std::pair<std::string, std::string>> &options,
    SearchSettings &settings, std::string &error)
{
    // The preset first, so that a single setting given before it still counts.
    for (const auto &[name, value] : options) {
        if (name != "--search")
            continue;
        if (value == "fast")
            settings = fastSearch();
        else if (value == "accurate")
            settings = accurateSearch();
        else {
            error = "--search needs fast or accurate";
            return false;
        }
    }
    for (const auto &[name, value] : options) {
        bool ok = true;
        if (name == "--max-hmms-per-frame") {
            ok = toInt(value, 100, 100000, settings.maxHmmsPerFrame);
            error = name + " needs a number from 100 to 100000";
        } else if (name == "--max-words-per-frame") {
            ok = toInt(value, 0, 1000, settings.maxWordsPerFrame);
            if (ok && settings.maxWordsPerFrame == 0)
                settings.maxWordsPerFrame = -1;
            error = name + " needs a number from 1 to 1000, or 0 for no limit";
        } else if (name == "--beam" || name == "--word-beam" || name == "--phone-beam") {
            double &beam = name == "--beam" ? settings.beam
                : name == "--word-beam"     ? settings.wordBeam
                                            : settings.phoneBeam;
            ok = toBeam(value, beam);
            error = name + " needs a number from 1e-100 to 1e-15";
        } else if (name == "--flat-pass" || name == "--best-path") {
            ok = toYesNo(value, name == "--flat-pass" ? settings.flatPass : settings.bestPath);
            error = name + " needs yes or no";
        } else if (name == "--frame-step") {
            ok = toInt(value, 1, 4, settings.frameStep);
            error = name + " needs a number from 1 to 4";
        }
        if (!ok)
            return false;
    }
    error.clear();
    return true;
}

std::string searchUsageText()
{
    const SearchSettings fast = fastSearch();
    return "Search (PocketSphinx's option in brackets; the defaults are --search fast):\n"
           "  --search fast|accurate  fast: limits chosen on the tuning set (bench/tovtune);\n"
           "                        accurate: PocketSphinx's full search, slower\n"
           "  --max-hmms-per-frame N  HMMs kept per frame, 100 to 100000 [-maxhmmpf]\n"
           "  --max-words-per-frame N words kept per frame, 1 to 1000, 0 for no limit [-maxwpf]\n"
           "  --beam P, --word-beam P, --phone-beam P\n"
           "                        pruning beams, 1e-100 (wide) to 1e-15 [-beam, -wbeam, -pbeam]\n"
           "  --flat-pass yes|no    second search with a flat lexicon [-fwdflat]\n"
           "  --best-path yes|no    best-path search of the word lattice [-bestpath]\n"
           "  --frame-step N        decode every Nth frame, 1 to 4 [-ds]\n"
           "  fast is now: "
        + describeSearch(fast) + "\n";
}

} // namespace speech
