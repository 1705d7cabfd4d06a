#include "core/searchtext.h"

#include "core/chinesescript.h"

#include <QBitArray>

#include <algorithm>
#include <atomic>

namespace SearchText {

namespace {

// The code point at i and its length in QChars.
uint codePointAt(const QString &s, int i, int *length)
{
    const QChar c = s.at(i);
    if (c.isHighSurrogate() && i + 1 < s.size() && s.at(i + 1).isLowSurrogate()) {
        *length = 2;
        return QChar::surrogateToUcs4(c, s.at(i + 1));
    }
    *length = 1;
    return c.unicode();
}

// The code point that ends just before i.
uint codePointBefore(const QString &s, int i)
{
    if (i >= 2 && s.at(i - 1).isLowSurrogate() && s.at(i - 2).isHighSurrogate())
        return QChar::surrogateToUcs4(s.at(i - 2), s.at(i - 1));
    return s.at(i - 1).unicode();
}

// A letter, digit or mark of a script that parts its words by spaces.
bool isWordCharacter(uint c)
{
    if (isCharacterScript(c))
        return false;
    return QChar::isLetterOrNumber(c) || QChar::isMark(c);
}

QString quoted(const QString &s)
{
    QString inner = s;
    inner.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + inner + QLatin1Char('"');
}

// Each occurrence of term in the normalised text that the term's rule accepts.
template <typename Found>
void occurrences(const QString &normalised, const QString &term, Found found)
{
    int n = 0;
    const bool atWordStart = isWordCharacter(codePointAt(term, 0, &n));
    for (int at = normalised.indexOf(term); at >= 0; at = normalised.indexOf(term, at + 1)) {
        if (atWordStart && at > 0 && isWordCharacter(codePointBefore(normalised, at)))
            continue;
        found(at);
    }
}

// The ideographs that need no compatibility folding, in the basic multilingual plane.
bool isUnifiedIdeograph(uint c)
{
    return (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x3400 && c <= 0x4DBF);
}

// The characters OpenCC's simplified table changes, found once by passing it every ideograph:
// a text holding none of them is left as it is without asking it. None when OpenCC's tables
// are missing. By code unit, as each character of every line is looked up.
const QBitArray &changedBySimplified()
{
    static const QBitArray changed = [] {
        QBitArray set(0x10000);
        QString all;
        for (uint c = 0x3400; c <= 0xFAFF; ++c) {
            if (c > 0x4DBF && c < 0x4E00)
                continue;
            if (c > 0x9FFF && c < 0xF900)
                continue;
            all += QChar(c);
            all += QLatin1Char('\n');
        }
        const QString converted = ChineseScript::convert(all, ChineseScript::Target::Simplified);
        const QStringList before = all.split(QLatin1Char('\n'));
        const QStringList after = converted.split(QLatin1Char('\n'));
        for (int i = 0; i < before.size() && i < after.size(); ++i) {
            if (before[i] != after[i] && !before[i].isEmpty())
                set.setBit(before[i].at(0).unicode());
        }
        // The lines did not stay apart: every ideograph is asked for, as without the shortcut.
        if (before.size() != after.size()) {
            set.fill(false);
            for (const QChar c : all)
                if (c != QLatin1Char('\n'))
                    set.setBit(c.unicode());
        }
        return set;
    }();
    return changed;
}

bool mayChangeScript(const QString &s)
{
    const QBitArray &changed = changedBySimplified();
    for (const QChar c : s) {
        // No character before the ideographs changes; beyond the basic plane the table is
        // asked each time.
        if (c.unicode() >= 0x3400 && (c.isSurrogate() || changed.testBit(c.unicode())))
            return true;
    }
    return false;
}

} // namespace

bool isCharacterScript(uint codePoint)
{
    switch (QChar::script(codePoint)) {
    case QChar::Script_Han:
    case QChar::Script_Hiragana:
    case QChar::Script_Katakana:
    case QChar::Script_Bopomofo:
        return true;
    default:
        return false;
    }
}

namespace {

// As Qt's tables have it, without asking them for the characters most transcripts are made of:
// ASCII, and the ideographs (no space nor mark among them).
bool isBlank(uint c)
{
    if (c < 0x80)
        return c == ' ' || (c >= 0x09 && c <= 0x0d);
    return !isUnifiedIdeograph(c) && QChar::isSpace(c);
}

bool isMarkCharacter(uint c)
{
    return c >= 0x300 && !isUnifiedIdeograph(c) && QChar::isMark(c);
}

// The folded text written in place, each character with where it came from: room for as many
// characters as the text has, made larger only for the rare forms that fold into more.
class Folding
{
public:
    Folding(int size, QVector<int> *from)
        : m_text(size, Qt::Uninitialized)
        , m_from(*from)
    {
        m_from.resize(size + 1);
        m_out = m_text.data();
        m_origin = m_from.data();
    }
    void put(QChar c, int origin)
    {
        if (m_size == m_text.size())
            grow();
        m_out[m_size] = c;
        m_origin[m_size] = origin;
        ++m_size;
    }
    bool endsWithSpace() const { return m_size > 0 && m_out[m_size - 1] == QLatin1Char(' '); }
    QString finish()
    {
        m_text.resize(m_size);
        m_from.resize(m_size);
        return m_text;
    }

private:
    void grow()
    {
        m_text.resize(std::max(16, 2 * m_text.size()));
        m_from.resize(m_text.size() + 1);
        m_out = m_text.data();
        m_origin = m_from.data();
    }

    QString m_text;
    QVector<int> &m_from;
    QChar *m_out;
    int *m_origin;
    int m_size = 0;
};

// The character at i with the marks that follow it, folded; returns where the next begins.
int foldPiece(const QString &text, int i, Folding *folded)
{
    int n = 0;
    const uint first = codePointAt(text, i, &n);
    int end = i + n;
    // A mark after a blank stays a character of its own, as it is once folded.
    const bool blank = isBlank(first);
    while (!blank && end < text.size()) {
        int m = 0;
        if (!isMarkCharacter(codePointAt(text, end, &m)))
            break;
        end += m;
    }
    if (blank) {
        if (!folded->endsWithSpace())
            folded->put(QLatin1Char(' '), i);
        return end;
    }
    const QString piece
        = text.mid(i, end - i).normalized(QString::NormalizationForm_KC).toCaseFolded();
    for (const QChar c : piece) {
        // A compatibility form may stand for a space (U+3000 aside, which is one).
        if (!c.isSpace())
            folded->put(c, i);
        else if (!folded->endsWithSpace())
            folded->put(QLatin1Char(' '), i);
    }
    return end;
}

// What a character of the basic plane with no mark after it folds into, as foldPiece folds it,
// learned from Qt's tables the first time it is seen: the full-width commas and stops of every
// Chinese line were a string and a normalisation each. 0 not known yet; kPiece for a blank, a
// surrogate, or a character that folds into other than one character: foldPiece's to fold.
constexpr ushort kPiece = 0xffff;
std::atomic<ushort> singleFolds[0x10000];

ushort singleFold(ushort c)
{
    std::atomic<ushort> &known = singleFolds[c];
    ushort fold = known.load(std::memory_order_relaxed);
    if (fold != 0)
        return fold;
    fold = kPiece;
    if (!QChar::isSurrogate(c) && !isBlank(c)) {
        const QString piece
            = QString(QChar(c)).normalized(QString::NormalizationForm_KC).toCaseFolded();
        if (piece.size() == 1 && !piece.at(0).isSpace())
            fold = piece.at(0).unicode();
    }
    known.store(fold, std::memory_order_relaxed);
    return fold;
}

// Case, width and compatibility forms folded, blanks run together; from: where each folded
// character came from.
QString foldForms(const QString &text, QVector<int> *from)
{
    Folding folded(text.size(), from);
    const QChar *units = text.constData();
    const int size = text.size();
    // Taken a character with the marks that follow it at a time, so that "e" and a combining
    // accent fold as "é" does, and each result character knows where it came from.
    for (int i = 0; i < size;) {
        const ushort c = units[i].unicode();
        int m = 0;
        const bool alone = i + 1 == size || units[i + 1].unicode() < 0x300
            || isUnifiedIdeograph(units[i + 1].unicode())
            || !isMarkCharacter(codePointAt(text, i + 1, &m));
        // Most of a transcript, ASCII and ideographs without a mark after them, folds as it
        // is, without the cost of a string a character.
        if (alone && ((c < 0x80 && !isBlank(c)) || isUnifiedIdeograph(c))) {
            folded.put(QChar(c >= 'A' && c <= 'Z' ? ushort(c + 32) : c), i);
            ++i;
            continue;
        }
        const ushort fold = alone && c >= 0x80 ? singleFold(c) : kPiece;
        if (fold != kPiece) {
            folded.put(QChar(fold), i);
            ++i;
            continue;
        }
        i = foldPiece(text, i, &folded);
    }
    return folded.finish();
}

QString toSimplified(const QString &folded, QVector<int> *fromOut)
{
    QVector<int> &from = *fromOut;
    // Simplified characters: the whole text at once, as its phrases read, unless that changed
    // its length; then a character at a time, so that every character still knows its place.
    QString result = folded;
    if (mayChangeScript(folded)) {
        const QString converted = ChineseScript::convert(folded, ChineseScript::Target::Simplified);
        if (converted.size() == folded.size()) {
            result = converted;
        } else {
            result.clear();
            QVector<int> perCharacter;
            for (int i = 0; i < folded.size();) {
                int n = 0;
                codePointAt(folded, i, &n);
                const QString one = folded.mid(i, n);
                const QString c = isCharacterScript(codePointAt(folded, i, &n))
                    ? ChineseScript::convert(one, ChineseScript::Target::Simplified)
                    : one;
                result += c;
                for (int k = 0; k < c.size(); ++k)
                    perCharacter.append(from[i]);
                i += n;
            }
            from = perCharacter;
        }
    }
    return result;
}

} // namespace

QString normalise(const QString &text, QVector<int> *offsets)
{
    QVector<int> from;
    const QString result = toSimplified(foldForms(text, &from), &from);
    from.append(text.size());
    if (offsets)
        *offsets = from;
    return result;
}

Query parse(const QString &query)
{
    QStringList raw;
    QString current;
    bool inQuotes = false;
    for (const QChar c : query) {
        if (c == QLatin1Char('"')) {
            if (!current.isEmpty())
                raw.append(current);
            current.clear();
            inQuotes = !inQuotes;
        } else if (c.isSpace() && !inQuotes) {
            if (!current.isEmpty())
                raw.append(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.isEmpty())
        raw.append(current);

    Query parsed;
    for (const QString &r : raw) {
        if (parsed.terms.size() >= maxTerms)
            break;
        QString term = normalise(r).trimmed();
        if (term.size() > maxTermLength) {
            term.truncate(maxTermLength);
            if (QChar(term.back()).isHighSurrogate())
                term.chop(1);
            term = term.trimmed();
        }
        if (!term.isEmpty() && !parsed.terms.contains(term))
            parsed.terms.append(term);
    }
    return parsed;
}

QVector<QPair<int, int>> matchSpans(const QString &line, const Query &query)
{
    QVector<QPair<int, int>> spans;
    if (query.terms.isEmpty())
        return spans;
    QVector<int> from;
    const QString normalised = normalise(line, &from);
    for (const QString &term : query.terms) {
        bool any = false;
        occurrences(normalised, term, [&](int at) {
            any = true;
            const int last = at + term.size() - 1;
            // Up to the end of what the last matched character came from.
            int end = from[last + 1];
            for (int k = last + 1; k < from.size() && from[k] <= from[last]; ++k)
                end = from[k + 1];
            spans.append({ from[at], std::max(end, from[at] + 1) });
        });
        if (!any)
            return {};
    }
    std::sort(spans.begin(), spans.end());
    QVector<QPair<int, int>> merged;
    for (const auto &s : spans) {
        if (!merged.isEmpty() && s.first <= merged.back().second)
            merged.back().second = std::max(merged.back().second, s.second);
        else
            merged.append(s);
    }
    return merged;
}

int matchCount(const QString &line, const Query &query)
{
    return countInNormalised(normalise(line), query);
}

int countInNormalised(const QString &normalised, const Query &query)
{
    if (query.terms.isEmpty())
        return 0;
    int count = 0;
    for (const QString &term : query.terms) {
        int found = 0;
        occurrences(normalised, term, [&found](int) { ++found; });
        if (found == 0)
            return 0;
        count += found;
    }
    return count;
}

QString wordTableText(const QString &normalised)
{
    // Everything between words is a word of its own too, so that words are neighbours in the
    // table only where they are in the text: "天，气" is not the phrase "天 气".
    const QString separator = QStringLiteral(" \uE000 ");
    QString out;
    out.reserve(normalised.size() * 2);
    for (int i = 0; i < normalised.size();) {
        int n = 0;
        const uint c = codePointAt(normalised, i, &n);
        if (isCharacterScript(c)) {
            out += QLatin1Char(' ');
            out += normalised.mid(i, n);
            out += QLatin1Char(' ');
        } else if (QChar::isLetterOrNumber(c) || QChar::isMark(c)) {
            out += normalised.mid(i, n);
        } else {
            out += separator;
        }
        i += n;
    }
    return out;
}

bool indexCountsExactly(const QString &term)
{
    int n = 0;
    if (isCharacterScript(codePointAt(term, 0, &n))) {
        for (int i = 0; i < term.size(); i += n) {
            if (!isCharacterScript(codePointAt(term, i, &n)))
                return false;
        }
        return true;
    }
    // One word of plain letters and digits: the start of a word of the table is where the
    // rules see a word start.
    for (const QChar c : term) {
        if (!((c >= QLatin1Char('a') && c <= QLatin1Char('z'))
                || (c >= QLatin1Char('0') && c <= QLatin1Char('9'))))
            return false;
    }
    return true;
}

QString wordExpression(const QString &term)
{
    const QString spaced = wordTableText(term);
    QStringList tokens;
    QString current;
    for (int i = 0; i < spaced.size();) {
        int n = 0;
        const uint c = codePointAt(spaced, i, &n);
        if (isCharacterScript(c) || QChar::isLetterOrNumber(c) || QChar::isMark(c) || c == 0xE000) {
            current += spaced.mid(i, n);
        } else if (!current.isEmpty()) {
            tokens.append(current);
            current.clear();
        }
        i += n;
    }
    if (!current.isEmpty())
        tokens.append(current);
    // Signs at the ends narrow nothing; signs alone give nothing to look for.
    const QString separator(QChar(0xE000));
    while (!tokens.isEmpty() && tokens.first() == separator)
        tokens.removeFirst();
    while (!tokens.isEmpty() && tokens.last() == separator)
        tokens.removeLast();
    if (tokens.isEmpty())
        return QString();
    // The last word may be the start of a longer one; a character of a character script is a
    // word of its own, whole, and is looked up faster as such.
    int n = 0;
    const QString phrase = quoted(tokens.join(QLatin1Char(' ')));
    return isCharacterScript(codePointAt(tokens.last(), 0, &n)) ? phrase
                                                                : phrase + QStringLiteral(" *");
}

} // namespace SearchText
