#pragma once

// The request numbers the speech client's requests carry on an HTTP client (QtHttpClass), so
// that each reply finds its way back to whoever asked. A job shares one client between its
// token and its segments; the numbers differ so that neither takes the other's reply.
namespace HttpRequestIds {
constexpr int Token = 0;
constexpr int Recognition = 2;
constexpr int Transcriptions = 3;
} // namespace HttpRequestIds
