#include "ui/widget.h"

void Widget::abortAudioSteps()
{
}

void Widget::restoreTaskFront()
{
}

void Widget::convertAudioFormat()
{
}

void Widget::slotConvertAudioFormatFinish()
{
}
