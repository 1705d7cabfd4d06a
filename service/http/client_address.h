#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace speech {

// 127.0.0.0/8, ::1 and 127.0.0.0/8 mapped into IPv6, as numeric text.
bool isLoopbackAddress(std::string_view address);

// The client a connection counts against: every loopback address is one
// client (anyone on this machine can pick any of them), any other address
// is itself.
std::string clientOf(std::string_view address);

// The user owning the socket at `peer` connected to `ours`, looked up in a
// table in the form of /proc/net/tcp or /proc/net/tcp6; nothing when the
// table does not list it.
struct Endpoint
{
    std::string address; // numeric
    int port = 0;
};
std::optional<uid_t> socketOwnerInTable(
    std::string_view table, const Endpoint &peer, const Endpoint &ours);

// The user of this machine whose socket is the peer of a loopback
// connection; nothing when the peer is not on loopback or not found.
std::optional<uid_t> loopbackPeerOwner(const Endpoint &peer, const Endpoint &ours);

} // namespace speech
