#include "ui/widget.h"

void Widget::clearFolder(QString path)
{
    Q_UNUSED(path)
}

void Widget::slotGetAudioLengthFinish()
{
}

void Widget::slotCutAudioFinish()
{
}

void Widget::onReadOutput()
{
}

void Widget::getAudioLength()
{
}
