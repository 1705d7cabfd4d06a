#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

// The user's own terms: names and words a service mishears the same way every time. One entry
// a line, a term ("Tovarin") or a correction ("托瓦林 => Tovarin"); blank lines and lines
// starting with "#" are skipped.
struct UserTerms
{
    struct Replacement
    {
        QString wrong;
        QString right;
    };

    // Every term the user wants written, corrections' right sides included, in file order.
    QStringList terms;
    QVector<Replacement> replacements;

    bool isEmpty() const { return terms.isEmpty(); }

    static UserTerms parse(const QString &text);

    // Each wrong text replaced by its right one, scanning once from the start, the longest
    // wrong text first. Letters compare without case and full-width forms as their ASCII ones
    // (ＡＩ matches ai); a wrong text that begins or ends with a Latin letter or digit matches
    // only as a whole word there, Chinese anywhere.
    QString apply(const QString &text) const;

    // The terms joined for the transcription API's "prompt", whole terms only, as many as fit
    // within its limit of 224 tokens (counted high: a Chinese character as two, other
    // characters as one).
    QString prompt() const;
};

namespace UserTermsFile {

// "$XDG_CONFIG_HOME/tovarin/terms.txt" (or under ~/.config).
QString path();
// The list in the file; empty when the file is missing or unreadable, and then ok (when
// given) is false.
UserTerms load(const QString &file = path(), bool *ok = nullptr);

} // namespace UserTermsFile
