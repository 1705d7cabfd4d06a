#include "service/api/json_shape.h"

#include "service/api/utf8_text.h"

#include <json/json.h>

namespace speech {

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Skips a string that starts at `i` (the opening quote); returns the index
// after the closing quote, or the end of the text when it never closes.
size_t skipString(std::string_view text, size_t i)
{
    for (++i; i < text.size(); ++i) {
        if (text[i] == '\\')
            ++i;
        else if (text[i] == '"')
            return i + 1;
    }
    return text.size();
}

} // namespace

std::string flatObjectProblem(std::string_view text, size_t maxMembers)
{
    size_t i = 0;
    auto skipSpace = [&] {
        while (i < text.size() && isSpace(text[i]))
            ++i;
    };
    skipSpace();
    if (i < text.size() && text[i] != '{')
        return "request body is not a JSON object";
    ++i;
    size_t members = 0;
    while (true) {
        skipSpace();
        if (i >= text.size() || text[i] != '"')
            return {}; // "}" of an empty object, or broken: the parser decides
        const size_t keyStart = i;
        i = skipString(text, i);
        const std::string_view key = text.substr(keyStart + 1, i - keyStart - 2);
        if (++members > maxMembers)
            return "request body has more than " + std::to_string(maxMembers) + " members";
        skipSpace();
        if (i >= text.size() || text[i] != ':')
            return {};
        ++i;
        skipSpace();
        if (i >= text.size())
            return {};
        if (text[i] == '{' || text[i] == '[') {
            std::string name(key.substr(0, 64));
            for (char &c : name)
                c = c >= ' ' && c <= '~' ? c : '?';
            return "member \"" + name
                + "\" is an array or object; members of a request are plain values";
        }
        if (text[i] == '"') {
            i = skipString(text, i);
        } else {
            while (i < text.size() && !isSpace(text[i]) && text[i] != ',' && text[i] != '}')
                ++i;
        }
        skipSpace();
        if (i >= text.size() || text[i] != ',')
            return {}; // the closing brace, or broken
        ++i;
    }
}

std::string toJson(const Json::Value &value)
{
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;
    builder["precisionType"] = "decimal";
    builder["precision"] = 3;
    // Text from clients (a path, a field) may hold bytes that are not UTF-8;
    // the writer copies them as they are. Every structural character is
    // ASCII, so mending the written text mends only the strings.
    return toValidUtf8(Json::writeString(builder, value));
}

} // namespace speech
