#include "core/userterms.h"

#include "core/programlayout.h"

#include <QDir>
#include <QFile>

#include <algorithm>

namespace {

const int PromptTokens = 224;
const QString Arrow = QStringLiteral("=>");

QChar folded(QChar c)
{
    const ushort u = c.unicode();
    if (u >= 0xFF01 && u <= 0xFF5E)
        c = QChar(ushort(u - 0xFEE0));
    else if (u == 0x3000)
        c = QLatin1Char(' ');
    return c.toCaseFolded();
}

bool isLatinWordChar(QChar c)
{
    c = folded(c);
    return c.unicode() < 0x80 && (c.isLetterOrNumber() || c == QLatin1Char('_'));
}

bool matchesAt(const QString &text, int at, const QString &wrong)
{
    if (at + wrong.size() > text.size())
        return false;
    for (int i = 0; i < wrong.size(); ++i)
        if (folded(text.at(at + i)) != folded(wrong.at(i)))
            return false;
    if (isLatinWordChar(wrong.front()) && at > 0 && isLatinWordChar(text.at(at - 1)))
        return false;
    const int end = at + wrong.size();
    if (isLatinWordChar(wrong.back()) && end < text.size() && isLatinWordChar(text.at(end)))
        return false;
    return true;
}

int tokenWeight(const QString &s)
{
    int weight = 0;
    for (const QChar c : s)
        weight += c.unicode() < 0x80 ? 1 : 2;
    return weight;
}

} // namespace

UserTerms UserTerms::parse(const QString &text)
{
    UserTerms list;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (QString line : lines) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const int arrow = line.indexOf(Arrow);
        if (arrow < 0) {
            if (!list.terms.contains(line))
                list.terms.append(line);
            continue;
        }
        const QString wrong = line.left(arrow).trimmed();
        const QString right = line.mid(arrow + Arrow.size()).trimmed();
        if (wrong.isEmpty())
            continue;
        list.replacements.append({ wrong, right });
        if (!right.isEmpty() && !list.terms.contains(right))
            list.terms.append(right);
    }
    std::stable_sort(list.replacements.begin(), list.replacements.end(),
        [](const Replacement &a, const Replacement &b) { return a.wrong.size() > b.wrong.size(); });
    return list;
}

QString UserTerms::apply(const QString &text) const
{
    if (replacements.isEmpty())
        return text;
    QString out;
    out.reserve(text.size());
    int i = 0;
    while (i < text.size()) {
        const Replacement *hit = nullptr;
        for (const Replacement &r : replacements) {
            if (matchesAt(text, i, r.wrong)) {
                hit = &r;
                break;
            }
        }
        if (hit) {
            out += hit->right;
            i += hit->wrong.size();
        } else {
            out += text.at(i++);
        }
    }
    return out;
}

QString UserTerms::prompt() const
{
    const QString separator = QStringLiteral(", ");
    QString joined;
    for (const QString &term : terms) {
        const QString next = joined.isEmpty() ? term : joined + separator + term;
        if (tokenWeight(next) > PromptTokens)
            break;
        joined = next;
    }
    return joined;
}

namespace UserTermsFile {

QString path()
{
    return ProgramLayout::userConfigFolder() + QStringLiteral("/terms.txt");
}

UserTerms load(const QString &file, bool *ok)
{
    QFile f(file);
    // A terms list is a few hundred lines; anything far larger is not one.
    const bool readable = f.open(QIODevice::ReadOnly) && f.size() <= 1024 * 1024;
    if (ok)
        *ok = readable;
    if (!readable)
        return {};
    return UserTerms::parse(QString::fromUtf8(f.readAll()));
}

} // namespace UserTermsFile
