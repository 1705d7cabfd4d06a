#include "ui/widget.h"

void Widget::slotAudioDeviceChanged(QString name)
{
    Q_UNUSED(name)
}

void Widget::getAudioDev()
{
}
