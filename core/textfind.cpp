#include "core/textfind.h"

namespace TextFind {

namespace {

uint foldWidth(uint c)
{
    if (c >= 0xFF01 && c <= 0xFF5E) // full-width ASCII
        return c - 0xFF01 + 0x21;
    switch (c) {
    case 0x3000: // ideographic space
        return 0x20;
    case 0x3002: // 。 is the stop a Chinese transcript writes for "."
    case 0xFF61: // half-width 。
        return 0x2E;
    case 0xFF62:
        return 0x300C; // ｢ 「
    case 0xFF63:
        return 0x300D; // ｣ 」
    case 0xFF64:
        return 0x3001; // ､ 、
    default:
        return c;
    }
}

bool isWordChar(uint c)
{
    if (!QChar::isLetterOrNumber(c) && c != '_')
        return false;
    switch (QChar::script(c)) {
    case QChar::Script_Han:
    case QChar::Script_Hiragana:
    case QChar::Script_Katakana:
    case QChar::Script_Hangul:
        return false;
    default:
        return true;
    }
}

uint codePointBefore(const QString &text, int at)
{
    if (at <= 0)
        return 0;
    if (at >= 2 && text[at - 1].isLowSurrogate() && text[at - 2].isHighSurrogate())
        return QChar::surrogateToUcs4(text[at - 2], text[at - 1]);
    return text[at - 1].unicode();
}

uint codePointAt(const QString &text, int at)
{
    if (at >= text.size())
        return 0;
    if (at + 1 < text.size() && text[at].isHighSurrogate() && text[at + 1].isLowSurrogate())
        return QChar::surrogateToUcs4(text[at], text[at + 1]);
    return text[at].unicode();
}

// A whole word: neither end of the match runs on into a letter of the same word.
bool isWhole(const QString &text, int start, int length)
{
    const bool startsWord = isWordChar(codePointAt(text, start));
    const bool endsWord = isWordChar(codePointBefore(text, start + length));
    return !(startsWord && isWordChar(codePointBefore(text, start)))
        && !(endsWord && isWordChar(codePointAt(text, start + length)));
}

QVector<Match> matches(const QString &text, const QString &needle, const Options &options,
    int limitFrom, bool firstOnly)
{
    QVector<Match> found;
    const Folded hay = fold(text, options.caseSensitive);
    const QString wanted = fold(needle, options.caseSensitive).text;
    if (wanted.isEmpty())
        return found;
    int from = 0;
    while (from < hay.origin.size() - 1 && hay.origin[from] < limitFrom)
        ++from;
    for (int at = hay.text.indexOf(wanted, from); at >= 0; at = hay.text.indexOf(wanted, at + 1)) {
        const int start = hay.origin[at];
        const int length = hay.origin[at + wanted.size()] - start;
        if (!found.isEmpty() && start < found.last().start + found.last().length)
            continue;
        if (options.wholeWords && !isWhole(text, start, length))
            continue;
        found.append(Match { start, length });
        if (firstOnly)
            break;
    }
    return found;
}

} // namespace

Folded fold(const QString &text, bool caseSensitive)
{
    Folded folded;
    folded.text.reserve(text.size());
    folded.origin.reserve(text.size() + 1);
    for (int i = 0; i < text.size();) {
        const uint c = codePointAt(text, i);
        const int units = c > 0xFFFF ? 2 : 1;
        uint f = foldWidth(c);
        if (!caseSensitive)
            f = QChar::toCaseFolded(f);
        const QString piece = QString::fromUcs4(&f, 1);
        for (int k = 0; k < piece.size(); ++k) {
            folded.text.append(piece[k]);
            folded.origin.append(i);
        }
        i += units;
    }
    folded.origin.append(text.size());
    return folded;
}

Match findNext(const QString &text, const QString &needle, int from, const Options &options)
{
    QVector<Match> found = matches(text, needle, options, from, true);
    if (found.isEmpty() && from > 0)
        found = matches(text, needle, options, 0, true);
    return found.isEmpty() ? Match {} : found.first();
}

QVector<Match> findAll(const QString &text, const QString &needle, const Options &options)
{
    return matches(text, needle, options, 0, false);
}

} // namespace TextFind
