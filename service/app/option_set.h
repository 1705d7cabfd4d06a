#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace speech {

// How one option's value is read and shown: `take` stores a value and says
// whether it was good; "NAME needs <needs>" is the message when it was not;
// `show` gives the value now, for the help's default and the start-up log.
struct ValueRule
{
    std::string needs;
    std::function<bool(const std::string &)> take;
    std::function<std::string()> show;
    std::string unit; // after the value in the log ("s")
    std::string zeroMeans; // the log's word for 0 ("unbounded"); empty: 0 is a number
    std::string range = {}; // for the help ("0 to 65535")
};

// The one integer reader of the options: all of `text` is a number in [min, max].
bool parseInteger(const std::string &text, long long min, long long max, long long &out);

template <typename T>
ValueRule numberRule(T &target, long long min, long long max, std::string unit = {})
{
    const std::string range = std::to_string(min) + " to " + std::to_string(max);
    return { (unit == "s" ? "seconds from " : "a number from ") + range,
        [&target, min, max](const std::string &text) {
            long long n = 0;
            if (!parseInteger(text, min, max, n))
                return false;
            target = T(n);
            return true;
        },
        [&target] { return std::to_string(target); }, std::move(unit), {}, range };
}

template <typename T> ValueRule secondsRule(T &target, long long min, long long max)
{
    return numberRule(target, min, max, "s");
}

// Any text but the empty one.
ValueRule textRule(std::string &target, std::string needs);

// One option as the help and the log name it.
struct OptionDeclaration
{
    std::string name; // "--port"
    std::string valueName; // "N"
    std::string help; // one sentence; the help wraps it
    std::string logLabel = {}; // the start-up log's name for it; empty: not in the log
    std::string defaultText = {}; // the help's default when not the value itself; "-": none
};

// The service's options over CLI11: each option is declared once, with its
// rule, and its help, its message on a bad value and its place in the
// start-up log follow from that declaration. Values are taken in the order
// they are given, "--name value" or "--name=value"; a later one wins.
class OptionSet
{
public:
    OptionSet(const std::string &program, const std::string &description);
    ~OptionSet();
    OptionSet(const OptionSet &) = delete;
    OptionSet &operator=(const OptionSet &) = delete;

    // Later options belong to this section of the help and of the log.
    void section(const std::string &title);
    void add(const OptionDeclaration &declaration, ValueRule rule);
    void flag(const std::string &names, const std::string &help, bool &target);
    // Runs once all options are read, in the order given; a false return
    // refuses the command line with `error`.
    void whenParsed(std::function<bool(std::string &error)> check);
    // Text after the options in the help.
    void footer(const std::string &text);

    bool parse(const std::vector<std::string> &args, std::string &error);
    std::string help() const;
    // "label value unit, ..." for the logged options of a section.
    std::string describe(const std::string &section) const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace speech
