#include "ui/titlebar.h"

#include "ui/appglobals.h"
#include "ui/barbuttons.h"
#include "ui/servicesettingsdialog.h"
#include "ui/styles.h"

#include <QIcon>
#include <QMouseEvent>
#include <QPushButton>

TitleBar::TitleBar(QWidget *window)
    : QLabel(window)
{
    setObjectName(QStringLiteral("titleBar"));
    setGeometry(0, 0, 1024, 30);
    setText(QStringLiteral("Tovarin 语音转写"));
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // Keeps the header text clear of the logo in its left corner.
    setIndent(36);
    setStyleSheet(Styles::sheet(QStringLiteral("title-bar")));

    auto *logoLabel = new QLabel(this);
    logoLabel->setObjectName(QStringLiteral("logoLabel"));
    logoLabel->setGeometry(0, 0, 30, 30);
    logoLabel->setStyleSheet(Styles::sheet(QStringLiteral("logo")));
    // Through an icon, so a scaled screen gets the double-size drawing at its own resolution.
    logoLabel->setPixmap(QIcon(QStringLiteral(":/images/icon.png")).pixmap(30, 30));

    ServiceSettingsDialog::addOpenButton(this, QRect(830, 2, 84, 26));

    homeButton = addButton(QStringLiteral("主页"), QStringLiteral("homepage"), "homeButton");
    connect(homeButton, &QPushButton::clicked, this, &TitleBar::homeClicked);
    minButton = addButton(QStringLiteral("最小化"), QStringLiteral("minBtn_p"), "minButton");
    connect(minButton, &QPushButton::clicked, this, &TitleBar::minimizeClicked);
    maxButton = addButton(QStringLiteral("最大化"), QStringLiteral("maxBtn_p"), "maxButton");
    connect(maxButton, &QPushButton::clicked, this, &TitleBar::maximizeClicked);
    closeButton = addButton(QStringLiteral("关闭"), QStringLiteral("closeBtn_p"), "closeButton");
    connect(closeButton, &QPushButton::clicked, this, &TitleBar::closeClicked);
    place(1024, false);
}

QPushButton *TitleBar::addButton(const QString &tooltip, const QString &image, const char *name)
{
    QPushButton *button
        = BarButtons::makeButton(this, tooltip, Styles::imageButton(image), QRect(0, 2, 26, 26));
    button->setObjectName(QLatin1String(name));
    return button;
}

void TitleBar::place(int width, bool maximised)
{
    resize(width, 30);
    maxButton->setStyleSheet(
        Styles::imageButton(maximised ? QStringLiteral("normal_p") : QStringLiteral("maxBtn_p")));
    maxButton->setToolTip(maximised ? QStringLiteral("还原") : QStringLiteral("最大化"));
    QPushButton *buttons[] = { homeButton, minButton, maxButton, closeButton };
    for (int i = 0; i < 4; ++i)
        buttons[i]->setGeometry(width - 105 + 25 * i, 2, 26, 26);
}

void TitleBar::dragPressed(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        dragPos = event->pos();
        dragging = true;
    }
}

void TitleBar::dragReleased(QMouseEvent *event)
{
    dragging = false;
    event->accept();
}

void TitleBar::dragMoved(QMouseEvent *event)
{
    if (event->buttons() == Qt::LeftButton && dragging
        && window()->width() != AppGlobals::screenWidth())
        window()->move(event->globalPos() - dragPos);
}
