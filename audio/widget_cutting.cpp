#include "ui/widget.h"

#include "app/appglobals.h"
#include "asr/jobresume.h"
#include "audio/audiotexts.h"
#include "audio/durationparser.h"
#include "audio/ffmpegargs.h"
#include "audio/ffmpegrunner.h"
#include "audio/wavinfo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QTextEdit>

void Widget::clearFolder(QString path)
{
    QDir folder(path);
    const QStringList files = folder.entryList(QDir::Files);
    for (const QString &name : files)
        folder.remove(name);
}

void Widget::getAudioLength()
{
    if (!jobRunning())
        return;
    if (taskFiles.isEmpty()) {
        failJob(QStringLiteral("无法读取音频时长，请检查文件格式！"));
        return;
    }
    cutSourceFile = taskFiles.first();
    probeOutput.clear();
    durationFound = false;
    runner()->start(ffmpegProbeProcess, FfmpegArgs::probe(cutSourceFile));
}

void Widget::onReadOutput()
{
    const QByteArray chunk = ffmpegProbeProcess->readAll();
    if (!jobRunning() || durationFound)
        return;
    probeOutput += chunk;
    // The label and the time arrive in separate writes: wait for the whole line.
    const QString text = QString::fromLocal8Bit(probeOutput);
    if (!DurationParser::hasCompleteLine(text))
        return;
    int seconds = 0;
    if (!DurationParser::parseSeconds(text, &seconds))
        return;
    durationFound = true;
    beginSegments(seconds);
}

void Widget::slotGetAudioLengthFinish()
{
    if (!jobRunning() || durationFound)
        return;
    probeOutput += ffmpegProbeProcess->readAll();
    int seconds = 0;
    if (DurationParser::parseSeconds(QString::fromLocal8Bit(probeOutput), &seconds)) {
        durationFound = true;
        beginSegments(seconds);
        return;
    }
    failJob(QStringLiteral("无法读取音频时长，请检查文件格式！"));
}

void Widget::beginSegments(int seconds)
{
    audioSeconds = seconds;
    segmentFiles.clear();
    // Segments an earlier run recognised are shown first and neither cut nor sent again.
    const int count = seconds < FfmpegArgs::segmentSeconds ? 1 : FfmpegArgs::segmentCount(seconds);
    if (resume->segmentsCut(count)) {
        for (const RecognisedSegment &segment : resume->keptSegments()) {
            if (segment.hasText)
                textEdit->append(segment.text + QLatin1Char('\n'));
        }
    }
    const int first = resume->firstSegment();
    if (first >= count) {
        segmentCount = count;
        slotBeginUpload();
        return;
    }
    if (seconds < FfmpegArgs::segmentSeconds) {
        const QString segment = FfmpegArgs::segmentPath(AppGlobals::appDir, 0);
        QFile::remove(segment);
        QFile::copy(cutSourceFile, segment);
        if (QFileInfo(segment).size() == 0) {
            failJob(QStringLiteral("音频分割失败！"));
            return;
        }
        segmentFiles.append(segment);
        segmentCount = 1;
        slotBeginUpload();
        return;
    }
    segmentCount = count;
    segmentIndex = first;
    startCut();
}

void Widget::startCut()
{
    const QString segment = FfmpegArgs::segmentPath(AppGlobals::appDir, segmentIndex);
    // ffmpeg would stop and ask before overwriting a file left from an earlier run.
    QFile::remove(segment);
    segmentFiles.append(segment);
    runner()->start(ffmpegCutProcess,
        FfmpegArgs::cut(cutSourceFile, FfmpegArgs::segmentStart(segmentIndex), segment,
            segmentIndex == segmentCount - 1));
}

void Widget::slotCutAudioFinish()
{
    if (!jobRunning())
        return;
    const WavInfo segment
        = WavInfo::fromFile(FfmpegArgs::segmentPath(AppGlobals::appDir, segmentIndex));
    if (!FfmpegRunner::succeeded(ffmpegCutProcess) || !segment.valid || segment.dataBytes == 0) {
        failJob(QStringLiteral("音频分割失败！"));
        return;
    }
    ++segmentIndex;
    startConvertButton->setText(AudioTexts::cutProgressText(segmentIndex, segmentCount));
    startConvertButton->setEnabled(false);
    if (segmentIndex >= segmentCount) {
        slotBeginUpload();
        return;
    }
    startCut();
}
