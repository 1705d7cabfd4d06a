// The speech service's clients file.
#include "service/auth/clients_file.h"
#include "fuzzcheck.h"

#include <openssl/sha.h>

#include <cctype>
#include <cstdint>
#include <set>

namespace {

std::string sha256Hex(const std::string &text)
{
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char *>(text.data()), text.size(), digest);
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : digest) {
        out.push_back(hex[b >> 4]);
        out.push_back(hex[b & 15]);
    }
    return out;
}

bool isBlankFree(const std::string &s)
{
    for (char c : s) {
        if (std::isspace(static_cast<unsigned char>(c)))
            return false;
    }
    return !s.empty();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view in(reinterpret_cast<const char *>(data), size);
    std::string error;
    const std::optional<std::vector<speech::Client>> clients = speech::parseClients(in, error);
    if (!clients) {
        FUZZ_CHECK(!error.empty());
        return 0;
    }
    FUZZ_CHECK(!clients->empty());
    std::set<std::string> ids;
    std::string written;
    for (const speech::Client &c : *clients) {
        FUZZ_CHECK(ids.insert(c.id).second);
        FUZZ_CHECK(isBlankFree(c.id));
        FUZZ_CHECK(c.secret.empty() || isBlankFree(c.secret));
        FUZZ_CHECK(c.sha256.size() == 64);
        FUZZ_CHECK(c.sha256.find_first_not_of("0123456789abcdef") == std::string::npos);
        FUZZ_CHECK(c.secret.empty() || c.sha256 == sha256Hex(c.secret));
        written += c.id + " " + (c.secret.empty() ? "sha256:" + c.sha256 : c.secret) + "\n";
    }
    // The list written out again reads back the same, and every listed pair is accepted.
    std::string again;
    const std::optional<std::vector<speech::Client>> reread = speech::parseClients(written, again);
    FUZZ_CHECK(reread && reread->size() == clients->size());
    const speech::ClientRegistry registry(*clients);
    for (size_t i = 0; i < clients->size(); ++i) {
        FUZZ_CHECK((*reread)[i].id == (*clients)[i].id);
        FUZZ_CHECK((*reread)[i].secret == (*clients)[i].secret);
        FUZZ_CHECK((*reread)[i].sha256 == (*clients)[i].sha256);
        if (!(*clients)[i].secret.empty())
            FUZZ_CHECK(registry.accepts((*clients)[i].id, (*clients)[i].secret));
    }
    return 0;
}
