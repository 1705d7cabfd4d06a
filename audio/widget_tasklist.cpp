#include "ui/widget.h"

void Widget::setTaskControlsEnabled(bool enabled)
{
    Q_UNUSED(enabled)
}

void Widget::slotOpenWav()
{
}

void Widget::slotAddWav()
{
}

void Widget::slotLoadWav()
{
}
