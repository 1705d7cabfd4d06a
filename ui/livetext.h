#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

struct JobFailure;
struct JobSettings;
class LiveTranscriber;
class QLabel;
class QTextEdit;
class RecorderBar;
class SpeechServiceStarter;
class TranscriptPane;

// Live text of a recording: the recorder bar's samples go to a LiveTranscriber, its texts into
// the transcript pane as they come, and the pane's text becomes the recording's transcript.
// The window chooses the service (as for a job) and hears where the transcript went.
class LiveText final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(LiveText)

public:
    // The status line is shown over edit, the transcript pane's editor.
    LiveText(RecorderBar *recorder, TranscriptPane *pane, QTextEdit *edit, QObject *parent);

    LiveTranscriber *transcriber() const { return live; }
    // A live recording, or its text still on its way: the pane is taken.
    bool busy() const { return !recording.isEmpty(); }

    // A recording with live text has begun; its transcript will be transcriptPath. Samples
    // wait until useService() names the service.
    void begin(const QString &recordingPath, const QString &transcriptPath);
    // The service chosen for recordingPath (ignored for any other, or a second time).
    void useService(
        const QString &recordingPath, const JobSettings &service, SpeechServiceStarter *starter);
    // The window goes: the text so far is written quietly, nothing waits.
    void saveQuietly() { save(true); }

signals:
    void busyChanged(bool busy);
    // The recording's transcript is written; shown opened in the pane.
    void saved(const QString &transcriptPath);
    void saveFailed(const JobFailure &failure);

private:
    void takeSamples(const QByteArray &pcm);
    void recordingEnded(const QString &path);
    void showStatus();
    void save(bool quiet);
    // Ends without keeping anything (nothing was ever sent).
    void drop();
    void end();

    RecorderBar *recorder;
    TranscriptPane *pane;
    QTextEdit *edit;
    LiveTranscriber *live;
    QLabel *status;
    QString recording;
    QString transcript;
    // Samples captured before the service is known.
    QByteArray waiting;
    bool ready = false;
    bool stopped = false;
    bool troubled = false;
};
