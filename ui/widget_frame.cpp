#include "ui/widget.h"

void Widget::mousePressEvent(QMouseEvent *event)
{
    Q_UNUSED(event)
}

void Widget::mouseReleaseEvent(QMouseEvent *event)
{
    Q_UNUSED(event)
}

void Widget::mouseMoveEvent(QMouseEvent *event)
{
    Q_UNUSED(event)
}

void Widget::slotShowMaxSize()
{
}

void Widget::slotClose()
{
}

void Widget::slotWavBtnChecked(bool checked)
{
    Q_UNUSED(checked)
}

void Widget::slotTxtBtnChecked(bool checked)
{
    Q_UNUSED(checked)
}

void Widget::showHomePage()
{
}
