#pragma once

#include <QString>
#include <QVector>

#include "core/timedtext.h"
#include "core/transcripttimes.h"

// A transcript as the editor holds it: one entry a line of the text, each with the utterances
// it was heard as (none for a line that was typed or no longer reads as recognised).
struct TimedLine
{
    QString text;
    TimedUtterances utterances;

    bool timed() const { return !utterances.isEmpty(); }
    qint64 startMs() const { return timed() ? utterances.first().startMs : -1; }
    qint64 endMs() const { return timed() ? utterances.last().endMs : -1; }
    bool operator==(const TimedLine &o) const
    {
        return text == o.text && utterances == o.utterances;
    }
};

using TimedLines = QVector<TimedLine>;

// Where an utterance (or a word of one) sits in a line, in characters.
struct TextSpan
{
    int start = 0;
    int length = 0;
};

namespace TimedDocument {

// The lines of text, each with the times of the paragraph it still reads as (the rule of
// TranscriptTimesRules::match: in order, blanks at the ends aside).
TimedLines fromTimes(const QString &text, const QVector<TimedParagraph> &paragraphs);
// What the times file keeps: one paragraph a line, so that the text saved with it matches.
QVector<TimedParagraph> toParagraphs(const TimedLines &lines);
QString text(const TimedLines &lines);

// The line split at character position, the times shared where the text is cut: at the word
// boundary where word times are known, else in proportion to the characters.
TimedLines split(const TimedLines &lines, int line, int position);
// A line joined with the next: the utterances of both, so the outer bounds are kept.
TimedLines join(const TimedLines &lines, int line);
// The line's start set to startMs: kept within the previous line's start and the line's own
// end, and the previous line's end brought back to it so the two do not overlap.
TimedLines setStart(const TimedLines &lines, int line, qint64 startMs);

// The times following an edit of the text: lines before and after the changed ones keep
// theirs; a line edited within keeps its own; one line cut in two is split, two made one are
// joined; other changed lines keep times only where they read as an old line did.
TimedLines follow(const TimedLines &old, const QString &newText);

// Where each utterance of the line sits in its text (found in order; one not found takes the
// rest of the line from where the previous ended).
QVector<TextSpan> utteranceSpans(const TimedLine &line);
// Where each word of an utterance sits within the utterance's span of the line text.
QVector<TextSpan> wordSpans(const TimedUtterance &utterance, const QString &lineText, TextSpan in);

// The time to play from for character position in line: the word's start where word times are
// known, else its utterance's; -1 when the line has no times.
qint64 timeAt(const TimedLine &line, int position);

// The utterances a selection touches, from the first to the last, and where they lie in the
// text; valid() is false when the selection holds no timed utterance.
struct Passage
{
    int firstLine = -1;
    int firstUtterance = -1;
    int lastLine = -1;
    int lastUtterance = -1;
    qint64 startMs = -1;
    qint64 endMs = -1;
    int textStart = 0; // in firstLine's text
    int textEnd = 0; // in lastLine's text
    bool valid() const { return firstLine >= 0; }
};
// The selection runs from (startLine, startPosition) to (endLine, endPosition), positions in
// characters of their lines; an utterance is in it when their characters overlap.
Passage passageIn(
    const TimedLines &lines, int startLine, int startPosition, int endLine, int endPosition);
// The passage's text and utterances replaced by text and utterances heard again: the lines it
// spans become one, the text around it stays, and the new times are kept between the times
// left before and after it.
TimedLines replacePassage(const TimedLines &lines, const Passage &passage, const QString &text,
    TimedUtterances utterances);

// Every utterance by its start, to find the one being spoken at a time quickly.
struct Spoken
{
    int line = -1;
    int utterance = -1;
};
class Index
{
public:
    explicit Index(const TimedLines &lines = {});
    // The utterance whose time holds ms (the last one begun, while it lasts); none between.
    Spoken at(qint64 ms) const;

private:
    struct Entry
    {
        qint64 startMs;
        qint64 endMs;
        int line;
        int utterance;
    };
    QVector<Entry> entries;
};

} // namespace TimedDocument
