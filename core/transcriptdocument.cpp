#include "core/transcriptdocument.h"

#include <algorithm>

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
    // Per line: the phrases found in it, and how many instances.
    QVector<quint32> present(ends.size(), 0);
    QVector<int> counts(ends.size(), 0);
    for (const Instance &i : instances) {
        if (i.phrase < 0 || i.phrase >= phrases)
            continue;
        // The line an instance is in is the one its next line end closes.
        const int line
            = int(std::lower_bound(ends.cbegin(), ends.cend(), i.offset) - ends.cbegin());
        if (line >= ends.size())
            continue;
        present[line] |= quint32(1) << i.phrase;
        ++counts[line];
    }
    const quint32 all = phrases == 32 ? ~quint32(0) : (quint32(1) << phrases) - 1;
    for (int line = 0; line < ends.size(); ++line) {
        if (present[line] == all)
            matched->append({ line, counts[line] });
    }
}

} // namespace TranscriptDocument
