#include "service/auth/key_file.h"

#include "service/auth/private_file.h"

namespace speech {

std::optional<std::string> readKeyFile(
    const std::string &path, std::string &warning, std::string &error)
{
    std::optional<PrivateFile> file = readPrivateFile(path, "key file", kMaxKeyFileBytes, error);
    if (!file)
        return std::nullopt;
    std::optional<std::string> key = keyFromBytes(std::move(file->text), path, error);
    if (key && othersMayRead(file->mode))
        warning = "the key file " + path
            + " may be read by other users; make it readable by its owner only (chmod 600)";
    return key;
}

std::optional<std::string> keyFromBytes(
    std::string key, const std::string &path, std::string &error)
{
    if (key.size() > kMaxKeyFileBytes) {
        error = "the key file " + path + " holds more than 4096 bytes";
        return std::nullopt;
    }
    while (!key.empty() && (key.back() == '\n' || key.back() == '\r'))
        key.pop_back();
    if (key.empty()) {
        error = "the key file " + path + " is empty";
        return std::nullopt;
    }
    if (key.size() < kMinKeyBytes) {
        error = "the key in " + path + " is " + std::to_string(key.size())
            + " bytes long; a key needs at least " + std::to_string(kMinKeyBytes)
            + " (make one with: openssl rand -hex 32)";
        return std::nullopt;
    }
    return key;
}

} // namespace speech
