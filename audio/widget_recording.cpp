#include "ui/widget.h"

QString Widget::formatRecordTime(int seconds)
{
    Q_UNUSED(seconds)
    return QString();
}

void Widget::slotBeginRecord(bool checked)
{
    Q_UNUSED(checked)
}

void Widget::sltSetRecordTime()
{
}
