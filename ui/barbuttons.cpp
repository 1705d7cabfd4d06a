#include "ui/barbuttons.h"

#include <QPushButton>

namespace BarButtons {

const char *const ActionStyle
    = "QPushButton {border:0px;background:#217cff;border-radius:3px;font:14px;color:white} "
      "QPushButton:disabled {background:#dcdcdc;color:gray}";
const char *const ComboStyle = "border:1px solid #d8d8d8;border-radius:3px;font:14px";
const char *const StripStyle = "background:white;border-bottom:1px solid #b6bbc2";

QPushButton *makeButton(
    QWidget *parent, const QString &tooltip, const char *style, const QRect &geometry)
{
    auto *button = new QPushButton(parent);
    if (!tooltip.isEmpty())
        button->setToolTip(tooltip);
    button->setStyleSheet(QString::fromUtf8(style));
    button->setCursor(Qt::PointingHandCursor);
    button->setGeometry(geometry);
    return button;
}

QPushButton *makeActionButton(QWidget *parent, const QString &text, const QRect &geometry)
{
    QPushButton *button = makeButton(parent, QString(), ActionStyle, geometry);
    button->setText(text);
    return button;
}

} // namespace BarButtons
