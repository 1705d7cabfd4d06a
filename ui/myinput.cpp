#include "ui/myinput.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

MyInput::MyInput(QWidget *parent)
    : QDialog(parent)
{
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowSystemMenuHint);
    setFixedSize(320, 180);

    titleLabel = new QLabel(this);
    titleLabel->setStyleSheet(
        QStringLiteral("QLabel {background:#0c80e8;color:white;font:bold %1px;"
                       "border-top:1px solid #b6bbc2;border-bottom:1px solid #b6bbc2; "
                       "border-left:1px solid #b6bbc2;border-right:1px solid #b6bbc2;"
                       "border-top-left-radius: 4px; border-top-right-radius: 4px}")
            .arg(14));
    titleLabel->setText(QStringLiteral("重命名"));
    titleLabel->setGeometry(0, 0, 320, 30);

    closeButton = new QPushButton(titleLabel);
    closeButton->setToolTip(QStringLiteral("关闭"));
    closeButton->setStyleSheet(QStringLiteral(
        "QPushButton{border:0px solid black;border-image:url(:/images/closeBtn_p.png);} "));
    closeButton->setCursor(Qt::PointingHandCursor);
    closeButton->setGeometry(290, 2, 26, 26);
    connect(closeButton, &QPushButton::clicked, this, &MyInput::slotClose);

    nameEdit = new QLineEdit(this);
    nameEdit->setGeometry(40, 80, 240, 36);

    okButton = new QPushButton(this);
    okButton->setGeometry(140, 140, 60, 26);
    okButton->setStyleSheet(QStringLiteral("QPushButton {background:#0c80e8;color:white;}"));
    okButton->setText(QStringLiteral("确定"));
    connect(okButton, &QPushButton::clicked, this, &MyInput::slotOK);
}

void MyInput::slotOK()
{
    okPressed = true;
    close();
}

void MyInput::slotClose()
{
    okPressed = false;
    close();
}
