#include "core/chinesepunctuation.h"

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

QChar nearestRight(const QString &text, int i)
{
    for (int j = i + 1; j < text.size(); ++j)
        if (!text.at(j).isSpace())
            return text.at(j);
    return QChar();
}

// The Latin word or number just before i follows a Chinese character with no blank between
// (率95%, 用Python): a mark after it ends a Chinese sentence.
bool wordAfterChinese(const QString &text, int i)
{
    int j = i - 1;
    while (j >= 0 && !text.at(j).isSpace() && !isChinese(text.at(j)))
        --j;
    return j >= 0 && j < i - 1 && isChinese(text.at(j));
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

} // namespace

namespace ChinesePunctuation {

QString apply(const QString &text)
{
    bool anyHan = false;
    for (const QChar c : text)
        anyHan = anyHan || isHan(c);
    if (!anyHan)
        return text;

    const QVector<bool> kept = protectedSpans(text);
    QString out;
    out.reserve(text.size());
    bool doubleOpen = false;
    bool singleOpen = false;
    QVector<bool> brackets; // whether each open bracket became full-width
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
            const QChar right = nearestRight(text, i);
            const bool nextToChinese = isChinese(left) || isChinese(right);
            const bool inLatinWord = i > 0 && i + 1 < text.size() && isLatinAlnum(text.at(i - 1))
                && isLatinAlnum(text.at(i + 1));
            const ushort u = c.unicode();
            if (u == '(') {
                const bool convert = nextToChinese;
                brackets.append(convert);
                if (convert)
                    made = QChar(0xFF08);
            } else if (u == ')') {
                const bool convert = brackets.isEmpty() ? isChinese(left) : brackets.takeLast();
                if (convert)
                    made = QChar(0xFF09);
            } else if (u == '"' && nextToChinese) {
                made = doubleOpen ? QChar(0x201D) : QChar(0x201C);
                doubleOpen = !doubleOpen;
            } else if (u == '\'' && nextToChinese && !inLatinWord) {
                made = singleOpen ? QChar(0x2019) : QChar(0x2018);
                singleOpen = !singleOpen;
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

QString spaced(const QString &text)
{
    return spacedText(text);
}

} // namespace ChinesePunctuation
