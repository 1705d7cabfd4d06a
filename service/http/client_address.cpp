#include "service/http/client_address.h"

#include <arpa/inet.h>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace speech {

namespace {

// The address as the kernel's socket tables write it: each 32-bit word of the
// address as it lies in memory, printed as a number in hex, then the port.
std::optional<std::string> tableForm(const Endpoint &endpoint, bool &v6)
{
    unsigned char bytes[16];
    size_t words = 0;
    if (::inet_pton(AF_INET, endpoint.address.c_str(), bytes) == 1) {
        words = 1;
        v6 = false;
    } else if (::inet_pton(AF_INET6, endpoint.address.c_str(), bytes) == 1) {
        words = 4;
        v6 = true;
    } else {
        return std::nullopt;
    }
    std::string out;
    char hex[16];
    for (size_t i = 0; i < words; ++i) {
        uint32_t word = 0;
        std::memcpy(&word, bytes + 4 * i, 4);
        std::snprintf(hex, sizeof hex, "%08X", word);
        out += hex;
    }
    std::snprintf(hex, sizeof hex, ":%04X", unsigned(endpoint.port) & 0xffff);
    return out + hex;
}

std::optional<std::string> readAll(const char *path)
{
    std::ifstream in(path);
    if (!in)
        return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i]))
            != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

} // namespace

bool isLoopbackAddress(std::string_view address)
{
    unsigned char bytes[16];
    const std::string text(address);
    if (::inet_pton(AF_INET, text.c_str(), bytes) == 1)
        return bytes[0] == 127;
    if (::inet_pton(AF_INET6, text.c_str(), bytes) != 1)
        return false;
    static const unsigned char loopback6[16] = { 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1 };
    static const unsigned char mapped[12] = { 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff };
    return std::memcmp(bytes, loopback6, 16) == 0
        || (std::memcmp(bytes, mapped, 12) == 0 && bytes[12] == 127);
}

std::string clientOf(std::string_view address)
{
    return isLoopbackAddress(address) ? std::string("loopback") : std::string(address);
}

std::optional<uid_t> socketOwnerInTable(
    std::string_view table, const Endpoint &peer, const Endpoint &ours)
{
    bool peerV6 = false;
    bool oursV6 = false;
    const std::optional<std::string> local = tableForm(peer, peerV6);
    const std::optional<std::string> remote = tableForm(ours, oursV6);
    if (!local || !remote)
        return std::nullopt;
    std::istringstream lines { std::string(table) };
    std::string line;
    std::getline(lines, line); // the column names
    while (std::getline(lines, line)) {
        // sl local_address rem_address st tx_queue:rx_queue tr:tm->when retrnsmt uid ...
        std::istringstream fields(line);
        std::string slot, localField, remoteField, state, queues, timer, retransmits, uid;
        if (!(fields >> slot >> localField >> remoteField >> state >> queues >> timer >> retransmits
                >> uid))
            continue;
        if (!equalsIgnoringCase(localField, *local) || !equalsIgnoringCase(remoteField, *remote))
            continue;
        unsigned long owner = 0;
        const auto [end, ec] = std::from_chars(uid.data(), uid.data() + uid.size(), owner);
        if (ec != std::errc() || end != uid.data() + uid.size())
            return std::nullopt;
        return uid_t(owner);
    }
    return std::nullopt;
}

std::optional<uid_t> loopbackPeerOwner(const Endpoint &peer, const Endpoint &ours)
{
    if (!isLoopbackAddress(peer.address))
        return std::nullopt;
    // A dual-stack client's socket is listed in the IPv6 table with the
    // IPv4 addresses mapped.
    const bool v4 = peer.address.find(':') == std::string::npos;
    if (v4) {
        if (const std::optional<std::string> table = readAll("/proc/net/tcp"))
            if (const auto owner = socketOwnerInTable(*table, peer, ours))
                return owner;
    }
    const std::optional<std::string> table6 = readAll("/proc/net/tcp6");
    if (!table6)
        return std::nullopt;
    if (!v4)
        return socketOwnerInTable(*table6, peer, ours);
    return socketOwnerInTable(
        *table6, { "::ffff:" + peer.address, peer.port }, { "::ffff:" + ours.address, ours.port });
}

} // namespace speech
