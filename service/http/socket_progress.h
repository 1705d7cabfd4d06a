#pragma once

#include <cstdint>

namespace speech {

// What the kernel knows of a connected TCP socket, for a watchdog that does
// not read from it: how many bytes the peer has sent (read or not), how many
// wait unread, whether the peer has closed its side and how long ago its
// last data came.
struct SocketProgress
{
    uint64_t received = 0;
    uint64_t unread = 0;
    bool peerClosed = false;
    uint32_t idleMs = 0;
};
bool socketProgress(int sock, SocketProgress &progress);

} // namespace speech
