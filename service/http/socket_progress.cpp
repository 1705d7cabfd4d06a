#include "service/http/socket_progress.h"

// The kernel's own tcp_info; the C library's copy lacks the byte counts.
#include <linux/sockios.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace speech {

namespace {
// The kernel's connection states (include/net/tcp_states.h), not in its user headers.
enum TcpState : uint8_t {
    TimeWait = 6,
    Close = 7,
    CloseWait = 8,
    LastAck = 9,
    Closing = 11,
};
} // namespace

bool socketProgress(int sock, SocketProgress &progress)
{
    // The two counts come from two calls. Data arriving between them would be
    // unread without having been counted as received, and a watchdog taking
    // the difference for what was read would see a huge head. The received
    // count is read on both sides of the unread one until it stays the same;
    // the later one is kept, which is never less than what is unread.
    tcp_info info {};
    int unread = 0;
    for (int attempt = 0; attempt < 8; ++attempt) {
        tcp_info before {};
        socklen_t length = sizeof before;
        if (::getsockopt(sock, IPPROTO_TCP, TCP_INFO, &before, &length) != 0)
            return false;
        if (::ioctl(sock, SIOCINQ, &unread) != 0)
            unread = 0;
        length = sizeof info;
        if (::getsockopt(sock, IPPROTO_TCP, TCP_INFO, &info, &length) != 0)
            return false;
        if (before.tcpi_bytes_received == info.tcpi_bytes_received)
            break;
    }
    progress.received = info.tcpi_bytes_received;
    progress.unread = uint64_t(unread > 0 ? unread : 0);
    progress.idleMs = info.tcpi_last_data_recv;
    switch (info.tcpi_state) {
    case CloseWait:
    case LastAck:
    case Closing:
    case TimeWait:
    case Close:
        progress.peerClosed = true;
        break;
    default:
        progress.peerClosed = false;
    }
    return true;
}

} // namespace speech
