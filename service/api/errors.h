#pragma once

#include "service/http/http_server.h"
#include "service/http/service_limits.h"

#include <string>

namespace speech {

// Where the service stands: only Ready serves recognitions.
enum class Readiness { Loading, Ready, Stopping };

// Why a request is turned away while the service is not ready, in every API shape.
const char *unreadyMessage(Readiness readiness);

// The token protocol's error shape: {"error", "error_description"}.
std::string tokenErrorBody(const char *error, const std::string &description);
void answerTokenError(
    http::Response &res, int status, const char *error, const std::string &description);

// The transcription API's: {"error": {"message", "type", "param", "code"}}.
void answerApiError(http::Response &res, int status, const std::string &message,
    const std::string &param = {}, const std::string &code = {});

bool isTranscriptionApiPath(const std::string &path);

// The body of a reply no handler gave one (an unknown path, a body too large, a request that
// could not be read), in the shape of the API the path belongs to.
void describeError(const http::Request &req, http::Response &res, const ServiceLimits &limits);

} // namespace speech
