#include "service/api/health.h"

#include "service/api/json_shape.h"

#include <json/json.h>

#include <string>

namespace speech {

void answerHealth(
    http::Response &res, Readiness readiness, size_t requestsInProgress, const DecoderPools &pools)
{
    const char *kJson = "application/json; charset=utf-8";
    Json::Value body;
    body["requests_in_progress"] = Json::UInt64(requestsInProgress);
    if (readiness != Readiness::Ready) {
        body["status"] = readiness == Readiness::Loading ? "loading" : "stopping";
        res.setStatus(503);
        res.setContent(toJson(body), kJson);
        return;
    }
    body["status"] = "ready";
    body["dev_pids"] = Json::Value(Json::arrayValue);
    for (const auto &[devPid, pool] : pools) {
        const std::string key = std::to_string(devPid);
        body["dev_pids"].append(devPid);
        body["decoders"][key] = Json::UInt64(pool->size());
        body["free_decoders"][key] = Json::UInt64(pool->freeCount());
    }
    res.setStatus(200);
    res.setContent(toJson(body), kJson);
}

} // namespace speech
