#include "core/textrules.h"

#include "core/chinesenumbers.h"
#include "core/chinesepunctuation.h"

namespace {

UserTerms inScript(const UserTerms &terms, ChineseScript::Target script)
{
    if (script == ChineseScript::Target::AsGiven)
        return terms;
    UserTerms converted = terms;
    for (UserTerms::Replacement &r : converted.replacements)
        r.wrong = ChineseScript::convert(r.wrong, script);
    return converted;
}

} // namespace

QString TextRules::apply(const QString &text) const
{
    QString out = ChineseScript::convert(text, script);
    out = inScript(terms, script).apply(out);
    if (arabicNumbers)
        out = ChineseNumbers::toDigits(out);
    if (chinesePunctuation)
        out = ChinesePunctuation::apply(out);
    if (spaceBetween)
        out = ChinesePunctuation::spaced(out);
    return out;
}

QString TextRules::applyToWord(const QString &word) const
{
    return inScript(terms, script).apply(ChineseScript::convert(word, script));
}
