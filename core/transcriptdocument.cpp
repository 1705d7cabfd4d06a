#include "core/transcriptdocument.h"

#include <QVarLengthArray>

#include <algorithm>
#include <limits>

namespace TranscriptDocument {

QString text(const QStringList &lines)
{
    const QString end = QLatin1Char(' ') + lineEnd() + QLatin1Char(' ');
    QString out;
    for (const QString &line : lines) {
        out += line;
        out += end;
    }
    return out;
}

void matchLines(
    const QVector<Instance> &instances, QVector<int> ends, int phrases, QVector<LineMatch> *matched)
{
    matched->clear();
    if (phrases < 1 || phrases > 32 || ends.isEmpty())
        return;
    if (!std::is_sorted(ends.cbegin(), ends.cend()))
        std::sort(ends.begin(), ends.end());
    const int *end = ends.constData();
    const int lines = ends.size();
    // Per line: the phrases found in it, and how many instances.
    QVarLengthArray<quint32, 256> present(lines);
    QVarLengthArray<int, 256> counts(lines);
    std::fill(present.begin(), present.end(), 0);
    std::fill(counts.begin(), counts.end(), 0);
    // A phrase's instances come in order: the line of each is found from the last one's,
    // looked up afresh only where the order starts again.
    int line = 0;
    int last = std::numeric_limits<int>::min();
    for (const Instance &i : instances) {
        if (i.phrase < 0 || i.phrase >= phrases)
            continue;
        // The line an instance is in is the one its next line end closes.
        if (i.offset < last)
            line = int(std::lower_bound(end, end + lines, i.offset) - end);
        last = i.offset;
        while (line < lines && end[line] < i.offset)
            ++line;
        if (line >= lines)
            continue;
        present[line] |= quint32(1) << i.phrase;
        ++counts[line];
    }
    const quint32 all = phrases == 32 ? ~quint32(0) : (quint32(1) << phrases) - 1;
    for (int l = 0; l < lines; ++l) {
        if (present[l] == all)
            matched->append({ l, counts[l] });
    }
}

} // namespace TranscriptDocument
