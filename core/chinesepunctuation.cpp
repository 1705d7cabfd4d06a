#include "core/chinesepunctuation.h"

#include <QHash>
#include <QRegularExpression>
#include <QVector>

namespace {

bool isHan(QChar c)
{
    return c.script() == QChar::Script_Han;
}

bool isFullWidthMark(QChar c)
{
    return QStringLiteral("，。？！：；、“”‘’（）《》…—").contains(c);
}

bool isChinese(QChar c)
{
    return isHan(c) || isFullWidthMark(c);
}

bool isLatinAlnum(QChar c)
{
    return c.unicode() < 0x80 && c.isLetterOrNumber();
}

// URLs, e-mail addresses and numbers with their separators: nothing in them changes.
QVector<bool> protectedSpans(const QString &text)
{
    static const QRegularExpression kept(
        QStringLiteral("(?:[A-Za-z][A-Za-z0-9+.-]*://|www\\.)[!-~]+"
                       "|[A-Za-z0-9._%+-]+@[A-Za-z0-9-]+(?:\\.[A-Za-z0-9-]+)+"
                       "|\\d+(?:[.:,]\\d+)+"
                       "|(?<![A-Za-z])(?:[A-Za-z]\\.){2,}"));
    QVector<bool> inside(text.size(), false);
    auto it = kept.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        int end = m.capturedEnd();
        const QString found = m.captured();
        const bool address = found.contains(QLatin1String("://"))
            || found.contains(QLatin1Char('@')) || found.startsWith(QLatin1String("www."));
        // A URL or address that ends a Chinese sentence leaves the sentence's mark outside.
        while (address && end - 1 > m.capturedStart()
            && QStringLiteral(".,;:!?)\"'").contains(text.at(end - 1)))
            --end;
        for (int i = m.capturedStart(); i < end; ++i)
            inside[i] = true;
    }
    return inside;
}

QChar nearestLeft(const QString &text, int i)
{
    for (int j = i - 1; j >= 0; --j)
        if (!text.at(j).isSpace())
            return text.at(j);
    return QChar();
}

bool hasHan(const QString &text, int from, int to)
{
    for (int i = from; i < to; ++i)
        if (isHan(text.at(i)))
            return true;
    return false;
}

// Quotes and brackets change as pairs: a pair becomes full-width when it holds Chinese or
// follows it (他说"ok"), so that a pair is never half converted. Apostrophes inside Latin
// words are no quotes.
QHash<int, QChar> pairedMarks(const QString &text, const QVector<bool> &kept)
{
    QHash<int, QChar> made;
    const auto convertPair = [&](int open, int close) {
        return hasHan(text, open + 1, close) || isChinese(nearestLeft(text, open));
    };
    QVector<int> brackets;
    int doubleOpen = -1;
    int singleOpen = -1;
    for (int i = 0; i < text.size(); ++i) {
        if (kept.at(i))
            continue;
        const ushort u = text.at(i).unicode();
        if (u == '(') {
            brackets.append(i);
        } else if (u == ')' && !brackets.isEmpty()) {
            const int open = brackets.takeLast();
            if (convertPair(open, i)) {
                made.insert(open, QChar(0xFF08));
                made.insert(i, QChar(0xFF09));
            }
        } else if (u == '"' || u == '\'') {
            if (u == '\'' && i > 0 && i + 1 < text.size() && isLatinAlnum(text.at(i - 1))
                && isLatinAlnum(text.at(i + 1)))
                continue;
            int &open = u == '"' ? doubleOpen : singleOpen;
            if (open < 0) {
                open = i;
                continue;
            }
            if (convertPair(open, i)) {
                made.insert(open, u == '"' ? QChar(0x201C) : QChar(0x2018));
                made.insert(i, u == '"' ? QChar(0x201D) : QChar(0x2019));
            }
            open = -1;
        }
    }
    return made;
}

// The Latin word or number just before i follows a Chinese character with no blank between
// (率95%, 用Python): a mark after it ends a Chinese sentence. A word after a Chinese mark
// does not count: the mark may have lost its blank in this very step (你好. OK.), and the
// word's own mark would change on a second pass.
bool wordAfterChinese(const QString &text, int i)
{
    int j = i - 1;
    while (j >= 0 && !text.at(j).isSpace() && !isChinese(text.at(j)))
        --j;
    return j >= 0 && j < i - 1 && isHan(text.at(j));
}

QString spacedText(const QString &text)
{
    QString out;
    out.reserve(text.size() + text.size() / 4);
    for (int i = 0; i < text.size(); ++i) {
        if (i > 0) {
            const QChar a = text.at(i - 1);
            const QChar b = text.at(i);
            if ((isHan(a) && isLatinAlnum(b)) || (isLatinAlnum(a) && isHan(b)))
                out += QLatin1Char(' ');
        }
        out += text.at(i);
    }
    return out;
}

// One pass over the text: a mark's neighbours are read as they were before the pass.
QString convertOnce(const QString &text)
{
    const QVector<bool> kept = protectedSpans(text);
    QString out;
    out.reserve(text.size());
    const QHash<int, QChar> pairs = pairedMarks(text, kept);
    // Blanks are held back until the next character says whether they stay.
    QString blanks;
    bool afterMark = false;

    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isSpace()) {
            blanks += c;
            continue;
        }
        QChar made;
        if (!kept.at(i)) {
            const QChar left = nearestLeft(text, i);
            const bool inLatinWord = i > 0 && i + 1 < text.size() && isLatinAlnum(text.at(i - 1))
                && isLatinAlnum(text.at(i + 1));
            const ushort u = c.unicode();
            if (u == '(' || u == ')' || u == '"' || u == '\'') {
                made = pairs.value(i);
            } else if (!inLatinWord
                && (isChinese(left) || (i + 1 < text.size() && isChinese(text.at(i + 1)))
                    || wordAfterChinese(text, i))) {
                const int at = QStringLiteral(",.?!:;").indexOf(c);
                if (at >= 0)
                    made = QStringLiteral("，。？！：；").at(at);
            }
        }
        if (!made.isNull()) {
            blanks.clear();
            out += made;
            afterMark = true;
            continue;
        }
        if (!afterMark)
            out += blanks;
        blanks.clear();
        afterMark = false;
        out += c;
    }
    if (!afterMark)
        out += blanks;
    return out;
}

} // namespace

namespace ChinesePunctuation {

QString apply(const QString &text)
{
    bool anyHan = false;
    for (const QChar c : text)
        anyHan = anyHan || isHan(c);
    if (!anyHan)
        return text;
    // A mark made in one pass can be the Chinese neighbour another mark needed (:"好" becomes
    // :“好” and only then ：“好”), so the passes go on until nothing changes. Each pass only
    // turns half-width marks full-width or drops blanks, so they end.
    QString out = convertOnce(text);
    for (QString before = text; out != before;) {
        before = out;
        out = convertOnce(out);
    }
    return out;
}

QString spaced(const QString &text)
{
    return spacedText(text);
}

} // namespace ChinesePunctuation
