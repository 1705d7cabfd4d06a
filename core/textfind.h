#pragma once

#include <QString>
#include <QVector>

// Finding in a transcript as its readers mean it: a full-width letter, digit or stop is the
// same as its half-width form ("ＡＢＣ１" finds "abc1", "，" finds ","), and whole words only
// apply to alphabetic words (Chinese has no spaces between its words to tell them by).
namespace TextFind {

struct Options
{
    bool caseSensitive = false;
    bool wholeWords = false;
};

struct Match
{
    int start = -1; // in the original text; -1 for none
    int length = 0;
    bool found() const { return start >= 0; }
};

// text with every width form made one and, unless case counts, letters made lower case;
// origin[i] is where the folded text's character i came from in text (origin has one more
// entry, text's size, for the end).
struct Folded
{
    QString text;
    QVector<int> origin;
};
Folded fold(const QString &text, bool caseSensitive);

// The first match at or after from (wrapping to the start when none follows).
Match findNext(const QString &text, const QString &needle, int from, const Options &options);
// Every match, in order, none overlapping.
QVector<Match> findAll(const QString &text, const QString &needle, const Options &options);

} // namespace TextFind
