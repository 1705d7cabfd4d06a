#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace speech {

// One part of a transcription form as it was received: the file's bytes go
// to the decoder, so only its size is kept; a field's value is kept up to
// one byte past its limit, enough to tell that it is too long.
struct FormPart
{
    std::string name;
    std::string value; // empty for the file
    size_t size = 0; // bytes received
};

// What a field may hold: a prompt is a few sentences, the others are short.
size_t fieldLimit(const std::string &name);
// A form with more parts than this is refused while it arrives.
constexpr size_t kMaxFormParts = 64;

struct Form
{
    size_t fileBytes = 0;
    std::string model;
    std::string language;
    std::string responseFormat = "json";
    bool segments = false;
    bool words = false;
};

struct FormCheck
{
    std::optional<Form> form; // set when the form is good
    std::string message; // else why not, for a 400
    std::string param;
};

// The form's rules: one non-empty file, each known field at most once and
// within its limit, known values for the response format and the timestamp
// granularities (words only with verbose_json), a temperature from 0 to 1.
// Fields this service does not know are left alone, as newer clients send some.
FormCheck checkForm(const std::vector<FormPart> &parts);

} // namespace speech
