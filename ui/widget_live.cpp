// Live text of a recording: the recorder bar's samples go to the LiveTranscriber, its texts
// into the transcript pane as they come, and the pane's text is the recording's transcript.
#include "ui/widget.h"

#include <QTextCodec>
#include <QTextEdit>

#include "asr/jobnotices.h"
#include "asr/livetranscriber.h"
#include "asr/transcriptionjob.h"
#include "asr/transcriptwriter.h"
#include "core/libraryindex.h"
#include "ui/dialogs.h"
#include "ui/librarypane.h"
#include "ui/recorderbar.h"
#include "ui/servicesettingsdialog.h"
#include "ui/styles.h"
#include "ui/taskbar.h"
#include "ui/transcriptpane.h"

namespace {
// Audio kept while the service settings are read (the keyring answers in well under a second);
// settings that never come (the language was refused) must not hold a long recording.
constexpr int MaxWaitingBytes = 120 * 16000 * 2;
} // namespace

void Widget::buildLive()
{
    live = new LiveTranscriber(this);
    liveStatus = new QLabel(textEdit);
    liveStatus->setObjectName(QStringLiteral("liveStatusLabel"));
    liveStatus->setStyleSheet(Styles::sheet(QStringLiteral("live-status")));
    liveStatus->hide();
    connect(recorderBar, &RecorderBar::started, this, [this](const QString &path, bool on) {
        if (on)
            beginLive(path);
    });
    connect(recorderBar, &RecorderBar::samples, this, &Widget::takeLiveSamples);
    connect(recorderBar, &RecorderBar::recorded, this, &Widget::liveRecordingEnded);
    connect(recorderBar, &RecorderBar::abandoned, this, [this] {
        if (!liveBusy())
            return;
        transcript->closeWithoutSaving();
        endLive();
    });
    connect(live, &LiveTranscriber::recognised, this, [this](const TimedUtterance &text) {
        transcript->appendText(text.text);
        transcript->addTimedParagraph(text.text);
        transcript->setLastUtterances({ text });
    });
    connect(live, &LiveTranscriber::gapMarked, this, [this](qint64 from, qint64 to) {
        transcript->appendText(LiveTranscriber::gapText(from, to));
    });
    connect(live, &LiveTranscriber::pendingChanged, this, &Widget::showLiveStatus);
    connect(live, &LiveTranscriber::serviceTrouble, this, [this] {
        liveTroubled = true;
        showLiveStatus();
    });
    connect(live, &LiveTranscriber::serviceBack, this, [this] {
        liveTroubled = false;
        showLiveStatus();
    });
    connect(live, &LiveTranscriber::finished, this, [this] { saveLive(false); });
}

void Widget::beginLive(const QString &recording)
{
    JobSettings base = jobSettings();
    liveRecording = recording;
    liveTranscript = base.transcriptPathFor(recording);
    liveWaiting.clear();
    liveReady = liveStopped = liveTroubled = false;
    transcript->beginTranscript(liveTranscript);
    taskBar->setCloseDocEnabled(false);
    showLiveStatus();
    // The service is chosen, and its text written, as for a job; the local one started as
    // for a job. Samples wait meanwhile, so the text's times are the recording's own.
    ServiceSettingsDialog::prepareJob(
        base, QStringLiteral(SPEECH_SERVICE_URL), this,
        [this](const QString &url) { return starterFor(url); },
        [this, recording](const JobSettings &chosen) {
            if (liveRecording != recording || liveReady)
                return;
            LiveSettings settings;
            settings.service = chosen;
            live->setSettings(settings);
            live->setServiceStarter(starterFor(chosen.serviceBaseUrl));
            live->start();
            liveReady = true;
            live->feed(std::exchange(liveWaiting, QByteArray()));
            if (liveStopped)
                live->finish();
        });
}

void Widget::takeLiveSamples(const QByteArray &pcm)
{
    if (!liveBusy() || liveStopped)
        return;
    if (liveReady) {
        live->feed(pcm);
        return;
    }
    liveWaiting += pcm;
    if (liveWaiting.size() > MaxWaitingBytes) {
        // No settings came: the recording goes on as a plain one.
        transcript->closeWithoutSaving();
        endLive();
    }
}

void Widget::liveRecordingEnded(const QString &path)
{
    if (!liveBusy() || path != liveRecording)
        return;
    liveStopped = true;
    if (!liveReady) {
        transcript->closeWithoutSaving();
        endLive();
        return;
    }
    showLiveStatus();
    // The utterance under way is sent too; finished() saves once every text is in.
    live->finish();
}

void Widget::showLiveStatus()
{
    if (!liveBusy()) {
        liveStatus->hide();
        return;
    }
    const int pending = live->pendingCount();
    QString text = liveStopped
        ? QStringLiteral("录音已停止，还有%1段实时文字正在识别…").arg(pending)
        : QStringLiteral("实时转写中…");
    if (liveTroubled)
        text += QStringLiteral("（识别服务暂无响应，恢复后继续）");
    liveStatus->setText(text);
    liveStatus->adjustSize();
    liveStatus->move(8, textEdit->height() - liveStatus->height() - 8);
    liveStatus->show();
    liveStatus->raise();
}

void Widget::saveLive(bool quiet)
{
    if (!liveBusy())
        return;
    if (!liveReady) {
        // Nothing was ever sent: there is no live text to keep.
        transcript->closeWithoutSaving();
        endLive();
        return;
    }
    const QString path = liveTranscript;
    const QString source = liveRecording;
    endLive();
    const QString text = transcript->text();
    if (const std::optional<JobFailure> failure
        = TranscriptWriter::write(path, QTextCodec::codecForLocale()->fromUnicode(text))) {
        // The pane keeps the text, so it can still be saved elsewhere.
        if (!quiet)
            showNotice(JobNotices::text(*failure));
        return;
    }
    transcript->keepTimes(source, path);
    library->addTranscript(path);
    searchIndex->transcriptWritten(path);
    // Opened as any transcript is: with its times, its lines playable.
    if (!quiet)
        transcript->open(path);
}

void Widget::endLive()
{
    live->stop();
    liveRecording.clear();
    liveTranscript.clear();
    liveWaiting.clear();
    liveReady = liveStopped = liveTroubled = false;
    taskBar->setCloseDocEnabled(true);
    showLiveStatus();
}
