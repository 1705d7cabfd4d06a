// Live text of a recording (ui/livetext.h), with the service chosen as for a job.
#include "ui/widget.h"

#include "asr/jobnotices.h"
#include "asr/jobsettings.h"
#include "core/libraryindex.h"
#include "ui/librarypane.h"
#include "ui/livetext.h"
#include "ui/recorderbar.h"
#include "ui/servicesettingsdialog.h"
#include "ui/taskbar.h"

void Widget::buildLive()
{
    live = new LiveText(recorderBar, transcript, textEdit, this);
    connect(recorderBar, &RecorderBar::started, this, [this](const QString &path, bool on) {
        if (on)
            beginLive(path);
    });
    connect(live, &LiveText::busyChanged, this,
        [this](bool busy) { taskBar->setCloseDocEnabled(!busy); });
    connect(live, &LiveText::saved, this, [this](const QString &path) {
        library->addTranscript(path);
        searchIndex->transcriptWritten(path);
    });
    connect(live, &LiveText::saveFailed, this,
        [this](const JobFailure &failure) { showNotice(JobNotices::text(failure)); });
}

LiveTranscriber *Widget::liveTranscriber() const
{
    return live->transcriber();
}

bool Widget::liveBusy() const
{
    return live->busy();
}

void Widget::beginLive(const QString &recording)
{
    const JobSettings base = jobSettings();
    live->begin(recording, base.transcriptPathFor(recording));
    // The service is chosen, and its text written, as for a job; the local one started as
    // for a job.
    ServiceSettingsDialog::prepareJob(
        base, QStringLiteral(SPEECH_SERVICE_URL), this,
        [this](const QString &url) { return starterFor(url); },
        [this, recording](const JobSettings &chosen) {
            live->useService(recording, chosen, starterFor(chosen.serviceBaseUrl));
        });
}
