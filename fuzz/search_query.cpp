// A search query as typed (window or command line), and the marking of matches in a line.
#include "core/searchtext.h"
#include "fuzzcheck.h"

namespace {

void checkSpans(const QString &line, const QVector<QPair<int, int>> &spans)
{
    int last = -1;
    for (const auto &s : spans) {
        FUZZ_CHECK(s.first > last && s.first < s.second && s.second <= line.size());
        last = s.second;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString input = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    const SearchText::Query query = SearchText::parse(input);
    FUZZ_CHECK(query.terms.size() <= SearchText::maxTerms);
    for (const QString &term : query.terms) {
        FUZZ_CHECK(!term.isEmpty() && term.size() <= SearchText::maxTermLength);
        FUZZ_CHECK(term == term.trimmed());
        FUZZ_CHECK(query.terms.count(term) == 1);
        // The index's narrowing is quoted whole: a term never leaks FTS5 syntax.
        const QString e = SearchText::wordExpression(term);
        FUZZ_CHECK(e.isEmpty() || e.startsWith(QLatin1Char('"')));
    }
    // The input as a line: its marks lie inside it, in order, apart; a line holding only the
    // terms themselves, parted by spaces, matches.
    checkSpans(input, SearchText::matchSpans(input, query));
    const QString own = query.terms.join(QLatin1Char(' '));
    const auto spans = SearchText::matchSpans(own, query);
    checkSpans(own, spans);
    FUZZ_CHECK(query.terms.isEmpty() == spans.isEmpty());
    QVector<int> offsets;
    const QString normalised = SearchText::normalise(input, &offsets);
    FUZZ_CHECK(offsets.size() == normalised.size() + 1 && offsets.last() == input.size());
    return 0;
}
