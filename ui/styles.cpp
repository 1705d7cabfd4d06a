#include "ui/styles.h"

#include <QFile>
#include <QRegularExpression>

namespace Styles {

QHash<QString, QString> parse(const QString &text)
{
    static const QRegularExpression header(QStringLiteral("^/\\* ([a-z-]+) \\*/$"));
    QHash<QString, QString> sheets;
    QString name;
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch match = header.match(line.trimmed());
        if (match.hasMatch())
            name = match.captured(1);
        else if (!name.isEmpty())
            sheets[name] += line.trimmed() + QLatin1Char(' ');
    }
    for (QString &sheet : sheets)
        sheet = sheet.trimmed();
    return sheets;
}

QString sheet(const QString &name)
{
    static const QHash<QString, QString> sheets = [] {
        QFile file(QStringLiteral(":/window.qss"));
        file.open(QIODevice::ReadOnly);
        return parse(QString::fromUtf8(file.readAll()));
    }();
    return sheets.value(name);
}

QString imageButton(const QString &image)
{
    return sheet(QStringLiteral("image-button")).arg(image);
}

} // namespace Styles
