#include "ui/widget.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QIcon>
#include <QPushButton>
#include <QTextCursor>
#include <QTextEdit>
#include <QTimer>

#include "ui/appglobals.h"
#include "core/filenames.h"
#include "asr/accesstoken.h"
#include "asr/resumestore.h"
#include "asr/transcriptionjob.h"
#include "audio/audiosteps.h"
#include "ui/dialogs.h"
#include "ui/mylistwidget.h"

bool Widget::jobRunning() const
{
    return job && job->isRunning();
}

void Widget::connectJob()
{
    TranscriptionJob *j = job.get();
    connect(j, &TranscriptionJob::runningChanged, this, &Widget::showJobRunning);
    connect(j, &TranscriptionJob::statusTextChanged, startConvertButton, &QPushButton::setText);
    connect(j, &TranscriptionJob::fileStarted, this,
        [this](const QString &, const QString &transcriptPath) { showFileStarted(transcriptPath); });
    connect(j, &TranscriptionJob::taskEntryConverted, this,
        [this](const QString &sourceName, const QString &convertedName) {
            const int entry = taskBoxIndexOf(sourceName);
            if (entry >= 0)
                taskFileCombo->removeItem(entry);
            taskFileCombo->insertItem(taskFileCombo->count(), QIcon(), convertedName, QVariant());
        });
    connect(j, &TranscriptionJob::taskEntryRestored, this,
        [this](const QString &convertedName, const QString &sourceName) {
            const int entry = taskBoxIndexOf(convertedName);
            if (entry >= 0)
                taskFileCombo->setItemText(entry, sourceName);
            else
                taskFileCombo->insertItem(taskFileCombo->count(), QIcon(), sourceName, QVariant());
        });
    connect(j, &TranscriptionJob::textRecognised, this, &Widget::appendRecognisedText);
    connect(j, &TranscriptionJob::fileFinished, this, [this](const QString &taskEntry) {
        const int entry = taskBoxIndexOf(FileNames::fileName(taskEntry));
        if (entry >= 0)
            taskFileCombo->removeItem(entry);
    });
    connect(j, &TranscriptionJob::failed, this, &Widget::showNotice);
    connect(j, &TranscriptionJob::allDone, this,
        [this] { showNotice(QStringLiteral("文件已经全部转换完成！")); });

    j->setRawPcmQuestion([](const QString &) {
        return Dialogs::current().question(nullptr, QStringLiteral("提示"),
            QStringLiteral("PCM文件要求[采样率=16000,1-单声道]是否继续转写呢？"));
    });
    // The transcript is the pane as the user sees it, edits included.
    j->setTranscriptTextSource([this] { return textEdit->toPlainText(); });
}

void Widget::showJobRunning(bool running)
{
    if (running) {
        startConvertButton->setEnabled(false);
        stopConvertButton->setEnabled(true);
    } else {
        startConvertButton->setText(QStringLiteral("开始转换"));
        startConvertButton->setEnabled(true);
        stopConvertButton->setEnabled(false);
        closeDocButton->setEnabled(true);
    }
    setTaskControlsEnabled(!running);
}

void Widget::showFileStarted(const QString &transcriptPath)
{
    const QString name = FileNames::fileName(transcriptPath);
    if (!txtFiles.contains(transcriptPath)) {
        txtList->addItem(name);
        txtFiles.append(transcriptPath);
    }
    // An earlier transcript of the same name is replaced only once the new one is complete, so a
    // job that fails or is stopped never costs the user the text they had.
    currentTextFile = transcriptPath;
    textEdit->clear();
    textEdit->show();
    closeDocButton->setEnabled(false);
}

void Widget::appendRecognisedText(const QString &text)
{
    // A paragraph of plain text: what the service sent is shown and kept as it is, never read
    // as markup. Ending in a line break, consecutive texts are parted by an empty line.
    QTextCursor cursor(textEdit->document());
    cursor.movePosition(QTextCursor::End);
    if (!textEdit->document()->isEmpty())
        cursor.insertBlock();
    cursor.insertText(text + QLatin1Char('\n'));
}

void Widget::showNotice(const QString &message)
{
    Dialogs::current().information(this, QStringLiteral("提示"), message);
}

void Widget::delayMsec(int ms)
{
    QElapsedTimer clock; // monotonic: a wait across midnight or a clock change still lasts ms
    clock.start();
    while (!clock.hasExpired(ms)) {
        QEventLoop loop;
        QTimer::singleShot(int(qMax<qint64>(1, ms - clock.elapsed())), &loop, &QEventLoop::quit);
        loop.exec();
    }
}

void Widget::clearFolder(QString path)
{
    TranscriptionJob::clearFolder(path);
}

void Widget::slotBeginCover()
{
    JobSettings settings;
    settings.serviceBaseUrl = serviceBaseUrl;
    settings.segmentFolder = AppGlobals::appDir + QStringLiteral("/myTmpWAVFiles");
    settings.transcriptFolder = AppGlobals::appDir + QStringLiteral("/myWordFiles");
    settings.clientId = AppGlobals::clientId;
    settings.language = languageCombo->currentText();
    settings.resumeFolder = ResumeStore::defaultFolder(AppGlobals::appDir);
    settings.tokenTimeoutMs = tokenTimeoutMs;
    settings.recognitionTimeoutMs = recognitionTimeoutMs;
    job->setSettings(settings);
    job->setServiceStarter(serviceAutoStart() ? serviceStarter() : nullptr);
    job->start();
}

void Widget::slotStopCover()
{
    job->stop();
}

void Widget::requestAccessToken()
{
    job->accessToken()->request(serviceBaseUrl, tokenTimeoutMs);
}

void Widget::sltTokenTimeout()
{
    job->accessToken()->timeOut();
}

void Widget::slotReadJson(int requestId, QByteArray body)
{
    job->readReply(requestId, body);
}

void Widget::slotReadJsonError(int requestId, QByteArray body)
{
    Q_UNUSED(body)
    job->readError(requestId);
}

void Widget::slotBeginUpload()
{
    job->beginUpload();
}

void Widget::convertAudioFormat()
{
    job->convertAudioFormat();
}

void Widget::slotConvertAudioFormatFinish()
{
    job->audioSteps()->conversionEnded();
}

void Widget::getAudioLength()
{
    job->getAudioLength();
}

void Widget::onReadOutput()
{
    job->audioSteps()->probeOutputReady();
}

void Widget::slotGetAudioLengthFinish()
{
    job->audioSteps()->probeEnded();
}

void Widget::slotCutAudioFinish()
{
    job->audioSteps()->cutEnded();
}
