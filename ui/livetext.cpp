#include "ui/livetext.h"

#include <QLabel>
#include <QTextCodec>
#include <QTextEdit>

#include <utility>

#include "asr/jobsettings.h"
#include "asr/livetranscriber.h"
#include "asr/transcriptwriter.h"
#include "ui/recorderbar.h"
#include "ui/styles.h"
#include "ui/transcriptpane.h"

namespace {
// Audio kept while the service settings are read (the keyring answers in well under a second);
// settings that never come (the language was refused) must not hold a long recording.
constexpr int MaxWaitingBytes = 120 * 16000 * 2;
} // namespace

LiveText::LiveText(RecorderBar *recorder, TranscriptPane *pane, QTextEdit *edit, QObject *parent)
    : QObject(parent)
    , recorder(recorder)
    , pane(pane)
    , edit(edit)
    , live(new LiveTranscriber(this))
    , status(new QLabel(edit))
{
    status->setObjectName(QStringLiteral("liveStatusLabel"));
    status->setStyleSheet(Styles::sheet(QStringLiteral("live-status")));
    status->hide();
    connect(recorder, &RecorderBar::samples, this, &LiveText::takeSamples);
    connect(recorder, &RecorderBar::recorded, this, &LiveText::recordingEnded);
    connect(recorder, &RecorderBar::abandoned, this, &LiveText::drop);
    connect(live, &LiveTranscriber::recognised, this, [this](const TimedUtterance &text) {
        this->pane->appendText(text.text);
        this->pane->addTimedParagraph(text.text);
        this->pane->setLastUtterances({ text });
    });
    connect(live, &LiveTranscriber::gapMarked, this, [this](qint64 from, qint64 to) {
        this->pane->appendText(LiveTranscriber::gapText(from, to));
    });
    connect(live, &LiveTranscriber::pendingChanged, this, &LiveText::showStatus);
    connect(live, &LiveTranscriber::serviceTrouble, this, [this] {
        troubled = true;
        showStatus();
    });
    connect(live, &LiveTranscriber::serviceBack, this, [this] {
        troubled = false;
        showStatus();
    });
    connect(live, &LiveTranscriber::finished, this, [this] { save(false); });
}

void LiveText::begin(const QString &recordingPath, const QString &transcriptPath)
{
    recording = recordingPath;
    transcript = transcriptPath;
    waiting.clear();
    ready = stopped = troubled = false;
    pane->beginTranscript(transcript);
    emit busyChanged(true);
    showStatus();
}

void LiveText::useService(
    const QString &recordingPath, const JobSettings &service, SpeechServiceStarter *starter)
{
    if (recording != recordingPath || ready)
        return;
    LiveSettings settings;
    settings.service = service;
    live->setSettings(settings);
    live->setServiceStarter(starter);
    live->start();
    ready = true;
    // The waiting samples go first, so the text's times are the recording's own.
    live->feed(std::exchange(waiting, QByteArray()));
    if (stopped)
        live->finish();
}

void LiveText::takeSamples(const QByteArray &pcm)
{
    if (!busy() || stopped)
        return;
    if (ready) {
        live->feed(pcm);
        return;
    }
    waiting += pcm;
    // No settings came: the recording goes on as a plain one.
    if (waiting.size() > MaxWaitingBytes)
        drop();
}

void LiveText::recordingEnded(const QString &path)
{
    if (!busy() || path != recording)
        return;
    stopped = true;
    if (!ready) {
        drop();
        return;
    }
    showStatus();
    // The utterance under way is sent too; finished() saves once every text is in.
    live->finish();
}

void LiveText::showStatus()
{
    if (!busy()) {
        status->hide();
        return;
    }
    QString text = stopped
        ? QStringLiteral("录音已停止，还有%1段实时文字正在识别…").arg(live->pendingCount())
        : QStringLiteral("实时转写中…");
    if (troubled)
        text += QStringLiteral("（识别服务暂无响应，恢复后继续）");
    status->setText(text);
    status->adjustSize();
    status->move(8, edit->height() - status->height() - 8);
    status->show();
    status->raise();
}

void LiveText::save(bool quiet)
{
    if (!busy())
        return;
    // Nothing was ever sent: there is no live text to keep.
    if (!ready) {
        drop();
        return;
    }
    const QString path = transcript;
    const QString source = recording;
    end();
    if (const std::optional<JobFailure> failure
        = TranscriptWriter::write(path, QTextCodec::codecForLocale()->fromUnicode(pane->text()))) {
        // The pane keeps the text, so it can still be saved elsewhere.
        if (!quiet)
            emit saveFailed(*failure);
        return;
    }
    pane->keepTimes(source, path);
    emit saved(path);
    // Opened as any transcript is: with its times, its lines playable.
    if (!quiet)
        pane->open(path);
}

void LiveText::drop()
{
    if (!busy())
        return;
    pane->closeWithoutSaving();
    end();
}

void LiveText::end()
{
    live->stop();
    recording.clear();
    transcript.clear();
    waiting.clear();
    ready = stopped = troubled = false;
    emit busyChanged(false);
    showStatus();
}
