#include "service/api/transcription_form.h"

#include <cstdlib>
#include <set>

namespace speech {

namespace {

constexpr size_t kMaxFieldBytes = 256;
constexpr size_t kMaxPromptBytes = 8 * 1024;
constexpr size_t kMaxGranularities = 4;

FormCheck refuse(std::string message, std::string param = {})
{
    FormCheck check;
    check.message = std::move(message);
    check.param = std::move(param);
    return check;
}

// One of the fields given at most once, into the form; its refusal when its value is not one
// the API takes.
std::optional<FormCheck> takeField(const std::string &name, const std::string &value, Form &form)
{
    if (name == "model") {
        form.model = value;
    } else if (name == "language") {
        form.language = value;
    } else if (name == "response_format") {
        static const std::set<std::string> formats
            = { "json", "text", "srt", "verbose_json", "vtt" };
        if (!formats.count(value))
            return refuse(
                "response_format must be json, text, srt, verbose_json or vtt, not '" + value + "'",
                "response_format");
        form.responseFormat = value;
    } else if (name == "temperature") {
        // Taken and ignored: the recogniser has no sampling; only a
        // number in the API's range is a valid request.
        char *end = nullptr;
        const double t = std::strtod(value.c_str(), &end);
        if (value.empty() || *end != '\0' || !(t >= 0 && t <= 1))
            return refuse("temperature must be a number from 0 to 1", "temperature");
    }
    return std::nullopt;
}

} // namespace

size_t fieldLimit(const std::string &name)
{
    return name == "prompt" ? kMaxPromptBytes : kMaxFieldBytes;
}

FormCheck checkForm(const std::vector<FormPart> &parts)
{
    Form form;
    bool haveFile = false;
    std::set<std::string> seen;
    std::set<std::string> granularities;
    size_t granularityCount = 0;
    for (const FormPart &part : parts) {
        const std::string &name = part.name;
        if (name == "file") {
            if (haveFile)
                return refuse("send one file per request", "file");
            haveFile = true;
            form.fileBytes = part.size;
            continue;
        }
        const bool granularity
            = name == "timestamp_granularities[]" || name == "timestamp_granularities";
        const bool single = name == "model" || name == "language" || name == "prompt"
            || name == "temperature" || name == "response_format";
        if (!granularity && !single)
            continue;
        const size_t limit = fieldLimit(name);
        if (part.size > limit)
            return refuse(
                "the field " + name + " is longer than " + std::to_string(limit) + " bytes", name);
        if (single && !seen.insert(name).second)
            return refuse("the field " + name + " is given twice", name);
        const std::string &value = part.value;
        if (granularity) {
            if ((value != "segment" && value != "word") || ++granularityCount > kMaxGranularities)
                return refuse(
                    "timestamp_granularities[] takes segment and word, not '" + value + "'",
                    "timestamp_granularities");
            granularities.insert(value);
        } else if (std::optional<FormCheck> refused = takeField(name, value, form)) {
            return *refused;
        }
    }
    if (!haveFile)
        return refuse("the audio file is missing: send it in a field named file", "file");
    if (form.fileBytes == 0)
        return refuse("the audio file is empty", "file");
    if (granularities.count("word") && form.responseFormat != "verbose_json")
        return refuse(
            "word timestamps need response_format verbose_json", "timestamp_granularities");
    form.words = granularities.count("word") > 0;
    form.segments = granularities.empty() || granularities.count("segment") > 0;
    FormCheck check;
    check.form = form;
    return check;
}

} // namespace speech
