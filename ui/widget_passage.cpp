// "重新识别所选内容": a passage of the pane's source recognised again and put in its place.
#include "ui/widget.h"

#include "asr/transcriptionjob.h"
#include "core/programlayout.h"
#include "ui/appglobals.h"
#include "ui/dialogs.h"
#include "ui/passagerecogniser.h"
#include "ui/servicesettingsdialog.h"
#include "ui/taskbar.h"
#include "ui/transcripteditor.h"
#include "ui/transcriptpane.h"

void Widget::connectPassage()
{
    passage = new PassageRecogniser(this);
    TranscriptEditor *editor = transcript->timedEditor();
    connect(editor, &TranscriptEditor::passageRequested, this, &Widget::recognisePassage);
    connect(passage, &PassageRecogniser::recognised, this,
        [this, editor](const QString &text, const TimedUtterances &utterances) {
            if (!editor->takePassage(text, utterances))
                showNotice(QStringLiteral("识别期间文本已改变，未替换所选内容。"));
        });
    connect(passage, &PassageRecogniser::failed, this, [this, editor](const QString &message) {
        editor->endPassage();
        showNotice(QStringLiteral("重新识别失败，原文未改动：%1").arg(message));
    });
    // A job takes the pane over, and another transcript replaces its text: the passage goes.
    const auto drop = [this, editor] {
        passage->stop();
        editor->endPassage();
    };
    connect(job.get(), &TranscriptionJob::runningChanged, this, [drop](bool running) {
        if (running)
            drop();
    });
    connect(transcript, &TranscriptPane::transcriptChanged, this, drop);
}

void Widget::recognisePassage(const QString &source, qint64 fromMs, qint64 toMs)
{
    // As opening a transcript is: the job writes the pane into its own transcript.
    if (jobRunning()) {
        showNotice(QStringLiteral("正在转换，请稍后再重新识别！"));
        return;
    }
    JobSettings settings = jobDefaults;
    settings.clientId = AppGlobals::clientId();
    settings.language = taskBar->language();
    ServiceSettingsDialog::prepareJob(
        settings, QStringLiteral(SPEECH_SERVICE_URL), this,
        [this](const QString &url) { return starterFor(url); },
        [this, source, fromMs, toMs](const JobSettings &chosen) {
            if (jobRunning() || passage->isRunning() || !transcript->timedEditor()->holdPassage())
                return;
            passage->start(chosen, starterFor(chosen.serviceBaseUrl), source, fromMs, toMs);
        });
}
