#pragma once

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVector>

#include "asr/jobreport.h"
#include "asr/transcriptionjob.h"
#include "core/endpoint.h"
#include "core/timedtext.h"

class AccessToken;
class QTimer;
class QtHttpClass;
class SpeechServiceStarter;
struct HttpReplyInfo;
struct RecognitionReply;

struct LiveSettings
{
    // Whom to ask and how its text is written, as for a job (the segment fields unused).
    JobSettings service;
    // Utterances sent at once; more wait their turn.
    int maxInFlight = 2;
    // Audio waiting to be sent, in milliseconds; past it the oldest are given up as a gap.
    qint64 maxBacklogMs = 120000;
    // After finish(), how long a service that does not answer is waited for before what is
    // left is marked as a gap.
    int finishGiveUpMs = 60000;
    // The local service is sent each utterance in pieces of this many frames while it is said
    // (0: whole utterances only, as to a service of the other kind).
    int pieceFrames = 10;
    Endpoint::Settings endpoint;
};

// Live transcription: 16 kHz mono 16-bit samples come in as they are captured, are cut at
// pauses into utterances and each is sent at once to the speech service (either protocol; the
// local one proven, and started, as for jobs). Texts come out in the order they were said,
// with their times in the recording, however the replies come back. It owns its requests and
// timers; stop() and the destructor end them, and nothing is reported afterwards.
class LiveTranscriber final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(LiveTranscriber)

public:
    explicit LiveTranscriber(QObject *parent = nullptr);
    ~LiveTranscriber() override;

    void setSettings(const LiveSettings &settings);
    const LiveSettings &settings() const { return config; }
    // The local speech service at the built-in address; not owned, null asks as it is.
    void setServiceStarter(SpeechServiceStarter *starter);

    // Begins a new recording at time 0.
    void start();
    // Samples captured since the last call (any length; an odd byte waits for its pair).
    void feed(const QByteArray &pcm);
    // The recording ended: the utterance under way is sent too, and finished() follows once
    // every text has come (or was given up as a gap).
    void finish();
    // Ends everything at once without a signal.
    void stop();

    bool isRunning() const { return running; }
    // Utterances cut whose text has not been delivered yet.
    int pendingCount() const { return entries.size(); }
    // Audio taken so far, in milliseconds.
    qint64 audioMs() const;

    // The pane's mark of audio that was not recognised: "[未识别 00:12:03–00:12:40]".
    static QString gapText(qint64 startMs, qint64 endMs);

signals:
    // An utterance was cut at the end of its pause and is on its way.
    void utteranceCut(qint64 startMs, qint64 endMs);
    // The next text in the order said (an utterance the service heard nothing in gives none).
    void recognised(const TimedUtterance &utterance);
    // Audio given up unrecognised, in the order said.
    void gapMarked(qint64 startMs, qint64 endMs);
    void pendingChanged(int count);
    // The service stopped answering (and why), or answers again.
    void serviceTrouble(const JobFailure &failure);
    void serviceBack();
    // After finish(): every text is delivered.
    void finished();

private:
    struct Entry
    {
        enum class State { Waiting, Sending, Done, Gap };
        qint64 startMs = 0;
        qint64 endMs = 0;
        QByteArray pcm;
        State state = State::Waiting;
        TimedUtterance text;
    };
    struct Lane
    {
        QtHttpClass *http = nullptr;
        QTimer *limit = nullptr;
        qint64 index = -1;
    };
    // The utterance under way, sent in pieces to the local service's live route so that only
    // its last piece is left to decode once it ends. Any failure sends it whole instead.
    struct Stream
    {
        QtHttpClass *http = nullptr;
        QTimer *limit = nullptr;
        QString session; // the service's, kept for the recording's next utterances
        bool unsupported = false; // an older service: whole utterances only
        bool active = false;
        bool proving = false;
        bool proven = false;
        bool inFlight = false;
        bool lastSent = false;
        qint64 start = 0; // the utterance's first frame
        qint64 sent = 0; // its frames the service has
        qint64 piece = 0; // frames in the piece on its way
        qint64 entry = -1; // once cut: its entry, and its end frame
        qint64 end = 0;
        // The end-point's start of the utterance streamed, and of one whose stream failed,
        // which is not streamed again.
        qint64 begun = -1;
        qint64 failedStart = -1;
    };

    void takeFrame(const char *frame);
    void addUtterance(const Endpoint::Cut &cut);
    void boundBacklog();
    void pump();
    void send(Lane &lane, qint64 index);
    void laneReplied(int lane, const HttpReplyInfo &info);
    void laneTimedOut(int lane);
    void takeReply(qint64 index, const RecognitionReply &reply);
    void trouble(const JobFailure &failure);
    void deliver();
    void giveUpRest();
    void endRequests();
    bool streamable() const;
    bool tokenUsable() const;
    void requestToken();
    void beginStream();
    bool streamCut(qint64 index, qint64 from, const Endpoint::Cut &cut);
    void pushStream();
    void streamReplied(const HttpReplyInfo &info);
    void dropStream();

    LiveSettings config;
    QPointer<SpeechServiceStarter> starter;
    QVector<Lane> lanes;
    Stream stream;
    QtHttpClass *tokenHttp = nullptr;
    AccessToken *token = nullptr;
    QTimer *retry = nullptr;
    QTimer *giveUp = nullptr;
    int tokenStarts = -1;
    bool proving = false;
    bool proven = false;
    bool troubled = false;
    int retryMs = 0;

    bool running = false;
    bool finishing = false;
    Endpoint::State endpoint;
    QByteArray partial;
    // Samples from frame heldStart on: the utterance under way, or the preroll before one.
    QByteArray held;
    qint64 heldStart = 0;
    qint64 nextIndex = 0;
    qint64 nextDelivered = 0;
    QMap<qint64, Entry> entries;
};
