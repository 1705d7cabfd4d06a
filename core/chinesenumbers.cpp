#include "core/chinesenumbers.h"

#include <QStringList>

namespace {

const QString Digits = QStringLiteral("零一二三四五六七八九");

int digitOf(QChar c)
{
    if (c == QChar(0x3007)) // 〇
        return 0;
    if (c == QChar(0x4E24) || c == QChar(0x5169)) // 两, 兩
        return 2;
    return Digits.indexOf(c);
}

qint64 unitOf(QChar c)
{
    switch (c.unicode()) {
    case 0x5341: // 十
        return 10;
    case 0x767E: // 百
        return 100;
    case 0x5343: // 千
        return 1000;
    case 0x4E07: // 万
    case 0x842C: // 萬
        return 10000;
    case 0x4EBF: // 亿
    case 0x5104: // 億
        return 100000000;
    }
    return 0;
}

bool isNumeral(QChar c)
{
    return digitOf(c) >= 0 || unitOf(c) > 0;
}

bool isDigitOnly(const QString &run)
{
    for (const QChar c : run)
        if (digitOf(c) < 0)
            return false;
    return true;
}

// Below ten thousand: 三千零五, 十五, 一百五 (a trailing numeral after a unit counts in the next
// unit down).
qint64 sectionValue(const QString &s)
{
    if (s.isEmpty())
        return -1;
    qint64 total = 0;
    int digit = -1;
    qint64 lastUnit = 10000;
    bool zeroSeen = false;
    for (int i = 0; i < s.size(); ++i) {
        const int d = digitOf(s.at(i));
        if (d == 0) {
            if (digit > 0)
                return -1;
            zeroSeen = true;
            digit = -1;
            continue;
        }
        if (d > 0) {
            if (digit >= 0)
                return -1;
            digit = d;
            continue;
        }
        const qint64 unit = unitOf(s.at(i));
        if (unit >= lastUnit || unit > 1000)
            return -1;
        if (digit < 0) {
            if (unit != 10 || (total != 0 && !zeroSeen))
                return -1;
            digit = 1;
        }
        total += digit * unit;
        digit = -1;
        zeroSeen = false;
        lastUnit = unit;
    }
    if (digit > 0)
        total += (!zeroSeen && lastUnit >= 100 && lastUnit < 10000) ? digit * lastUnit / 10 : digit;
    return total;
}

qint64 numeralValue(const QString &s)
{
    for (const auto &[unit, multiplier] : { std::pair<QChar, qint64>(QChar(0x4EBF), 100000000),
             { QChar(0x5104), 100000000 }, { QChar(0x4E07), 10000 }, { QChar(0x842C), 10000 } }) {
        const int at = s.lastIndexOf(unit);
        if (at < 0)
            continue;
        const qint64 high = numeralValue(s.left(at));
        const QString rest = s.mid(at + 1);
        // 三万五 is 35000, as 一百五 is 150.
        const qint64 low = rest.isEmpty()                 ? 0
            : rest.size() == 1 && digitOf(rest.at(0)) > 0 ? digitOf(rest.at(0)) * multiplier / 10
                                                          : numeralValue(rest);
        if (high <= 0 || low < 0 || low >= multiplier)
            return -1;
        return high * multiplier + low;
    }
    return sectionValue(s);
}

QString positional(const QString &run)
{
    QString out;
    for (const QChar c : run)
        out += QChar('0' + digitOf(c));
    return out;
}

// Words and idioms that hold numerals: left as they are wherever they appear.
const QStringList &words()
{
    static const QStringList list = QString::fromUtf8(
        "一些 一样 一模一样 一点一滴 一点一点 一五一十 一心一意 一一 一下 一起 一直 一定 一般 一切 "
        "十分 十全十美 万一 千万 万万 三心二意 三番五次 三言两语 七上八下 乱七八糟 五花八门 "
        "四面八方 百分之百 一千零一夜 九九八十一 "
        // the same in traditional script, which the script step may have written
        "一樣 一模一樣 一點一滴 一點一點 萬一 千萬 萬萬 三言兩語 七上八下 亂七八糟 五花八門")
                                        .split(QLatin1Char(' '), Qt::SkipEmptyParts);
    return list;
}

// Measure words and units after which a count is a number.
bool startsWithMeasure(const QString &text, int at)
{
    static const QStringList list = QString::fromUtf8(
        "分钟 小时 公里 千米 厘米 毫米 公斤 千克 平方米 个 位 名 人 年 月 日 号 天 岁 次 遍 元 块 "
        "米 克 斤 吨 秒 周 倍 度 页 章 本 张 台 辆 家 条 件 项 届 期 层 楼 场 首 部 座 所 支 亿 种 "
        // the same in traditional script
        "分鐘 小時 釐米 個 歲 塊 噸 週 頁 張 臺 輛 條 項 屆 層 樓 場 號 種 億")
                                        .split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString &m : list)
        if (text.midRef(at, m.size()) == m)
            return true;
    return false;
}

int runEnd(const QString &text, int from)
{
    int end = from;
    while (end < text.size() && isNumeral(text.at(end)))
        ++end;
    return end;
}

// "X点Y" with a digit-only fraction that is not a time (三点五分) or a phrase (一点一点).
bool decimalAt(const QString &text, int intEnd, int *fracEnd)
{
    if (intEnd >= text.size()
        || (text.at(intEnd) != QChar(0x70B9) && text.at(intEnd) != QChar(0x9EDE))) // 点, 點
        return false;
    const int end = runEnd(text, intEnd + 1);
    if (end == intEnd + 1 || !isDigitOnly(text.mid(intEnd + 1, end - intEnd - 1)))
        return false;
    if (end < text.size() && QString::fromUtf8("点點分刻钟鐘半").contains(text.at(end)))
        return false;
    *fracEnd = end;
    return true;
}

} // namespace

namespace ChineseNumbers {

qint64 value(const QString &numeral)
{
    if (numeral.isEmpty())
        return -1;
    for (const QChar c : numeral)
        if (!isNumeral(c))
            return -1;
    return numeralValue(numeral);
}

QString toDigits(const QString &text)
{
    const QString percent = QString::fromUtf8("百分之");
    QString out;
    out.reserve(text.size());
    int i = 0;
    while (i < text.size()) {
        bool skipped = false;
        for (const QString &w : words()) {
            if (text.midRef(i, w.size()) == w) {
                out += w;
                i += w.size();
                skipped = true;
                break;
            }
        }
        if (skipped)
            continue;

        const bool isPercent = text.midRef(i, percent.size()) == percent;
        const int start = isPercent ? i + percent.size() : i;
        const QChar c = start < text.size() ? text.at(start) : QChar();
        const bool runStart = (digitOf(c) >= 0 || unitOf(c) == 10)
            && (isPercent || i == 0 || !isNumeral(text.at(i - 1)));
        if (!runStart) {
            out += text.at(i++);
            continue;
        }
        const int end = runEnd(text, start);
        const QString run = text.mid(start, end - start);
        const qint64 v = numeralValue(run);
        QString made;
        int madeEnd = end;
        int fracEnd = 0;
        if (v >= 0 && decimalAt(text, end, &fracEnd)) {
            made = QString::number(v) + QLatin1Char('.')
                + positional(text.mid(end + 1, fracEnd - end - 1));
            madeEnd = fracEnd;
        } else if (isDigitOnly(run) && run.size() >= 2) {
            const bool withZero = run.contains(QChar(0x3007)) || run.contains(Digits.at(0));
            const bool year = end < text.size() && text.at(end) == QChar(0x5E74); // 年
            // 两 is no digit of a year or a code: 零零两 is not written so.
            const bool withTwo = run.contains(QChar(0x4E24)) || run.contains(QChar(0x5169));
            if ((year && (run.size() == 4 || withZero)) || (withZero && !withTwo))
                made = positional(run);
        } else if (v >= 0 && (run.size() >= 2 || isPercent)
            && (isPercent || startsWithMeasure(text, end))) {
            made = QString::number(v);
        }
        if (isPercent && !made.isEmpty())
            made += QLatin1Char('%');
        if (made.isEmpty()) {
            out += text.midRef(i, end - i);
        } else {
            out += made;
        }
        i = made.isEmpty() ? end : madeEnd;
    }
    return out;
}

} // namespace ChineseNumbers
