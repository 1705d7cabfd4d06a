// A transcript line and a query as typed, through the word table's tokenizer into FTS5: the table
// only narrows what the text rules then match exactly, so it must find every line they match, and
// a query's expression, whatever was typed, is one FTS5 takes.
#include "core/characterpairs.h"
#include "core/searchtext.h"
#include "fuzzcheck.h"

#include <sqlite3.h>

namespace {

sqlite3 *table()
{
    static sqlite3 *const db = [] {
        sqlite3 *d = nullptr;
        FUZZ_CHECK(sqlite3_open(":memory:", &d) == SQLITE_OK);
        FUZZ_CHECK(CharacterPairs::registerWith(CharacterPairs::fts5Of(d)));
        FUZZ_CHECK(
            sqlite3_exec(d, "CREATE VIRTUAL TABLE d USING fts5(t, tokenize = 'character_pairs')",
                nullptr, nullptr, nullptr)
            == SQLITE_OK);
        return d;
    }();
    return db;
}

// The statement's one number; it must run.
int number(const char *sql, const QString &bound)
{
    sqlite3_stmt *st = nullptr;
    FUZZ_CHECK(sqlite3_prepare_v2(table(), sql, -1, &st, nullptr) == SQLITE_OK);
    const QByteArray text = bound.toUtf8();
    sqlite3_bind_text(st, 1, text.constData(), text.size(), SQLITE_STATIC);
    const int step = sqlite3_step(st);
    FUZZ_CHECK(step == SQLITE_ROW || step == SQLITE_DONE);
    const int value = step == SQLITE_ROW ? sqlite3_column_int(st, 0) : 0;
    sqlite3_finalize(st);
    return value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 4096)
        return 0;
    const QString input = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    const int cut = input.indexOf(QLatin1Char('\n'));
    const QString line = cut < 0 ? input : input.left(cut);
    QStringList typed { cut < 0 ? QString() : input.mid(cut + 1) };
    // And a piece of the line itself, so that most inputs look for something that is there;
    // whole characters, as typing gives them.
    if (!line.isEmpty() && size >= 2) {
        int from = data[0] % line.size();
        int to = qMin(line.size(), from + 1 + data[1] % 12);
        if (from > 0 && line[from].isLowSurrogate())
            --from;
        if (to < line.size() && line[to].isLowSurrogate())
            ++to;
        typed << line.mid(from, to - from);
    }

    FUZZ_CHECK(sqlite3_exec(table(), "DELETE FROM d", nullptr, nullptr, nullptr) == SQLITE_OK);
    number("INSERT INTO d (t) VALUES (?1)", SearchText::wordTableText(SearchText::normalise(line)));
    for (const QString &q : typed) {
        for (const QString &term : SearchText::parse(q).terms) {
            const QString expression = SearchText::wordExpression(term);
            if (expression.isEmpty())
                continue;
            const bool matches
                = !SearchText::matchSpans(line, SearchText::Query { { term } }).isEmpty();
            const bool found = number("SELECT count(*) FROM d WHERE d MATCH ?1", expression) > 0;
            FUZZ_CHECK(found || !matches);
        }
    }
    return 0;
}
