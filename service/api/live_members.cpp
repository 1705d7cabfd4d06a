#include "service/api/live_members.h"

#include "protocol/speechprotocol.h"

#include <json/json.h>

#include <memory>

namespace speech {

namespace live = speechprotocol::live;

namespace {

std::string mustBe(const char *member, const char *what)
{
    return std::string("member \"") + member + "\" must be " + what;
}

} // namespace

LiveMembers readLiveMembers(std::string_view body)
{
    Json::CharReaderBuilder builder;
    Json::CharReaderBuilder::strictMode(&builder.settings_);
    builder["rejectDupKeys"] = false;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value parsed;
    LiveMembers m;
    bool ok = false;
    try {
        ok = reader->parse(body.data(), body.data() + body.size(), &parsed, nullptr);
    } catch (const std::exception &) {
        // The reader throws instead of failing on too deep nesting.
    }
    if (!ok || !parsed.isObject()) {
        m.problem = "request body is not a JSON object";
        return m;
    }
    // Read through a const reference: the non-const [] would add members.
    const Json::Value &root = parsed;
    const Json::Value &session = root[live::kSession];
    const Json::Value &offset = root[live::kOffset];
    const Json::Value &end = root[live::kEnd];
    if (!session.isNull() && !session.isString())
        m.problem = mustBe(live::kSession, "a string");
    else if (!offset.isUInt64() || offset.isBool())
        m.problem = mustBe(live::kOffset, "a count of samples");
    else if (!end.isNull()
        && !(end.isInt() && !end.isBool() && (end.asInt() == 0 || end.asInt() == 1)))
        m.problem = mustBe(live::kEnd, "0 or 1");
    if (!m.problem.empty())
        return m;
    m.session = session.asString();
    m.offset = offset.asUInt64();
    m.end = !end.isNull() && end.asInt() == 1;
    return m;
}

} // namespace speech
