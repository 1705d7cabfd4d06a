#include "ui/widget.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QSaveFile>
#include <QTextCodec>
#include <QTextEdit>
#include <QTimer>

#include "app/appglobals.h"
#include "app/filenames.h"
#include "asr/backoff.h"
#include "asr/jobresume.h"
#include "asr/qthttpclass.h"
#include "asr/recognitionreply.h"
#include "asr/recognitionrequest.h"
#include "ui/dialogs.h"
#include "ui/mylistwidget.h"

namespace {
const int TokenRequestId = 0;
const int SpeechRequestId = 2;

QString tempFolder()
{
    return AppGlobals::appDir + QStringLiteral("/myTmpWAVFiles");
}
} // namespace

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

void Widget::setRunningButtons(const QString &text)
{
    startConvertButton->setText(text);
    startConvertButton->setEnabled(false);
    stopConvertButton->setEnabled(true);
    setTaskControlsEnabled(false);
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
    // A stop (or a new job) changes the generation and ends the wait early.
    const int generation = jobGeneration;
    QElapsedTimer clock; // monotonic: a wait across midnight or a clock change still lasts ms
    clock.start();
    while (generation == jobGeneration && !clock.hasExpired(ms)) {
        QEventLoop loop;
        QTimer::singleShot(int(qMax<qint64>(1, ms - clock.elapsed())), &loop, &QEventLoop::quit);
        QEventLoop *outer = delayLoop;
        delayLoop = &loop;
        loop.exec();
        delayLoop = outer;
    }
}

void Widget::abortSpeechSteps()
{
    ++jobGeneration;
    if (delayLoop)
        delayLoop->quit();
    if (recognitionTimer)
        recognitionTimer->stop();
    // Aborted replies are dropped by the client, never reported as failures.
    http->abortRequests(SpeechRequestId);
    http->abortRequests(TokenRequestId);
}

void Widget::slotReadJson(int requestId, QByteArray body)
{
    if (requestId == TokenRequestId)
        readTokenReply(body);
    else if (requestId == SpeechRequestId)
        readRecognitionReply(body);
}

void Widget::slotReadJsonError(int requestId, QByteArray body)
{
    Q_UNUSED(body)
    if (requestId == TokenRequestId) {
        readTokenError();
    } else if (requestId == SpeechRequestId) {
        tokenTimer->stop();
        failJob(QStringLiteral("转换失败，请检查网络信号是否充足！"));
    }
}

void Widget::slotBeginCover()
{
    if (taskFiles.isEmpty()) {
        Dialogs::current().information(
            this, QStringLiteral("提示"), QStringLiteral("请先添加需要转换的文件！"));
        return;
    }
    if (accessToken.isEmpty()) {
        setRunningButtons(QStringLiteral("认证中..."));
        requestAccessToken();
        return;
    }
    ++jobGeneration;
    clearFolder(tempFolder());
    setRunningButtons(QStringLiteral("转换中..."));
    prepareTranscript();
    textEdit->clear();
    textEdit->show();
    closeDocButton->setEnabled(false);
    convertAudioFormat();
}

void Widget::prepareTranscript()
{
    // Named after the front entry before the conversion replaces it with its "_16k.wav" copy.
    const QString name = FileNames::transcriptName(taskFiles.first());
    const QString path = AppGlobals::appDir + QStringLiteral("/myWordFiles/") + name;
    if (!txtFiles.contains(path)) {
        txtList->addItem(name);
        txtFiles.append(path);
    }
    // An earlier transcript of the same name is replaced only once the new one is complete, so a
    // job that fails or is stopped never costs the user the text they had.
    currentTextFile = path;
    // The job writes here whatever the text pane is bound to by then.
    jobTranscriptFile = path;
}

void Widget::slotBeginUpload()
{
    // A step that finished after a stop must not restart the job.
    if (!jobRunning())
        return;
    startConvertButton->setText(uploadProgressText(segmentCount, segmentFiles.size()));
    startConvertButton->setEnabled(false);
    if (!segmentFiles.isEmpty()) {
        sendFirstSegment();
        return;
    }
    finishTaskFile();
}

void Widget::sendFirstSegment()
{
    const QString path = segmentFiles.first();
    RecognitionRequest request;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly))
        request.speech = file.readAll();
    request.length = QFileInfo(path).size();
    request.clientId = AppGlobals::clientId;
    request.token = accessToken;
    request.language = languageCombo->currentText();
    http->httpPost(SpeechRequestId, recognitionUrl(serviceBaseUrl), buildRecognitionBody(request));

    if (!recognitionTimer) {
        recognitionTimer = new QTimer(this);
        recognitionTimer->setSingleShot(true);
        connect(recognitionTimer, &QTimer::timeout, this,
            [this] { failJob(QStringLiteral("转换失败，请检查网络信号是否充足！")); });
    }
    recognitionTimer->start(recognitionTimeoutMs);
}

void Widget::readRecognitionReply(const QByteArray &body)
{
    if (!jobRunning())
        return;
    if (recognitionTimer)
        recognitionTimer->stop();
    const RecognitionReply reply = parseRecognitionReply(body);
    if (reply.kind != RecognitionReply::Unrecognisable)
        lastErrNo = reply.errNo;

    switch (reply.kind) {
    case RecognitionReply::Text:
        if (reply.hasText)
            textEdit->append(reply.text + QLatin1Char('\n'));
        resume->recognised({ reply.hasText, reply.text });
        if (!segmentFiles.isEmpty())
            QFile::remove(segmentFiles.takeFirst());
        slotBeginUpload();
        break;
    case RecognitionReply::Retry: {
        const int seconds = Backoff::drawSeconds();
        startConvertButton->setText(retryText(seconds));
        startConvertButton->setEnabled(false);
        const int generation = jobGeneration;
        delayMsec(seconds * Backoff::millisecondsPerSecond());
        if (generation == jobGeneration && jobRunning())
            slotBeginUpload();
        break;
    }
    case RecognitionReply::ServiceError:
        // The service no longer takes this token: the next start asks for a new one.
        if (reply.errNo == 3302)
            accessToken.clear();
        failJob(reply.message);
        break;
    case RecognitionReply::UnknownCode:
    case RecognitionReply::Unrecognisable:
        failJob(reply.message);
        break;
    }
}

void Widget::finishTaskFile()
{
    // Written beside the target and renamed over it: never a half-written transcript, and a
    // failure to save is reported instead of announced as done.
    QSaveFile transcript(jobTranscriptFile);
    if (!transcript.open(QIODevice::WriteOnly)
        || transcript.write(QTextCodec::codecForLocale()->fromUnicode(textEdit->toPlainText())) < 0
        || !transcript.commit()) {
        failJob(QStringLiteral("转写文本保存失败，请检查文件夹是否可写！"));
        return;
    }
    resume->fileDone();

    const int entry = taskBoxIndexOf(FileNames::fileName(taskFiles.first()));
    if (entry >= 0)
        taskFileCombo->removeItem(entry);
    taskFiles.removeFirst();
    // A ".pcm" file is used as it is: a "_16k.wav" beside it is the user's, not ours.
    if (FileNames::suffix(jobSourceFile).toLower() != QLatin1String("pcm"))
        QFile::remove(AppGlobals::taskBasePath + QStringLiteral("_16k.wav"));

    if (taskFiles.isEmpty()) {
        setIdleButtons();
        Dialogs::current().information(
            this, QStringLiteral("提示"), QStringLiteral("文件已经全部转换完成！"));
        return;
    }
    clearFolder(tempFolder());
    prepareTranscript();
    textEdit->clear();
    convertAudioFormat();
}

void Widget::slotStopCover()
{
    setIdleButtons();
    abortAudioSteps();
    abortSpeechSteps();
    restoreTaskFront();
}
