#pragma once

#include "service/api/token_protocol.h"
#include "service/http/http_server.h"
#include "service/recognition/live_sessions.h"

#include <string>

namespace speech {

// POST /server_api/live: a recognition request whose audio is one piece of an utterance being
// said, checked and authorised as a recognition is, with the session, the piece's offset and
// whether it ends the utterance. Every reply is the recognition reply's shape with the session;
// the last piece's holds the utterance's text.
void answerLivePiece(const std::string &requestBody, http::Response &res,
    const TokenProtocol &protocol, LiveSessions &sessions);

} // namespace speech
