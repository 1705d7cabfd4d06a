#pragma once

#include <json/json.h>

#include <cstdint>
#include <set>
#include <string>

namespace speech {

// How the transcription API names the service's models.
struct ModelName
{
    int devPid = 0;
    std::string id; // "pocketsphinx-en-us"
    std::string language; // ISO 639-1, empty when not known
    std::string languageName; // as verbose replies give it: "english"
};
ModelName modelName(int devPid);

// Names every client of that API knows; it stands for the default model, or
// for the model of the language a request names.
constexpr const char *kGenericModelAlias = "whisper-1";

struct ModelChoice
{
    int status = 200; // 400 or 404 when refused
    std::string message;
    std::string param; // the form field at fault
    std::string code;
    ModelName model;

    bool ok() const { return status == 200; }
};

// The installed model a request's `model` and `language` fields ask for: an
// id, the generic alias or a dev_pid number; a language picks among models
// of the generic alias and must agree with a named one.
ModelChoice chooseModel(const std::string &model, const std::string &language,
    const std::set<int> &installed, int defaultDevPid);

// GET /v1/models.
Json::Value modelList(const std::set<int> &installed, int64_t created);

} // namespace speech
