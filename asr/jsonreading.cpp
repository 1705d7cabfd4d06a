#include "asr/jsonreading.h"

#include <exception>
#include <memory>

#include <json/reader.h>

namespace JsonReading {

bool parseObject(const QByteArray &body, Json::Value *root)
{
    Json::CharReaderBuilder builder;
    // A reply cut off or followed by garbage is not a reply.
    builder["failIfExtra"] = true;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value value;
    std::string errors;
    const char *begin = body.constData();
    try {
        // JsonCpp throws on nesting deeper than its stack limit; such a body is no reply either.
        if (!reader->parse(begin, begin + body.size(), &value, &errors) || !value.isObject())
            return false;
    } catch (const std::exception &) {
        return false;
    }
    *root = value;
    return true;
}

QString utf8String(const Json::Value &value)
{
    const char *begin = nullptr;
    const char *end = nullptr;
    if (!value.isString() || !value.getString(&begin, &end))
        return QString();
    return QString::fromUtf8(begin, int(end - begin));
}

QString stringMember(const Json::Value &object, const char *name)
{
    return utf8String(object[name]);
}

} // namespace JsonReading
