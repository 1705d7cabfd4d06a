#pragma once

#include <QHash>
#include <QString>

// The window's style sheets, kept together in one resource file (resources/window.qss) and read
// from it once.
namespace Styles {

// The sheet of that name ("strip", "combo", ...); empty for a name the file does not have.
QString sheet(const QString &name);
// The sheet of an image button drawing ":/images/<image>.png".
QString imageButton(const QString &image);

// The sheets of a file of that form: each under a line "/* name */" that holds nothing else,
// up to the next such line. Text before the first name is left out.
QHash<QString, QString> parse(const QString &text);

} // namespace Styles
