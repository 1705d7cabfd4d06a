#pragma once

#include <QRect>
#include <QString>

class QPushButton;
class QWidget;

// The buttons of the window's strips and panes: each points, at its fixed place.
namespace BarButtons {

QPushButton *makeButton(
    QWidget *parent, const QString &tooltip, const QString &style, const QRect &geometry);
// An image button drawing ":/images/<image>.png".
QPushButton *makeImageButton(
    QWidget *parent, const QString &tooltip, const QString &image, const QRect &geometry);
// The blue action button of the strips ("上传文件", "开始转换", ...), greyed out when disabled.
QPushButton *makeActionButton(QWidget *parent, const QString &text, const QRect &geometry);

} // namespace BarButtons
