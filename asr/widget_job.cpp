#include "ui/widget.h"

#include <QPushButton>

#include "ui/dialogs.h"

bool Widget::jobRunning() const
{
    return stopConvertButton && stopConvertButton->isEnabled();
}

void Widget::setIdleButtons()
{
    startConvertButton->setText(QStringLiteral("开始转换"));
    startConvertButton->setEnabled(true);
    stopConvertButton->setEnabled(false);
    closeDocButton->setEnabled(true);
    setTaskControlsEnabled(true);
}

void Widget::failJob(const QString &message)
{
    abortAudioSteps();
    abortSpeechSteps();
    restoreTaskFront();
    Dialogs::current().information(this, QStringLiteral("提示"), message);
    setIdleButtons();
}

void Widget::delayMsec(int ms)
{
    Q_UNUSED(ms)
}

void Widget::abortSpeechSteps()
{
}

void Widget::slotReadJson(int requestId, QByteArray body)
{
    Q_UNUSED(requestId)
    Q_UNUSED(body)
}

void Widget::slotReadJsonError(int requestId, QByteArray body)
{
    Q_UNUSED(requestId)
    Q_UNUSED(body)
}

void Widget::slotBeginCover()
{
}

void Widget::slotBeginUpload()
{
}

void Widget::slotStopCover()
{
}
