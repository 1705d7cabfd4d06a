#include "ui/widget.h"

#include "app/appglobals.h"
#include "app/filenames.h"
#include "asr/jobresume.h"
#include "audio/ffmpegargs.h"
#include "audio/ffmpegrunner.h"
#include "audio/wavinfo.h"
#include "ui/dialogs.h"

#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QPushButton>

FfmpegRunner *Widget::runner()
{
    if (!ffmpegRunner) {
        ffmpegRunner = new FfmpegRunner(this);
        connect(ffmpegRunner, &FfmpegRunner::failedToStart, this,
            [this](QProcess *process) { onFfmpegFailedToStart(process); });
    }
    return ffmpegRunner;
}

void Widget::onFfmpegFailedToStart(QProcess *process)
{
    const QString message = QStringLiteral("未找到ffmpeg程序，无法处理音频！");
    if (process == ffmpegRecordProcess) {
        if (recordButton->isChecked())
            recordingFailed(message);
        return;
    }
    if (jobRunning())
        failJob(message);
}

void Widget::abortAudioSteps()
{
    const bool converting = ffmpegConvertProcess->state() != QProcess::NotRunning;
    FfmpegRunner::stopQuietly(ffmpegConvertProcess);
    FfmpegRunner::stopQuietly(ffmpegProbeProcess);
    FfmpegRunner::stopQuietly(ffmpegCutProcess);
    // A half-written copy beside the user's file is of no use to anyone.
    if (converting && !convertTargetExisted && !convertTarget.isEmpty())
        QFile::remove(convertTarget);
    probeOutput.clear();
    durationFound = false;
}

void Widget::restoreTaskFront()
{
    if (jobSourceFile.isEmpty() || taskFiles.isEmpty())
        return;
    const QString converted = FfmpegArgs::convertedPath(jobSourceFile);
    if (taskFiles.first() != converted)
        return;
    taskFiles[0] = jobSourceFile;
    const QString sourceName = FileNames::fileName(jobSourceFile);
    const int entry = taskBoxIndexOf(FileNames::fileName(converted));
    if (entry >= 0)
        taskFileCombo->setItemText(entry, sourceName);
    else
        taskFileCombo->insertItem(taskFileCombo->count(), QIcon(), sourceName, QVariant());
}

void Widget::convertAudioFormat()
{
    startConvertButton->setText(QStringLiteral("预处理..."));
    startConvertButton->setEnabled(false);
    stopConvertButton->setEnabled(true);
    setTaskControlsEnabled(false);
    if (taskFiles.isEmpty()) {
        setIdleButtons();
        return;
    }
    // A restart after a stop or an error begins with the file as the user added it.
    restoreTaskFront();
    const QString source = taskFiles.first();
    jobSourceFile = source;
    AppGlobals::taskBasePath = FileNames::withoutSuffix(source);
    resume->beginFile(ResumeIdentity::of(source, languageCombo->currentText(), serviceBaseUrl));
    startConvertButton->setText(resume->preparingText(startConvertButton->text()));

    if (FfmpegArgs::isRawPcm(source)) {
        const bool goOn = Dialogs::current().question(nullptr, QStringLiteral("提示"),
            QStringLiteral("PCM文件要求[采样率=16000,1-单声道]是否继续转写呢？"));
        if (!jobRunning())
            return; // stopped while the question was open
        if (goOn)
            getAudioLength();
        else
            setIdleButtons();
        return;
    }

    convertTarget = FfmpegArgs::convertedPath(source);
    convertTargetExisted = QFileInfo::exists(convertTarget);
    runner()->start(ffmpegConvertProcess, FfmpegArgs::conversion(source, convertTarget));
}

void Widget::slotConvertAudioFormatFinish()
{
    if (!jobRunning())
        return;
    const WavInfo output = WavInfo::fromFile(convertTarget);
    if (taskFiles.isEmpty() || !FfmpegRunner::succeeded(ffmpegConvertProcess) || !output.valid
        || output.dataBytes == 0) {
        if (!convertTargetExisted)
            QFile::remove(convertTarget);
        failJob(QStringLiteral("音频转换失败，请检查文件是否完整！"));
        return;
    }

    const int entry = taskBoxIndexOf(FileNames::fileName(taskFiles.first()));
    if (entry >= 0)
        taskFileCombo->removeItem(entry);
    taskFileCombo->insertItem(
        taskFileCombo->count(), QIcon(), FileNames::fileName(convertTarget), QVariant());
    // Only the front entry is the converted file; other entries are left as they are.
    taskFiles[0] = convertTarget;
    getAudioLength();
}
