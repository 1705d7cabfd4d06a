#include "core/timeddocument.h"

#include <QStringList>

#include <algorithm>
#include <limits>

namespace TimedDocument {

namespace {

TimedUtterance cutUtterance(
    const QString &text, qint64 startMs, qint64 endMs, const QVector<TimedWord> &words)
{
    return TimedUtterance { startMs, std::max(startMs, endMs), text, words };
}

// Spans found in order where every piece is found; otherwise each piece takes a share of the
// line in proportion to its text, so the pieces still cover the line in order.
QVector<TextSpan> spansOf(const QStringList &pieces, const QString &whole, int offset)
{
    QVector<TextSpan> spans;
    int from = 0;
    bool found = true;
    for (const QString &piece : pieces) {
        const QString wanted = piece.trimmed();
        const int at = wanted.isEmpty() ? -1 : whole.indexOf(wanted, from);
        if (at < 0) {
            found = false;
            break;
        }
        spans.append(TextSpan { offset + at, int(wanted.size()) });
        from = at + wanted.size();
    }
    if (found)
        return spans;
    spans.clear();
    qint64 total = 0;
    for (const QString &piece : pieces)
        total += std::max(1, int(piece.trimmed().size()));
    qint64 done = 0;
    for (const QString &piece : pieces) {
        const int begin = int(done * whole.size() / std::max<qint64>(1, total));
        done += std::max(1, int(piece.trimmed().size()));
        const int end = int(done * whole.size() / std::max<qint64>(1, total));
        spans.append(TextSpan { offset + begin, end - begin });
    }
    return spans;
}

} // namespace

TimedLines fromTimes(const QString &text, const QVector<TimedParagraph> &paragraphs)
{
    TimedLines lines;
    int next = 0;
    for (const QString &rawLine : text.split(QLatin1Char('\n'))) {
        TimedLine line { rawLine, {} };
        const QString trimmed = rawLine.trimmed();
        for (int i = next; !trimmed.isEmpty() && i < paragraphs.size(); ++i) {
            if (paragraphs[i].text.trimmed() != trimmed)
                continue;
            if (!paragraphs[i].utterances.isEmpty()) {
                line.utterances = paragraphs[i].utterances;
                next = i + 1;
            }
            break;
        }
        lines.append(line);
    }
    return lines;
}

QVector<TimedParagraph> toParagraphs(const TimedLines &lines)
{
    QVector<TimedParagraph> paragraphs;
    for (const TimedLine &line : lines)
        if (!line.text.trimmed().isEmpty())
            paragraphs.append(TimedParagraph { line.text, line.utterances });
    return paragraphs;
}

QString text(const TimedLines &lines)
{
    QStringList texts;
    for (const TimedLine &line : lines)
        texts.append(line.text);
    return texts.join(QLatin1Char('\n'));
}

QVector<TextSpan> utteranceSpans(const TimedLine &line)
{
    QStringList pieces;
    for (const TimedUtterance &u : line.utterances)
        pieces.append(u.text);
    return spansOf(pieces, line.text, 0);
}

QVector<TextSpan> wordSpans(const TimedUtterance &utterance, const QString &lineText, TextSpan in)
{
    QStringList pieces;
    for (const TimedWord &w : utterance.words)
        pieces.append(w.text);
    return spansOf(pieces, lineText.mid(in.start, in.length), in.start);
}

TimedLines split(const TimedLines &lines, int index, int position)
{
    if (index < 0 || index >= lines.size())
        return lines;
    const TimedLine &line = lines[index];
    position = std::clamp(position, 0, int(line.text.size()));
    TimedLine first { line.text.left(position), {} };
    TimedLine second { line.text.mid(position), {} };
    const QVector<TextSpan> spans = utteranceSpans(line);
    for (int i = 0; i < line.utterances.size(); ++i) {
        const TimedUtterance &u = line.utterances[i];
        const TextSpan span = spans[i];
        if (span.start + span.length <= position) {
            first.utterances.append(u);
            continue;
        }
        if (span.start >= position) {
            second.utterances.append(u);
            continue;
        }
        // The utterance the cut falls in: its words go to the side they begin on.
        const int cut = position - span.start;
        const QString before = line.text.mid(span.start, cut);
        const QString after = line.text.mid(position, span.start + span.length - position);
        const QVector<TextSpan> words = wordSpans(u, line.text, span);
        QVector<TimedWord> wordsBefore, wordsAfter;
        for (int w = 0; w < u.words.size(); ++w)
            (words[w].start < position ? wordsBefore : wordsAfter).append(u.words[w]);
        qint64 endBefore, startAfter;
        if (!wordsBefore.isEmpty() && !wordsAfter.isEmpty()) {
            endBefore = wordsBefore.last().endMs;
            startAfter = wordsAfter.first().startMs;
        } else {
            endBefore = startAfter
                = u.startMs + (u.endMs - u.startMs) * cut / std::max(1, span.length);
            wordsBefore.clear();
            wordsAfter.clear();
        }
        // A side of blanks alone takes no utterance: the other keeps the whole of its time.
        const bool keepBefore = !before.trimmed().isEmpty();
        const bool keepAfter = !after.trimmed().isEmpty() || !keepBefore;
        if (keepBefore)
            first.utterances.append(
                cutUtterance(before, u.startMs, keepAfter ? endBefore : u.endMs, wordsBefore));
        if (keepAfter)
            second.utterances.append(
                cutUtterance(after, keepBefore ? startAfter : u.startMs, u.endMs, wordsAfter));
    }
    TimedLines result = lines;
    result[index] = first;
    result.insert(index + 1, second);
    return result;
}

TimedLines join(const TimedLines &lines, int index)
{
    if (index < 0 || index + 1 >= lines.size())
        return lines;
    TimedLines result = lines;
    result[index].text += lines[index + 1].text;
    result[index].utterances += lines[index + 1].utterances;
    result.remove(index + 1);
    return result;
}

TimedLines setStart(const TimedLines &lines, int index, qint64 startMs)
{
    if (index < 0 || index >= lines.size() || !lines[index].timed())
        return lines;
    TimedLines result = lines;
    int previous = index - 1;
    while (previous >= 0 && !result[previous].timed())
        --previous;
    const qint64 floor = previous >= 0 ? result[previous].startMs() : 0;
    startMs = std::clamp(startMs, floor, result[index].endMs());
    // The line's first utterance starts there; utterances and words it now passes are kept,
    // squeezed to begin no earlier.
    for (TimedUtterance &u : result[index].utterances) {
        if (u.startMs >= startMs)
            break;
        u.startMs = startMs;
        u.endMs = std::max(u.endMs, startMs);
        for (TimedWord &w : u.words) {
            w.startMs = std::max(w.startMs, startMs);
            w.endMs = std::max(w.endMs, w.startMs);
        }
    }
    result[index].utterances.first().startMs = startMs;
    if (previous >= 0) {
        for (TimedUtterance &u : result[previous].utterances) {
            u.endMs = std::min(u.endMs, startMs);
            u.startMs = std::min(u.startMs, u.endMs);
            for (TimedWord &w : u.words) {
                w.endMs = std::min(w.endMs, startMs);
                w.startMs = std::min(w.startMs, w.endMs);
            }
        }
    }
    return result;
}

TimedLines follow(const TimedLines &old, const QString &newText)
{
    const QStringList texts = newText.split(QLatin1Char('\n'));
    const int oldCount = old.size();
    const int newCount = texts.size();
    int head = 0;
    while (head < oldCount && head < newCount && old[head].text == texts[head])
        ++head;
    int tail = 0;
    while (tail < oldCount - head && tail < newCount - head
        && old[oldCount - 1 - tail].text == texts[newCount - 1 - tail])
        ++tail;
    const int oldChanged = oldCount - head - tail;
    const int newChanged = newCount - head - tail;

    TimedLines middle;
    if (oldChanged == newChanged) {
        // Typed within lines: each keeps its own times.
        for (int i = 0; i < newChanged; ++i)
            middle.append(TimedLine { texts[head + i], old[head + i].utterances });
    } else if (oldChanged == 1 && newChanged == 2
        && texts[head] + texts[head + 1] == old[head].text) {
        middle = split(old.mid(head, 1), 0, texts[head].size());
    } else if (oldChanged == 2 && newChanged == 1
        && old[head].text + old[head + 1].text == texts[head]) {
        middle = join(old.mid(head, 2), 0);
    } else if (oldChanged == 1 && newChanged == 2 && texts[head].isEmpty()
        && texts[head + 1] == old[head].text) {
        // A line break typed at the start of a line: the line moved down with its times.
        middle = { TimedLine { QString(), {} }, old[head] };
    } else {
        int next = head;
        for (int i = 0; i < newChanged; ++i) {
            TimedLine line { texts[head + i], {} };
            const QString trimmed = line.text.trimmed();
            for (int j = next; !trimmed.isEmpty() && j < head + oldChanged; ++j)
                if (old[j].text.trimmed() == trimmed) {
                    line.utterances = old[j].utterances;
                    next = j + 1;
                    break;
                }
            middle.append(line);
        }
    }
    TimedLines result = old.mid(0, head);
    result += middle;
    result += old.mid(oldCount - tail, tail);
    return result;
}

qint64 timeAt(const TimedLine &line, int position)
{
    if (!line.timed())
        return -1;
    const QVector<TextSpan> spans = utteranceSpans(line);
    int chosen = 0;
    for (int i = 0; i < spans.size(); ++i)
        if (spans[i].start <= position)
            chosen = i;
    const TimedUtterance &u = line.utterances[chosen];
    const QVector<TextSpan> words = wordSpans(u, line.text, spans[chosen]);
    qint64 at = u.startMs;
    for (int w = 0; w < words.size(); ++w)
        if (words[w].start <= position)
            at = u.words[w].startMs;
    return at;
}

Index::Index(const TimedLines &lines)
{
    for (int l = 0; l < lines.size(); ++l)
        for (int u = 0; u < lines[l].utterances.size(); ++u)
            entries.append(
                Entry { lines[l].utterances[u].startMs, lines[l].utterances[u].endMs, l, u });
    std::stable_sort(entries.begin(), entries.end(),
        [](const Entry &a, const Entry &b) { return a.startMs < b.startMs; });
}

Spoken Index::at(qint64 ms) const
{
    auto after = std::upper_bound(
        entries.begin(), entries.end(), ms, [](qint64 t, const Entry &e) { return t < e.startMs; });
    if (after == entries.begin())
        return {};
    const Entry &e = *(after - 1);
    if (ms > e.endMs)
        return {};
    return Spoken { e.line, e.utterance };
}

Passage passageIn(
    const TimedLines &lines, int startLine, int startPosition, int endLine, int endPosition)
{
    Passage passage;
    const int last = std::min(endLine, int(lines.size()) - 1);
    for (int l = std::max(0, startLine); l <= last; ++l) {
        const TimedLine &line = lines[l];
        const QVector<TextSpan> spans = utteranceSpans(line);
        const int from = l == startLine ? startPosition : 0;
        const int to = l == endLine ? endPosition : int(line.text.size()) + 1;
        for (int u = 0; u < spans.size(); ++u) {
            const int spanEnd = spans[u].start + spans[u].length;
            if (spanEnd <= from || spans[u].start >= to || (from == to && spanEnd == from))
                continue;
            if (!passage.valid()) {
                passage.firstLine = l;
                passage.firstUtterance = u;
                passage.startMs = line.utterances[u].startMs;
                passage.textStart = spans[u].start;
            }
            passage.lastLine = l;
            passage.lastUtterance = u;
            passage.endMs = line.utterances[u].endMs;
            passage.textEnd = spanEnd;
        }
    }
    return passage;
}

TimedLines replacePassage(const TimedLines &lines, const Passage &passage, const QString &text,
    TimedUtterances utterances)
{
    if (!passage.valid() || passage.lastLine >= lines.size())
        return lines;
    const TimedLine &first = lines[passage.firstLine];
    const TimedLine &last = lines[passage.lastLine];
    TimedLine joined { first.text.left(passage.textStart) + text + last.text.mid(passage.textEnd),
        first.utterances.mid(0, passage.firstUtterance) };
    // Heard with a margin, the new times may reach into the neighbours': they are kept out.
    const qint64 floor = joined.utterances.isEmpty() ? 0 : joined.utterances.last().endMs;
    const TimedUtterances after = last.utterances.mid(passage.lastUtterance + 1);
    const qint64 ceiling
        = after.isEmpty() ? std::numeric_limits<qint64>::max() : after.first().startMs;
    // In order and without overlap, as the recogniser's own times are kept.
    qint64 at = floor;
    const auto place = [&at, ceiling](qint64 &startMs, qint64 &endMs) {
        startMs = std::clamp(startMs, at, std::max(at, ceiling));
        endMs = std::clamp(endMs, startMs, std::max(startMs, ceiling));
    };
    for (TimedUtterance &u : utterances) {
        place(u.startMs, u.endMs);
        const qint64 next = u.endMs;
        at = u.startMs;
        for (TimedWord &w : u.words) {
            place(w.startMs, w.endMs);
            w.startMs = std::min(w.startMs, u.endMs);
            w.endMs = std::clamp(w.endMs, w.startMs, u.endMs);
            at = w.endMs;
        }
        at = next;
    }
    joined.utterances += utterances;
    joined.utterances += after;
    TimedLines result = lines.mid(0, passage.firstLine);
    result.append(joined);
    result += lines.mid(passage.lastLine + 1);
    return result;
}

} // namespace TimedDocument
