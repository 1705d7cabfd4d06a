#include "ui/widget.h"

#include "core/tasklist.h"

#include "audio/audiotexts.h"
#include "audio/recorder.h"
#include "core/filenames.h"
#include "ui/appglobals.h"
#include "ui/dialogs.h"
#include "ui/mylistwidget.h"
#include "ui/taskbar.h"

#include <QComboBox>
#include <QDateTime>
#include <QFileInfo>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>

void Widget::setCaptureInputOverride(const QStringList &args)
{
    recorder->setCaptureInputOverride(args);
}

void Widget::slotBeginRecord(bool checked)
{
    if (!checked) {
        finishRecording();
        return;
    }
    if (audioDevice.isEmpty()) {
        Dialogs::current().information(
            this, QStringLiteral("提示"), QStringLiteral("没有检测到录音设备！"));
        // Back to Idle without the stop steps: there is nothing to stop.
        const QSignalBlocker blocker(recordButton);
        recordButton->setChecked(false);
        return;
    }

    recordFile = recorder->start(AppGlobals::appDir() + QStringLiteral("/myWAVFiles"), audioDevice,
        [this](const QString &path) { return wavFiles.contains(path) || QFileInfo::exists(path); });
    recordButton->setToolTip(QStringLiteral("停止录制"));
    recordStartTime = QDateTime::currentMSecsSinceEpoch();
    recordTimer->start(500);
}

void Widget::finishRecording()
{
    const bool written = recorder->finish();
    if (recordTimer->isActive())
        recordTimer->stop();
    recordButton->setToolTip(QStringLiteral("开始录制"));

    if (!written) {
        Dialogs::current().information(
            this, QStringLiteral("提示"), QStringLiteral("录音失败，未生成录音文件！"));
        return;
    }

    wavFiles.append(recordFile);
    const QString name = FileNames::fileName(recordFile);
    wavList->insertItem(wavList->count(), name);
    // A running job works on the front entry; the recording queues right behind it.
    taskBar->choose(
        taskFiles->addRecording(recordFile, jobRunning() && !taskFiles->isEmpty() ? 1 : 0));
    if (!wavListButton->isChecked())
        wavListButton->setChecked(true);
}

void Widget::recordingFailed(const QString &message)
{
    if (!recordButton->isChecked())
        return;
    if (recordTimer->isActive())
        recordTimer->stop();
    recordButton->setToolTip(QStringLiteral("开始录制"));
    {
        const QSignalBlocker blocker(recordButton);
        recordButton->setChecked(false);
    }
    Dialogs::current().information(this, QStringLiteral("提示"), message);
}

void Widget::sltSetRecordTime()
{
    const int seconds = int((QDateTime::currentMSecsSinceEpoch() - recordStartTime) / 1000);
    recordTimeLabel->setText(AudioTexts::clockText(seconds));
}
