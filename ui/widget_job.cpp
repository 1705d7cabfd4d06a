#include "ui/widget.h"

#include "core/tasklist.h"
#include "ui/servicesettingsdialog.h"

#include <QComboBox>
#include <QFileInfo>
#include <QIcon>
#include <QPushButton>
#include <QTimer>

#include "asr/jobnotices.h"
#include "asr/resumestore.h"
#include "asr/transcriptionjob.h"
#include "core/filenames.h"
#include "core/programlayout.h"
#include "ui/appglobals.h"
#include "ui/dialogs.h"
#include "ui/jobstatustexts.h"
#include "ui/librarypane.h"
#include "ui/recorderbar.h"
#include "ui/taskbar.h"
#include "ui/transcriptpane.h"

bool Widget::jobRunning() const
{
    return job && job->isRunning();
}

namespace {

// The window's answers to the job's questions: its dialog, opened from the event loop once the
// step that asked has returned. A child of the window, so a question still waiting when the
// window goes is never shown.
class DialogQuestions final : public QObject, public JobQuestions
{
public:
    explicit DialogQuestions(QObject *parent)
        : QObject(parent)
    { }

    void askRawPcm(const QString &, std::function<void(bool)> answer) override
    {
        QTimer::singleShot(0, this, [answer] {
            answer(Dialogs::current().question(nullptr, QStringLiteral("提示"),
                QStringLiteral("PCM文件要求[采样率=16000,1-单声道]是否继续转写呢？")));
        });
    }
};

} // namespace

void Widget::connectJob()
{
    TranscriptionJob *j = job.get();
    connect(j, &TranscriptionJob::runningChanged, this, &Widget::showJobRunning);
    connect(j, &TranscriptionJob::progressed, this, [this](const JobStatus &status) {
        taskBar->showStatus(JobStatusTexts::buttonText(status));
    });
    connect(j, &TranscriptionJob::fileStarted, this,
        [this](
            const QString &, const QString &transcriptPath) { showFileStarted(transcriptPath); });
    // The box names the copy the job works on, as it always has.
    connect(j, &TranscriptionJob::taskEntryConverted, taskFiles, &TaskList::showConverted);
    connect(j, &TranscriptionJob::taskEntryRestored, taskFiles, &TaskList::showAsAdded);
    connect(j, &TranscriptionJob::finished, this, [this](const JobResult &result) {
        showNotice(result.succeeded() ? QStringLiteral("文件已经全部转换完成！")
                                      : JobNotices::text(result.failure));
    });

    j->setQuestions(new DialogQuestions(this));
    // The transcript is the pane as the user sees it, edits included.
    j->setTranscriptTextSource([this] { return transcript->text(); });
}

void Widget::showJobRunning(bool running)
{
    taskBar->showJobRunning(running);
    // The job holds the transcript pane that live text would be written into.
    recorderBar->setLiveEnabled(!running);
    setTaskControlsEnabled(!running);
}

void Widget::showFileStarted(const QString &transcriptPath)
{
    library->addTranscript(transcriptPath);
    // An earlier transcript of the same name is replaced only once the new one is complete, so a
    // job that fails or is stopped never costs the user the text they had.
    transcript->beginTranscript(transcriptPath);
    taskBar->setCloseDocEnabled(false);
}

void Widget::showNotice(const QString &message)
{
    Dialogs::current().information(this, QStringLiteral("提示"), message);
}

JobSettings Widget::jobSettings() const
{
    JobSettings settings = jobDefaults;
    settings.segmentFolder = ProgramLayout::segmentFolder(AppGlobals::appDir());
    settings.transcriptFolder = ProgramLayout::transcriptFolder(AppGlobals::appDir());
    // A transcript already there (another file of the same base name, or an earlier run with
    // the user's edits) is kept: the new one takes a free name beside it.
    const QString folder = settings.transcriptFolder;
    const auto taken = [folder](const QString &name) {
        const QFileInfo info(folder + QLatin1Char('/') + name);
        return info.exists() || info.isSymLink();
    };
    settings.transcriptPathFor = [folder, taken](const QString &taskFile) -> QString {
        const QString name = FileNames::freeName(FileNames::transcriptName(taskFile), taken);
        return folder + QLatin1Char('/') + name;
    };
    // The converted copy is made in the user's own working folder, never beside the source.
    settings.convertBesideSource = false;
    settings.clientId = AppGlobals::clientId();
    settings.language = taskBar->language();
    settings.resumeFolder = ProgramLayout::resumeFolder(AppGlobals::appDir());
    return settings;
}

void Widget::slotBeginCover()
{
    // Live text is written into the pane the job would take.
    if (liveBusy()) {
        showNotice(QStringLiteral("实时转写尚未结束，请稍后再开始转换！"));
        return;
    }
    // The saved service settings, and the secret once the keyring gave it.
    ServiceSettingsDialog::prepareJob(
        jobSettings(), QStringLiteral(SPEECH_SERVICE_URL), this,
        [this](const QString &url) { return starterFor(url); },
        [this](const JobSettings &chosen) {
            if (job->isRunning())
                return;
            job->setSettings(chosen);
            job->setServiceStarter(starterFor(chosen.serviceBaseUrl));
            job->start();
        });
}

void Widget::slotStopCover()
{
    job->stop();
}
