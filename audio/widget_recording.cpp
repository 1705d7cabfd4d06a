#include "ui/widget.h"

#include "app/appglobals.h"
#include "app/filenames.h"
#include "audio/audiotexts.h"
#include "audio/ffmpegargs.h"
#include "audio/ffmpegrunner.h"
#include "platform/captureinput.h"
#include "ui/dialogs.h"
#include "ui/mylistwidget.h"

#include <QComboBox>
#include <QDateTime>
#include <QFileInfo>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>

QString Widget::formatRecordTime(int seconds)
{
    return AudioTexts::clockText(seconds);
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

    const QString folder = AppGlobals::appDir + QStringLiteral("/myWAVFiles");
    recordFile = AudioTexts::recordFilePath(folder, QDateTime::currentDateTime(),
        [this](const QString &path) { return wavFiles.contains(path) || QFileInfo::exists(path); });
    QStringList capture = CaptureInput::argumentsFor(audioDevice);
    if (!captureInputOverride.isEmpty()) {
        capture = captureInputOverride;
        // A stand-in source (a generated signal) is read at its own pace, as a device would be.
        if (!capture.contains(QLatin1String("-re")))
            capture.prepend(QStringLiteral("-re"));
    }
    runner()->start(ffmpegRecordProcess, FfmpegArgs::recording(capture, recordFile));
    recordButton->setToolTip(QStringLiteral("停止录制"));
    recordStartTime = QDateTime::currentMSecsSinceEpoch();
    recordTimer->start(500);
}

void Widget::finishRecording()
{
    // The quit key lets ffmpeg finish the file; terminate covers a tool that does not read it.
    ffmpegRecordProcess->write("q");
    ffmpegRecordProcess->waitForBytesWritten(1000);
    ffmpegRecordProcess->terminate();
    ffmpegRecordProcess->waitForFinished(30000);
    if (recordTimer->isActive())
        recordTimer->stop();
    recordButton->setToolTip(QStringLiteral("开始录制"));

    if (!QFileInfo(recordFile).isFile()) {
        Dialogs::current().information(
            this, QStringLiteral("提示"), QStringLiteral("录音失败，未生成录音文件！"));
        return;
    }

    wavFiles.append(recordFile);
    const QString name = FileNames::fileName(recordFile);
    wavList->insertItem(wavList->count(), name);
    taskFileCombo->insertItem(0, QIcon(), name, QVariant());
    taskFileCombo->setCurrentIndex(0);
    if (!taskFiles.contains(recordFile)) {
        // A running job works on the front entry; the recording queues right behind it.
        const int at = jobRunning() && !taskFiles.isEmpty() ? 1 : 0;
        taskFiles.insert(at, recordFile);
    }
    if (!wavListButton->isChecked())
        wavListButton->setChecked(true);
}

void Widget::recordingFailed(const QString &message)
{
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
    recordTick = int((QDateTime::currentMSecsSinceEpoch() - recordStartTime) / 1000);
    recordTimeLabel->setText(formatRecordTime(recordTick));
}
