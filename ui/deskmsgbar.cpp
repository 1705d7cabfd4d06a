#include "ui/deskmsgbar.h"

#include "ui/appglobals.h"
#include "ui/styles.h"

#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

deskMsgBar::deskMsgBar(QWidget *parent, bool showCancel, const QString &text)
    : QDialog(parent)
{
    setFixedSize(320, 220);
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setAttribute(Qt::WA_TranslucentBackground);
    // Closing a notice must never end the application.
    setAttribute(Qt::WA_QuitOnClose, false);

    addCard();
    addMessage(text);
    addButtons();
    placeButtons(showCancel);
    move((AppGlobals::screenWidth() - width()) / 2, (AppGlobals::screenHeight() - height()) / 2);

    connect(okButton, &QPushButton::clicked, this, &deskMsgBar::sureBtnSlot);
    connect(cancelButton, &QPushButton::clicked, this, &deskMsgBar::cancleBtnSlot);
    connect(closeButton, &QPushButton::clicked, this, &deskMsgBar::cancleBtnSlot);
}

void deskMsgBar::addCard()
{
    auto *card = new QLabel(this);
    card->setGeometry(0, 0, 320, 220);
    card->setStyleSheet(Styles::sheet(QStringLiteral("notice-card")));

    auto *titleLabel = new QLabel(this);
    titleLabel->setText(QStringLiteral("  感谢你的关注"));
    titleLabel->setFont(AppGlobals::appFont());
    titleLabel->setGeometry(0, 0, width(), 40);
    titleLabel->setStyleSheet(Styles::sheet(QStringLiteral("dialog-title")));
}

void deskMsgBar::addMessage(const QString &text)
{
    messageLabel = new QLabel(this);
    messageLabel->setGeometry(20, 70, 280, 70);
    messageLabel->setWordWrap(true);
    messageLabel->setText(text);
    messageLabel->setObjectName(QStringLiteral("textLabel"));
    messageLabel->setAlignment(Qt::AlignCenter);
    messageLabel->setStyleSheet(Styles::sheet(QStringLiteral("notice-text")));
}

void deskMsgBar::addButtons()
{
    closeButton = new QPushButton(this);
    closeButton->setFixedSize(30, 30);
    closeButton->setCursor(Qt::PointingHandCursor);
    closeButton->move(width() - closeButton->width() - 5, 5);
    closeButton->setStyleSheet(Styles::imageButton(QStringLiteral("closeBtn_p")));

    okButton = new QPushButton(this);
    okButton->setDefault(true);
    okButton->setFixedSize(80, 30);
    okButton->setFocusPolicy(Qt::NoFocus);
    okButton->setCursor(Qt::PointingHandCursor);
    okButton->setText(tr("立即体验"));
    okButton->setFont(AppGlobals::appFont());
    okButton->setStyleSheet(Styles::sheet(QStringLiteral("notice-ok")));

    const int screenWidth = AppGlobals::screenWidth();
    cancelButton = new QPushButton(this);
    cancelButton->setFixedSize(screenWidth / 20, screenWidth / 50);
    cancelButton->setFocusPolicy(Qt::NoFocus);
    cancelButton->setText(tr("否"));
    cancelButton->setStyleSheet(Styles::sheet(QStringLiteral("notice-cancel")));
}

void deskMsgBar::placeButtons(bool showCancel)
{
    const int screenWidth = AppGlobals::screenWidth();
    const int w = width();
    const int h = height();
    const int ow = okButton->width();
    const int oh = okButton->height();
    if (!showCancel) {
        cancelButton->hide();
        okButton->move((w - ow) / 2, h - oh - 20);
    } else {
        okButton->move(
            w - 2 * ow - screenWidth / 120 - screenWidth / 64, h - oh - screenWidth / 64);
        // Placed by the size of the default button, so both stand on one line.
        cancelButton->move(w - ow - screenWidth / 64, h - oh - screenWidth / 64);
    }
}

void deskMsgBar::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        dragPos = event->pos();
        dragging = true;
    }
}

void deskMsgBar::mouseReleaseEvent(QMouseEvent *event)
{
    dragging = false;
    event->accept();
}

void deskMsgBar::mouseMoveEvent(QMouseEvent *event)
{
    if (event->buttons() == Qt::LeftButton && dragging)
        move(event->globalPos() - dragPos);
}

void deskMsgBar::keyPressEvent(QKeyEvent *event)
{
    // Only a click on a button closes the notice: Escape and Return are swallowed.
    Q_UNUSED(event)
}

void deskMsgBar::sureBtnSlot()
{
    close();
}

void deskMsgBar::cancleBtnSlot()
{
    close();
}

void deskMsgBar::closeBtnSlot()
{
    close();
}
