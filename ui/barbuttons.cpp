#include "ui/barbuttons.h"

#include "ui/styles.h"

#include <QPushButton>

namespace BarButtons {

QPushButton *makeButton(
    QWidget *parent, const QString &tooltip, const QString &style, const QRect &geometry)
{
    auto *button = new QPushButton(parent);
    if (!tooltip.isEmpty())
        button->setToolTip(tooltip);
    button->setStyleSheet(style);
    button->setCursor(Qt::PointingHandCursor);
    button->setGeometry(geometry);
    return button;
}

QPushButton *makeActionButton(QWidget *parent, const QString &text, const QRect &geometry)
{
    QPushButton *button
        = makeButton(parent, QString(), Styles::sheet(QStringLiteral("action-button")), geometry);
    button->setText(text);
    return button;
}

QPushButton *makeImageButton(
    QWidget *parent, const QString &tooltip, const QString &image, const QRect &geometry)
{
    return makeButton(parent, tooltip, Styles::imageButton(image), geometry);
}

} // namespace BarButtons
