#pragma once

#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QVector>

#include <algorithm>

// Word error rate of a transcript against the text that was spoken: word-level edit distance
// divided by the number of spoken words. Case and punctuation do not count.
namespace WordRate {

inline QStringList words(const QString &text)
{
    QString folded = text.toLower();
    folded.replace(QRegularExpression(QStringLiteral("[^a-z0-9' ]")), QStringLiteral(" "));
    return folded.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

inline int editDistance(const QStringList &reference, const QStringList &hypothesis)
{
    QVector<int> previous(hypothesis.size() + 1);
    QVector<int> current(hypothesis.size() + 1);
    for (int j = 0; j <= hypothesis.size(); ++j)
        previous[j] = j;
    for (int i = 1; i <= reference.size(); ++i) {
        current[0] = i;
        for (int j = 1; j <= hypothesis.size(); ++j) {
            const int substitution = previous[j - 1] + (reference[i - 1] == hypothesis[j - 1] ? 0 : 1);
            current[j] = std::min({previous[j] + 1, current[j - 1] + 1, substitution});
        }
        std::swap(previous, current);
    }
    return previous[hypothesis.size()];
}

inline double errorRate(const QString &spoken, const QString &recognised)
{
    const QStringList reference = words(spoken);
    if (reference.isEmpty())
        return words(recognised).isEmpty() ? 0.0 : 1.0;
    return double(editDistance(reference, words(recognised))) / reference.size();
}

} // namespace WordRate
