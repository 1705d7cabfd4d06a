#pragma once

#include <httplib.h>
#include <json/json.h>

#include <memory>
#include <string>

// Replies of the speech service as the HTTP tests read them.
namespace testhttp {

inline Json::Value parse(const std::string &text, bool *ok = nullptr)
{
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value v;
    const bool parsed = reader->parse(text.data(), text.data() + text.size(), &v, nullptr);
    if (ok)
        *ok = parsed;
    return v;
}

struct Reply
{
    int status = -1; // -1: no reply at all
    Json::Value json;
    bool isJson = false;
    std::string transportError;
};

inline Reply toReply(const httplib::Result &r)
{
    Reply reply;
    if (!r) {
        reply.transportError = httplib::to_string(r.error());
        return reply;
    }
    reply.status = r->status;
    reply.json = parse(r->body, &reply.isJson);
    return reply;
}

inline std::string tokenPath(
    const std::string &grant, const std::string &id, const std::string &secret)
{
    return "/oauth/2.0/token?grant_type=" + grant + "&client_id=" + id + "&client_secret=" + secret;
}

} // namespace testhttp
