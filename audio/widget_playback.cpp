#include "ui/widget.h"

void Widget::slotAudioChanged(QString text)
{
    Q_UNUSED(text)
}

void Widget::slotPlay()
{
}

void Widget::slotForward()
{
}

void Widget::slotBackward()
{
}

void Widget::slotPause()
{
}

void Widget::updateCurrentTime()
{
}

void Widget::playend()
{
}
