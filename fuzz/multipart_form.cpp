// The transcription API's form reader, over the fields a client may send: parts are split at
// NUL bytes, each "NAME=CONTENT".
#include "fuzzcheck.h"
#include "transcription_api.h"

#include <json/json.h>

#include <cstdint>
#include <set>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view in(reinterpret_cast<const char *>(data), size);
    httplib::Request req;
    req.set_header("Content-Type", "multipart/form-data; boundary=fuzz");
    for (size_t pos = 0; pos <= in.size();) {
        size_t end = in.find('\0', pos);
        if (end == std::string_view::npos)
            end = in.size();
        const std::string_view part = in.substr(pos, end - pos);
        const size_t eq = part.find('=');
        httplib::MultipartFormData field;
        field.name = std::string(part.substr(0, eq));
        if (eq != std::string_view::npos)
            field.content = std::string(part.substr(eq + 1));
        req.files.emplace(field.name, field);
        pos = end + 1;
    }

    httplib::Response res;
    const std::optional<speech::TranscriptionForm> form = speech::readTranscriptionForm(req, res);
    if (form) {
        // Taken: nothing answered yet, and exactly one non-empty file.
        FUZZ_CHECK(res.status == -1 && res.body.empty());
        FUZZ_CHECK(req.files.count("file") == 1);
        FUZZ_CHECK(form->file == &req.files.find("file")->second);
        FUZZ_CHECK(!form->file->content.empty());
        static const std::set<std::string> formats
            = { "json", "text", "srt", "verbose_json", "vtt" };
        FUZZ_CHECK(formats.count(form->responseFormat) == 1);
        FUZZ_CHECK(form->segments || form->words);
        FUZZ_CHECK(!form->words || form->responseFormat == "verbose_json");
    } else {
        // Refused: a 400 in the API's error shape.
        FUZZ_CHECK(res.status == 400);
        Json::Value body;
        Json::CharReaderBuilder builder;
        std::string errors;
        std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        FUZZ_CHECK(
            reader->parse(res.body.data(), res.body.data() + res.body.size(), &body, &errors));
        FUZZ_CHECK(body["error"]["message"].isString());
        FUZZ_CHECK(!body["error"]["message"].asString().empty());
        FUZZ_CHECK(body["error"]["type"].asString() == "invalid_request_error");
    }
    return 0;
}
