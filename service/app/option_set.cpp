#include "service/app/option_set.h"

#include <CLI/CLI.hpp>

#include <charconv>

namespace speech {

namespace {

constexpr size_t kHelpWidth = 80;
constexpr size_t kNameColumn = 26;

// Word-wrapped to the help's width after the name column.
std::string wrap(const std::string &text)
{
    std::string out;
    size_t lineLength = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(' ', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string word = text.substr(start, end - start);
        if (lineLength > 0 && kNameColumn + lineLength + 1 + word.size() > kHelpWidth) {
            out += '\n';
            lineLength = 0;
        } else if (lineLength > 0) {
            out += ' ';
            ++lineLength;
        }
        out += word;
        lineLength += word.size();
        start = end + 1;
    }
    return out;
}

struct Entry
{
    OptionDeclaration declaration;
    ValueRule rule;
    std::string section;
};

} // namespace

bool parseInteger(const std::string &text, long long min, long long max, long long &out)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size() && out >= min
        && out <= max;
}

ValueRule textRule(std::string &target, std::string needs)
{
    return { std::move(needs),
        [&target](const std::string &text) {
            target = text;
            return !text.empty();
        },
        [&target] { return target; }, {}, {} };
}

struct OptionSet::Impl
{
    CLI::App app;
    std::string section;
    std::vector<Entry> entries;
    std::vector<std::function<bool(std::string &)>> checks;

    Impl(const std::string &program, const std::string &description)
        : app(description, program)
    { }
};

OptionSet::OptionSet(const std::string &program, const std::string &description)
    : d(new Impl(program, description))
{
    d->app.set_help_flag();
    // Whatever is left is refused with the service's own message.
    d->app.allow_extras();
    auto formatter = std::make_shared<CLI::Formatter>();
    formatter->column_width(kNameColumn);
    d->app.formatter(formatter);
}

OptionSet::~OptionSet() = default;

void OptionSet::section(const std::string &title)
{
    d->section = title;
}

void OptionSet::add(const OptionDeclaration &declaration, ValueRule rule)
{
    const std::string shown = declaration.defaultText.empty() ? rule.show()
        : declaration.defaultText == "-"                      ? std::string()
                                                              : declaration.defaultText;
    std::string help = declaration.help;
    if (!rule.range.empty() || !shown.empty())
        help += " (" + rule.range + (rule.range.empty() || shown.empty() ? "" : ", ")
            + (shown.empty() ? "" : "default " + shown) + ")";
    const std::string name = declaration.name;
    auto take = rule.take;
    const std::string message = name + " needs " + rule.needs;
    CLI::Option *option = d->app.add_option(
        name,
        [take, message](const CLI::results_t &values) {
            for (const std::string &value : values) {
                if (!take(value))
                    throw CLI::ValidationError(message);
            }
            return true;
        },
        wrap(help));
    option->type_name(declaration.valueName);
    // Taken as they come, so that the first bad value is the one reported
    // and a repeated option is read each time.
    option->trigger_on_parse();
    if (!d->section.empty())
        option->group(d->section);
    d->entries.push_back({ declaration, std::move(rule), d->section });
}

void OptionSet::flag(const std::string &names, const std::string &help, bool &target)
{
    CLI::Option *option = d->app.add_flag(names, target, wrap(help));
    if (!d->section.empty())
        option->group(d->section);
}

void OptionSet::whenParsed(std::function<bool(std::string &error)> check)
{
    d->checks.push_back(std::move(check));
}

void OptionSet::footer(const std::string &text)
{
    d->app.footer(text);
}

bool OptionSet::parse(const std::vector<std::string> &args, std::string &error)
{
    // CLI11 reads its arguments from the back. "--name=" is an empty value,
    // as it is to the rest of the service, not a name waiting for one.
    std::vector<std::string> reversed;
    for (auto it = args.rbegin(); it != args.rend(); ++it) {
        const size_t eq = it->find('=');
        if (it->rfind("--", 0) == 0 && eq == it->size() - 1) {
            reversed.emplace_back();
            reversed.push_back(it->substr(0, eq));
        } else {
            reversed.push_back(*it);
        }
    }
    try {
        d->app.parse(reversed);
    } catch (const CLI::ValidationError &e) {
        error = e.what();
        return false;
    } catch (const CLI::ArgumentMismatch &e) {
        // Only a value missing at the end can be mismatched here.
        const std::string what = e.what();
        error = what.substr(0, what.find(':')) + " needs a value";
        return false;
    } catch (const CLI::ParseError &e) {
        error = e.what();
        return false;
    }
    const std::vector<std::string> extra = d->app.remaining();
    if (!extra.empty()) {
        error = "unknown option: " + extra.front();
        return false;
    }
    for (const auto &check : d->checks) {
        if (!check(error))
            return false;
    }
    return true;
}

std::string OptionSet::help() const
{
    return d->app.help();
}

std::string OptionSet::describe(const std::string &section) const
{
    std::string line;
    for (const Entry &e : d->entries) {
        if (e.section != section || e.declaration.logLabel.empty())
            continue;
        const std::string value = e.rule.show();
        line += (line.empty() ? "" : ", ") + e.declaration.logLabel + " ";
        if (!e.rule.zeroMeans.empty() && value == "0")
            line += e.rule.zeroMeans;
        else
            line += value + (e.rule.unit.empty() ? "" : " " + e.rule.unit);
    }
    return line;
}

} // namespace speech
