#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>

#include "asr/httprequestids.h"
#include "asr/jobquestions.h"
#include "asr/jobreport.h"
#include "asr/jobresume.h"
#include "asr/jobsettings.h"
#include "asr/tokenreply.h"
#include "core/tasklist.h"
#include "core/textrules.h"
#include "core/timedtext.h"

class AccessToken;
class AudioSteps;
class QtHttpClass;
class RecognitionBackend;
class RecognitionBackends;
class SegmentUploader;
class SpeechServiceStarter;
struct RecognitionReply;

// The job's lists and counters. A window shows them as its own members.
struct JobData
{
    QStringList segmentFiles; // segments of the front file still to be recognised
    int audioSeconds = 0;
    int segmentCount = 0;
    int segmentIndex = 0; // segment being cut
    int lastErrNo = 0;
};

// A transcription job: every task file converted, measured, cut, sent segment by segment to the
// speech service and written as one transcript. It owns its processes, requests and timers;
// stop() and the destructor end all of them, and a stopped job reports nothing afterwards.
class TranscriptionJob final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(TranscriptionJob)

public:
    enum class Step { Idle, Authenticating, Converting, Probing, Cutting, Uploading, BackingOff };
    Q_ENUM(Step)

    // Request number of the recognition requests on the HTTP client.
    static constexpr int SpeechRequestId = HttpRequestIds::Recognition;
    // Request number of the transcription API's uploads.
    static constexpr int TranscriptionsRequestId = HttpRequestIds::Transcriptions;

    // http: the client to send through, not owned; null makes one of the job's own, so that
    // several jobs can run side by side.
    explicit TranscriptionJob(QtHttpClass *http = nullptr, QObject *parent = nullptr);
    // Ends every step without a signal.
    ~TranscriptionJob() override;

    // The files to transcribe, front first; not owned. The job reads the front file and takes
    // each finished file off; the list keeps the paths as they were added.
    void setTaskList(TaskList *list) { tasks = list; }
    TaskList *taskList() const { return tasks; }

    void setSettings(const JobSettings &settings) { config = settings; }
    const JobSettings &settings() const { return config; }
    const JobData &data() const { return jobData; }
    // The stored access token, kept from one job to the next.
    const TokenReply &token() const;
    // A token from before: the next job sends it without asking for one.
    void keepToken(const QString &accessToken);
    QtHttpClass *httpClient() const;
    AccessToken *accessToken() const;
    AudioSteps *audioSteps() const { return audio; }

    // The local speech service at the built-in address: before every request (the token and
    // each segment, of either protocol) the service there must prove it is the user's own,
    // and is started when nothing answers. Not owned; null asks the address as it is.
    void setServiceStarter(SpeechServiceStarter *starter);

    // Who answers the job's questions (a ".pcm" file read as 16 kHz mono samples?); not owned.
    // Without anyone to ask the file is used.
    void setQuestions(JobQuestions *answers) { questions = answers; }
    // Gives the text written as a file's transcript (a window: its pane, which the user may
    // edit). Without a source the recognised texts are written as the pane would show them.
    void setTranscriptTextSource(std::function<QString()> source) { textSource = source; }

    Step step() const { return current; }
    // From start() until the job ends or is stopped.
    bool isRunning() const { return starting || current != Step::Idle; }
    // Transcript of the file being transcribed; empty when idle.
    QString transcriptPath() const { return transcript; }
    // The front task file as it was added (before its converted copy replaced it).
    QString sourceFile() const { return source; }
    // Every utterance of the file so far, in file time; still whole while fileFinished is
    // delivered.
    const TimedUtterances &fileUtterances() const { return timed; }

    // Schedules the job: it begins with the front task file once the caller has returned to
    // the event loop, and ends in finished() (a failure when there is no task file).
    void start();
    // Ends the job in any step. Nothing is reported afterwards.
    void stop();

    // Removes every plain file of a folder; subfolders stay.
    static void clearFolder(const QString &path);

signals:
    void runningChanged(bool running);
    void stepChanged(TranscriptionJob::Step step);
    // The step and its progress, for a front end to show in its own words.
    void progressed(const JobStatus &status);
    // A task file is begun; its transcript will be written to transcriptPath.
    void fileStarted(const QString &taskFile, const QString &transcriptPath);
    // The task file is being worked on as its converted copy (and no longer, after a stop).
    void taskEntryConverted(const QString &taskFile, const QString &convertedName);
    void taskEntryRestored(const QString &taskFile);
    // A recognised text to append to what is shown (only replies that hold a text).
    void textRecognised(const QString &text);
    // Every recognised segment: index from 0 of count, its seconds in the audio the job cut
    // (with a span: counted from the span's start, settings().spanFromMs), its text.
    void segmentRecognised(
        int index, int count, int startSecond, int endSecond, const QString &text);
    // The same segment's utterances with their times in the whole file, in milliseconds.
    void utterancesRecognised(int index, const TimedUtterances &utterances);
    // The transcript of a task file is written and the file taken off the list.
    // taskEntry: the file the job read (the converted copy, or the file itself); sourceFile()
    // is still the file as added while this is delivered.
    void fileFinished(const QString &taskEntry, const QString &transcriptPath);
    // Once for every start that was not stopped, as the job's last act (it is idle): every
    // task file transcribed, or the failure that ended it.
    void finished(const JobResult &result);

private:
    // The constructor's steps: what the job hears from its parts.
    void followBackends();
    void followAudio();
    void followUploader();
    // Each returns false when a listener of the step's signals ended this run (or the job).
    bool setStep(Step step);
    bool setStep(Step step, const JobStatus &status);
    bool enter(Step step, const JobStatus *status);
    // Tells the listeners something in the middle of a step. Their slots may stop, restart or
    // delete the job: true only when this same run goes on afterwards.
    template <typename Emit> bool tell(Emit emitIt)
    {
        const QPointer<TranscriptionJob> alive(this);
        const int told = run;
        emitIt();
        return alive && run == told;
    }
    void setIdle();
    void fail(const JobFailure &failure);
    void begin();
    void finish(const JobResult &result);
    void logFailure(const JobFailure &failure) const;
    void endSteps();
    void restoreTaskFront();
    void discardConverted();
    // The steps, in the order a file goes through them; each is called only from the step
    // before it while the job is still there.
    void beginFile();
    void convertAudioFormat();
    // The answer to whether a raw ".pcm" file is used as it is.
    void rawPcmAnswered(bool goOn);
    void startConversion();
    void getAudioLength();
    void conversionFinished(bool ok);
    void beginSegments(int seconds);
    void startCut();
    void cutFinished(bool ok);
    // Where a resumed job would start: the segment sent next.
    QString nextSegment() const;
    // Sends the next segment, or finishes the file when none is left.
    void beginUpload();
    void sendSegment(const QString &segment);
    // Where each recognised text joins the transcript; index counts from 0.
    bool appendSegmentText(
        int index, const QString &text, bool hasText, TimedUtterances utterances);
    void finishFile();
    QString segmentPath(int index) const;
    // What a reply of either protocol tells the job to do.
    void takeReply(const RecognitionReply &reply);
    // Asks for what the service's requests need (the token protocol's token), then runs next.
    void authenticate(std::function<void()> next);
    // Runs next once the service proved it is the user's own (at once without a starter); a
    // failed proof ends the job.
    void proveThen(std::function<void()> next);
    // The job's segment length in seconds (59 unless its settings say otherwise).
    int segmentLength() const;

    JobSettings config;
    JobData jobData;
    QPointer<TaskList> tasks;
    QPointer<QtHttpClass> http;
    RecognitionBackends *backends = nullptr;
    // The protocol of the running job, chosen at its start.
    RecognitionBackend *backend = nullptr;
    SegmentUploader *uploader = nullptr;
    QPointer<SpeechServiceStarter> serviceStarter;
    AudioSteps *audio = nullptr;
    JobQuestions *questions = nullptr;
    // Counts the runs: a start and every end of one. An answer to a question, or a listener's
    // return, that belongs to an older run is dropped.
    int run = 0;
    std::function<QString()> textSource;
    // What waits for the service's proof, and for the token.
    std::function<void()> afterProof;
    std::function<void()> afterToken;

    Step current = Step::Idle;
    // Started, and the first step not yet taken.
    bool starting = false;
    QString source;
    QString transcript;
    QStringList texts;
    TimedUtterances timed;
    // The converted copy this job made and will remove; empty when there is none.
    QString converted;
    // The task list was told that the file is worked on as its converted copy.
    bool showsConverted = false;
    QString cutSource;
    JobResume resume;
};
