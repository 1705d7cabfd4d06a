// The user's terms file: a parsed list written out again reads as the same list.
#include "core/userterms.h"
#include "fuzzcheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const UserTerms list
        = UserTerms::parse(QString::fromUtf8(reinterpret_cast<const char *>(data), int(size)));
    // A right side holding "=>" ("a => b => c") or starting with "#" is a term no line of its
    // own can write: it comes back from its correction's line, later in the list.
    const QString arrow = QStringLiteral("=>");
    bool reordered = false;
    QString written;
    for (const QString &term : list.terms) {
        FUZZ_CHECK(!term.isEmpty() && term == term.trimmed() && list.terms.count(term) == 1);
        if (term.contains(arrow) || term.startsWith(QLatin1Char('#')))
            reordered = true;
        else
            written += term + QLatin1Char('\n');
    }
    for (const UserTerms::Replacement &r : list.replacements) {
        FUZZ_CHECK(!r.wrong.isEmpty() && r.wrong == r.wrong.trimmed());
        written += r.wrong + QStringLiteral(" => ") + r.right + QLatin1Char('\n');
    }
    const UserTerms again = UserTerms::parse(written);
    if (reordered) {
        QStringList sorted = list.terms, sortedAgain = again.terms;
        sorted.sort();
        sortedAgain.sort();
        FUZZ_CHECK(sortedAgain == sorted);
    } else {
        FUZZ_CHECK(again.terms == list.terms);
    }
    FUZZ_CHECK(again.replacements.size() == list.replacements.size());
    for (int i = 0; i < list.replacements.size(); ++i) {
        FUZZ_CHECK(again.replacements[i].wrong == list.replacements[i].wrong);
        FUZZ_CHECK(again.replacements[i].right == list.replacements[i].right);
    }
    // The prompt is whole terms from the start of the list.
    const QString prompt = list.prompt();
    FUZZ_CHECK(prompt.isEmpty() || list.terms.join(QStringLiteral(", ")).startsWith(prompt));
    return 0;
}
