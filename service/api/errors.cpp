#include "service/api/errors.h"

#include "protocol/speechprotocol.h"
#include "service/api/api_paths.h"
#include "service/api/body_rules.h"
#include "service/api/json_shape.h"

#include <json/json.h>

namespace speech {

namespace {

const char *kJson = "application/json; charset=utf-8";

const char *errorType(int status)
{
    switch (status) {
    case 401:
        return "authentication_error";
    case 429:
        return "rate_limit_error";
    case 500:
    case 503:
        return "server_error";
    default:
        return "invalid_request_error";
    }
}

void describeApiError(const http::Request &req, http::Response &res, const ServiceLimits &limits)
{
    const int status = res.status();
    const std::string &method = req.method();
    const std::string &path = req.path();
    if (status == 413 && path == kTranscriptionsPath && method == "POST")
        answerApiError(res, status,
            "the upload is larger than the " + std::to_string(limits.maxUploadBytes)
                + " bytes this service takes",
            "file", "file_too_large");
    else if (status == 413)
        answerApiError(res, status, method + " " + path + " takes no body");
    else if (status == 404)
        answerApiError(res, status, "no such endpoint: " + method + " " + path);
    else
        answerApiError(res, status,
            status == 408 ? "the request did not arrive in time: within "
                    + std::to_string(limits.requestTimeoutSeconds)
                    + " s, with no pause longer than 5 s"
                : status == 416 ? std::string("the requested range is not satisfiable")
                                : std::string("the request could not be read"));
}

void describeTokenError(const http::Request &req, http::Response &res, const ServiceLimits &limits)
{
    const std::string &method = req.method();
    const std::string &path = req.path();
    const int status = res.status();
    switch (status) {
    case 404:
        answerTokenError(res, status, "not_found", "no such endpoint: " + method + " " + path);
        break;
    case 408:
        answerTokenError(res, status, "request_timeout",
            "a request must arrive within " + std::to_string(limits.requestTimeoutSeconds)
                + " s, with no pause longer than 5 s");
        break;
    case 411:
        answerTokenError(
            res, status, "length_required", "a body on this path needs a Content-Length");
        break;
    case 413: {
        const size_t limit = bodyRuleFor(method, path, limits).maxBytes;
        answerTokenError(res, status, "payload_too_large",
            limit ? "request bodies here are limited to " + std::to_string(limit) + " bytes"
                  : std::string("this request takes no body"));
        break;
    }
    case 416:
        answerTokenError(
            res, status, "range_not_satisfiable", "the requested range is not satisfiable");
        break;
    case 431:
        answerTokenError(res, status, "header_fields_too_large",
            "a request head is limited to " + std::to_string(limits.maxHeaderBytes) + " bytes and "
                + std::to_string(limits.maxHeaderCount) + " header lines");
        break;
    default:
        answerTokenError(res, status, "bad_request", "the request could not be handled");
    }
}

} // namespace

const char *unreadyMessage(Readiness readiness)
{
    return readiness == Readiness::Loading
        ? "the service is still loading its models; send the request again"
        : "the service is stopping; send the request again";
}

std::string tokenErrorBody(const char *error, const std::string &description)
{
    Json::Value body;
    body[speechprotocol::kError] = error;
    body[speechprotocol::kErrorDescription] = description;
    return toJson(body);
}

void answerTokenError(
    http::Response &res, int status, const char *error, const std::string &description)
{
    res.setStatus(status);
    res.setContent(tokenErrorBody(error, description), kJson);
}

void answerApiError(http::Response &res, int status, const std::string &message,
    const std::string &param, const std::string &code)
{
    Json::Value error;
    error["message"] = message;
    error["type"] = errorType(status);
    error["param"] = param.empty() ? Json::Value() : Json::Value(param);
    error["code"] = code.empty() ? Json::Value() : Json::Value(code);
    Json::Value body;
    body["error"] = error;
    res.setStatus(status);
    res.setContent(toJson(body), kJson);
}

bool isTranscriptionApiPath(const std::string &path)
{
    return path.rfind(kApiPathPrefix, 0) == 0;
}

void describeError(const http::Request &req, http::Response &res, const ServiceLimits &limits)
{
    if (isTranscriptionApiPath(req.path()))
        describeApiError(req, res, limits);
    else
        describeTokenError(req, res, limits);
}

} // namespace speech
