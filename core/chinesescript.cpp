#include "core/chinesescript.h"

#include <opencc/opencc.h>

#include <map>
#include <memory>
#include <mutex>

namespace {

bool hasHan(const QString &text)
{
    for (const QChar c : text)
        if (c.script() == QChar::Script_Han)
            return true;
    return false;
}

// Loading a table takes a while: each is loaded once and kept. A table that fails to load
// stays null, and the text passes unchanged.
const opencc::SimpleConverter *converter(const char *config)
{
    static std::mutex lock;
    static std::map<std::string, std::unique_ptr<opencc::SimpleConverter>> loaded;
    const std::lock_guard<std::mutex> guard(lock);
    auto found = loaded.find(config);
    if (found == loaded.end()) {
        std::unique_ptr<opencc::SimpleConverter> made;
        try {
            made = std::make_unique<opencc::SimpleConverter>(config);
        } catch (const std::exception &) { }
        found = loaded.emplace(config, std::move(made)).first;
    }
    return found->second.get();
}

QString through(const char *config, const QString &text)
{
    const opencc::SimpleConverter *c = converter(config);
    if (!c)
        return text;
    try {
        return QString::fromStdString(c->Convert(text.toStdString()));
    } catch (const std::exception &) {
        return text;
    }
}

} // namespace

namespace ChineseScript {

QString name(Target target)
{
    switch (target) {
    case Target::Simplified:
        return QStringLiteral("zh-Hans");
    case Target::TraditionalTaiwan:
        return QStringLiteral("zh-Hant-TW");
    case Target::TraditionalHongKong:
        return QStringLiteral("zh-Hant-HK");
    case Target::AsGiven:
        break;
    }
    return QString();
}

bool fromName(const QString &text, Target *target)
{
    for (const Target t : { Target::AsGiven, Target::Simplified, Target::TraditionalTaiwan,
             Target::TraditionalHongKong }) {
        if (text.compare(name(t), Qt::CaseInsensitive) == 0) {
            *target = t;
            return true;
        }
    }
    if (text.compare(QLatin1String("as-given"), Qt::CaseInsensitive) == 0) {
        *target = Target::AsGiven;
        return true;
    }
    return false;
}

QString convert(const QString &text, Target target)
{
    if (target == Target::AsGiven || !hasHan(text))
        return text;
    // Each table takes the other script's characters as they are, so mixed input needs one
    // pass; going through simplified first would lose what a traditional character told
    // (乾 and 幹 are both 干 there).
    switch (target) {
    case Target::TraditionalTaiwan:
        return through("s2twp.json", text);
    case Target::TraditionalHongKong:
        return through("s2hk.json", text);
    default:
        return through("t2s.json", text);
    }
}

} // namespace ChineseScript
