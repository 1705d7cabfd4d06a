// The text rules over any recognised text: script, the user's terms, numbers, punctuation.
#include "core/chinesenumbers.h"
#include "core/chinesepunctuation.h"
#include "core/chinesescript.h"
#include "core/textrules.h"
#include "fuzzcheck.h"

namespace {

// Every character that can begin or be part of a Chinese numeral reading.
bool hasNumeral(const QString &text)
{
    static const QString numerals = QString::fromUtf8("〇零一二两三四五六七八九十百千万亿点分之");
    for (const QChar c : text)
        if (numerals.contains(c))
            return true;
    return false;
}

} // namespace

// The first byte picks the rules; the terms file and the text follow, split at the first NUL.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray rest(reinterpret_cast<const char *>(data) + 1, int(size - 1));
    const int split = rest.indexOf('\0');
    const QString termsText = QString::fromUtf8(split < 0 ? QByteArray() : rest.left(split));
    const QString text = QString::fromUtf8(split < 0 ? rest : rest.mid(split + 1));

    TextRules rules;
    rules.script = ChineseScript::Target(data[0] % 4);
    rules.chinesePunctuation = data[0] & 4;
    rules.spaceBetween = data[0] & 8;
    rules.arabicNumbers = data[0] & 16;
    rules.terms = UserTerms::parse(termsText);
    const QString out = rules.apply(text);
    (void)rules.applyToWord(text);

    // Numbers change nothing in text without numerals.
    if (!hasNumeral(text))
        FUZZ_CHECK(ChineseNumbers::toDigits(text) == text);
    // The script, the punctuation and the blanks, applied twice, give what they gave once.
    const QString script = ChineseScript::convert(text, rules.script);
    FUZZ_CHECK(ChineseScript::convert(script, rules.script) == script);
    const QString marks = ChinesePunctuation::apply(text);
    FUZZ_CHECK(ChinesePunctuation::apply(marks) == marks);
    const QString spaced = ChinesePunctuation::spaced(text);
    FUZZ_CHECK(ChinesePunctuation::spaced(spaced) == spaced);
    // With nothing to change, the text comes back as it was.
    if (rules.changesNothing())
        FUZZ_CHECK(out == text);
    // A replacement's own text is never rewritten again: the first (longest) wrong text alone
    // becomes exactly its right one.
    if (!rules.terms.replacements.isEmpty()) {
        const UserTerms::Replacement &first = rules.terms.replacements.front();
        FUZZ_CHECK(rules.terms.apply(first.wrong) == first.right);
    }
    return 0;
}
