#pragma once

#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>

// The text rules of transcript search: how lines and queries are made comparable, what a query
// asks for, and where a line matches it. No database: the index only narrows the lines these
// rules are then applied to, so a line is a result exactly when matchSpans finds it.
namespace SearchText {

// A text as search compares it: compatibility forms folded (full-width "ＡＢＣ１" is "abc1",
// the ideographic space a space), case folded, runs of blanks one space, and Chinese in
// simplified characters where OpenCC's tables are there. offsets, when given, receives for
// each character of the result the index in text of the character it came from, and one more
// entry, text's length.
QString normalise(const QString &text, QVector<int> *offsets = nullptr);

// True for the scripts written without spaces between words (Han, kana, bopomofo): their terms
// match anywhere, each character a word of its own.
bool isCharacterScript(uint codePoint);

struct Query
{
    // Normalised, without blanks at their ends, each once. A line matches when it holds every
    // term: a term in Chinese anywhere, a term starting with a Latin letter or digit only where a
    // word starts, and its last word may be the start of a longer one ("meet" finds "meeting").
    QStringList terms;
};

// Terms are parted by blanks; "double quotes" keep a phrase with its blanks as one term (an
// unclosed quote runs to the end). At most maxTerms terms of at most maxTermLength characters
// each are kept; anything longer is cut, so no query costs more than that.
constexpr int maxTerms = 16;
constexpr int maxTermLength = 200;
Query parse(const QString &query);

// Where line matches the query: every occurrence of every term as [start, end) in line's own
// characters, in order, overlaps merged; empty when some term is missing.
QVector<QPair<int, int>> matchSpans(const QString &line, const Query &query);
// How many occurrences matchSpans found before merging (a line's weight in the ranking).
int matchCount(const QString &line, const Query &query);
// The same of a line already normalised, as the index keeps it.
int countInNormalised(const QString &normalised, const Query &query);

// For the index: the normalised text as the word table takes it, each character of a
// character script parted from its neighbours, so that each is a word of its own, and each
// blank or sign between words a word U+E000.
QString wordTableText(const QString &normalised);
// True when the word table alone finds exactly the term's occurrences, each one instance of
// its phrase: a term all of a character script, or one word of ASCII letters and digits.
bool indexCountsExactly(const QString &term);
// The index's narrowing of a term: an FTS5 phrase over the word table, its characters of a
// character script each a word and its last Latin word a prefix; empty when the term gives the
// table nothing to look for.
QString wordExpression(const QString &term);

} // namespace SearchText
