// The transcription API's form rules, over the parts a client may send: parts are split at NUL
// bytes, each "NAME=CONTENT", and reach the rules as the service's streaming reader hands them
// on (a file by its size, a field cut one byte past its limit).
#include "fuzzcheck.h"
#include "service/api/transcription_form.h"

#include <cstdint>
#include <set>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view in(reinterpret_cast<const char *>(data), size);
    std::vector<speech::FormPart> parts;
    size_t files = 0;
    size_t fileBytes = 0;
    for (size_t pos = 0; pos <= in.size() && parts.size() < speech::kMaxFormParts;) {
        size_t end = in.find('\0', pos);
        if (end == std::string_view::npos)
            end = in.size();
        const std::string_view part = in.substr(pos, end - pos);
        const size_t eq = part.find('=');
        speech::FormPart field;
        field.name = std::string(part.substr(0, eq));
        const std::string_view content
            = eq == std::string_view::npos ? std::string_view() : part.substr(eq + 1);
        field.size = content.size();
        if (field.name == "file") {
            ++files;
            fileBytes = content.size();
        } else {
            field.value = std::string(content.substr(0, speech::fieldLimit(field.name) + 1));
        }
        parts.push_back(std::move(field));
        pos = end + 1;
    }

    const speech::FormCheck checked = speech::checkForm(parts);
    if (checked.form) {
        // Taken: exactly one non-empty file, and what it asks for is what the API offers.
        FUZZ_CHECK(checked.message.empty());
        FUZZ_CHECK(files == 1 && checked.form->fileBytes == fileBytes && fileBytes > 0);
        static const std::set<std::string> formats
            = { "json", "text", "srt", "verbose_json", "vtt" };
        FUZZ_CHECK(formats.count(checked.form->responseFormat) == 1);
        FUZZ_CHECK(checked.form->segments || checked.form->words);
        FUZZ_CHECK(!checked.form->words || checked.form->responseFormat == "verbose_json");
        for (const speech::FormPart &part : parts)
            FUZZ_CHECK(part.name == "file" || part.value.size() <= speech::fieldLimit(part.name)
                || (part.name != "model" && part.name != "language" && part.name != "prompt"
                    && part.name != "temperature" && part.name != "response_format"
                    && part.name != "timestamp_granularities[]"
                    && part.name != "timestamp_granularities"));
    } else {
        // Refused: a reason for the 400, never a half-filled form.
        FUZZ_CHECK(!checked.message.empty());
    }
    return 0;
}
