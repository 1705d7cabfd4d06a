#include "service/api/model_catalog.h"

#include "protocol/speechprotocol.h"

#include <algorithm>
#include <cctype>

namespace speech {

namespace {

// "en-US" and "EN" name the language "en".
std::string isoLanguage(const std::string &language)
{
    std::string code = language.substr(0, language.find_first_of("-_"));
    std::transform(code.begin(), code.end(), code.begin(),
        [](unsigned char c) { return char(std::tolower(c)); });
    return code;
}

std::string languagesOf(const std::set<int> &installed)
{
    std::set<std::string> languages;
    for (int devPid : installed) {
        const std::string language = modelName(devPid).language;
        if (!language.empty())
            languages.insert(language);
    }
    std::string list;
    for (const std::string &l : languages)
        list += (list.empty() ? "" : ", ") + l;
    return list.empty() ? std::string("none") : list;
}

ModelChoice refused(int status, std::string message, const char *param, const char *code)
{
    ModelChoice c;
    c.status = status;
    c.message = std::move(message);
    c.param = param;
    c.code = code;
    return c;
}

} // namespace

ModelName modelName(int devPid)
{
    switch (devPid) {
    case speechprotocol::kEnglishDevPid:
        return { devPid, "pocketsphinx-en-us", "en", "english" };
    case 1537:
        return { devPid, "pocketsphinx-zh-cn", "zh", "chinese" };
    case 1936:
        return { devPid, "pocketsphinx-zh-cn-far-field", "zh", "chinese" };
    case 1637:
        return { devPid, "pocketsphinx-yue", "zh", "cantonese" };
    case 1837:
        return { devPid, "pocketsphinx-zh-sichuan", "zh", "chinese" };
    default:
        return { devPid, "pocketsphinx-" + std::to_string(devPid), "", "" };
    }
}

ModelChoice chooseModel(const std::string &model, const std::string &language,
    const std::set<int> &installed, int defaultDevPid)
{
    if (model.empty())
        return refused(400, "you must provide a model parameter", "model", "");
    const std::string wanted = language.empty() ? std::string() : isoLanguage(language);
    if (!language.empty()) {
        const bool known = std::any_of(installed.begin(), installed.end(),
            [&](int devPid) { return modelName(devPid).language == wanted; });
        if (!known)
            return refused(400,
                "no model for language '" + language
                    + "'; this service transcribes: " + languagesOf(installed),
                "language", "unsupported_language");
    }

    if (model == kGenericModelAlias) {
        // The default model unless it speaks another language than asked;
        // then the lowest dev_pid of that language (near field before far).
        ModelChoice c;
        const bool defaultFits = installed.count(defaultDevPid)
            && (wanted.empty() || modelName(defaultDevPid).language == wanted);
        if (defaultFits) {
            c.model = modelName(defaultDevPid);
            return c;
        }
        for (int devPid : installed) {
            if (wanted.empty() || modelName(devPid).language == wanted) {
                c.model = modelName(devPid);
                return c;
            }
        }
        return refused(404, "the default model is not installed", "model", "model_not_found");
    }

    for (int devPid : installed) {
        const ModelName name = modelName(devPid);
        if (name.id != model && std::to_string(devPid) != model)
            continue;
        if (!wanted.empty() && name.language != wanted)
            return refused(400,
                "the model '" + model + "' transcribes '" + name.language + "', not '" + language
                    + "'",
                "language", "unsupported_language");
        ModelChoice c;
        c.model = name;
        return c;
    }
    return refused(404, "the model '" + model + "' does not exist", "model", "model_not_found");
}

Json::Value modelList(const std::set<int> &installed, int64_t created)
{
    Json::Value body;
    body["object"] = "list";
    body["data"] = Json::Value(Json::arrayValue);
    auto add = [&](const std::string &id) {
        Json::Value m;
        m["id"] = id;
        m["object"] = "model";
        m["created"] = Json::Int64(created);
        m["owned_by"] = "speech-service";
        body["data"].append(m);
    };
    for (int devPid : installed)
        add(modelName(devPid).id);
    add(kGenericModelAlias);
    return body;
}

} // namespace speech
