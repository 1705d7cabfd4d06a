#pragma once

#include <QString>

#include "core/chinesescript.h"
#include "core/userterms.h"

// How recognised text is written before anyone sees it, whatever the service gave.
struct TextRules
{
    ChineseScript::Target script = ChineseScript::Target::AsGiven;
    // Full-width punctuation in Chinese text (for the Chinese languages only: a front end
    // leaves it off for English).
    bool chinesePunctuation = false;
    // A blank between Chinese and Latin letters or digits.
    bool spaceBetween = false;
    bool arabicNumbers = false;
    UserTerms terms;

    bool changesNothing() const
    {
        return script == ChineseScript::Target::AsGiven && !chinesePunctuation && !spaceBetween
            && !arabicNumbers && terms.replacements.isEmpty();
    }

    // The steps, always in this order:
    // 1. script: the whole text to one script, so the later steps see one;
    // 2. terms: the user's corrections, their wrong sides taken in that script too and their
    //    right sides written as the user typed them;
    // 3. numbers: Chinese numerals to digits;
    // 4. punctuation, then the blanks between Chinese and Latin.
    QString apply(const QString &text) const;

    // For a single timed word: the script and the terms only, since punctuation and numbers
    // read whole sentences.
    QString applyToWord(const QString &word) const;
};
