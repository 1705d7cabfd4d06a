#include "ui/myinput.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "ui/styles.h"

MyInput::MyInput(QWidget *parent)
    : QDialog(parent)
{
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowSystemMenuHint);
    setFixedSize(320, 180);

    titleLabel = new QLabel(this);
    // Framed as the window is: its title bar, its close button.
    titleLabel->setStyleSheet(Styles::sheet(QStringLiteral("title-bar")));
    titleLabel->setText(QStringLiteral("重命名"));
    titleLabel->setGeometry(0, 0, 320, 30);

    closeButton = new QPushButton(titleLabel);
    closeButton->setToolTip(QStringLiteral("关闭"));
    closeButton->setStyleSheet(Styles::imageButton(QStringLiteral("closeBtn_p")));
    closeButton->setCursor(Qt::PointingHandCursor);
    closeButton->setGeometry(290, 2, 26, 26);
    connect(closeButton, &QPushButton::clicked, this, &MyInput::slotClose);

    nameEdit = new QLineEdit(this);
    nameEdit->setGeometry(40, 80, 240, 36);

    okButton = new QPushButton(this);
    okButton->setGeometry(140, 140, 60, 26);
    okButton->setStyleSheet(Styles::sheet(QStringLiteral("dialog-ok")));
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
