#pragma once

#include <QRect>
#include <QString>

class QPushButton;
class QWidget;

// The buttons of the window's strips and panes: each points, at its fixed place.
namespace BarButtons {

// The blue action button of the strips ("上传文件", "开始转换", ...), greyed out when disabled.
extern const char *const ActionStyle;
// The boxes' frame (device, task file, language).
extern const char *const ComboStyle;
// A strip of the right pane: white, with a line under it.
extern const char *const StripStyle;

QPushButton *makeButton(
    QWidget *parent, const QString &tooltip, const char *style, const QRect &geometry);
QPushButton *makeActionButton(QWidget *parent, const QString &text, const QRect &geometry);

} // namespace BarButtons
