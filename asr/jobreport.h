#pragma once

#include <QMetaType>
#include <QObject>
#include <QString>

// What a transcription job tells its front ends: the step it is in with its numbers, and why
// it ended early with what the reason names. Each front end makes its own texts of them.
struct JobStatus
{
    enum class Kind {
        Ready, // idle: the job can be started
        Authenticating, // asking the service for a token
        FileBegun, // a task file is taken up
        Preparing, // the file is converted for the service
        Resuming, // an earlier run's segments are kept: `done` of them, not sent again
        NotKeeping, // the resume folder cannot be written: nothing of this run is kept
        Cutting, // `done` of `count` segments are cut
        Uploading, // `done` of `count` segments are recognised
        Retrying, // the service is busy: the segment goes again after `seconds`
    };

    JobStatus(Kind kind = Kind::Ready, int done = 0, int count = 0, int seconds = 0)
        : kind(kind)
        , done(done)
        , count(count)
        , seconds(seconds)
    { }

    Kind kind;
    int done;
    int count;
    int seconds;
};

struct JobFailure
{
    Q_GADGET

public:
    enum class Kind {
        NoTasks, // started with no task file
        CaFileUnreadable, // `path`: the certificates of the service settings
        ToolMissing, // no ffmpeg
        ConversionFailed,
        DurationUnknown,
        CutFailed,
        NoAnswer, // a segment's request failed or went unanswered in time
        TokenFailed, // the token request failed or its reply held no token
        TokenTimedOut,
        CertificateRefused, // `path`: the service address; `reason`: why it was refused
        ServiceNotStarted, // the local service could not be started; `reason` says why
        TokenAddressRefused, // `path`: a token address at the built-in port, the service elsewhere
        // What the service answered ended the job:
        ServiceRefused, // an `errNo` of the protocol's table
        UnknownErrNo, // an `errNo` the table lacks
        Unrecognisable, // no reply of either protocol at all
        ServiceReported, // the transcription API's error; `reason`: what it said
        CredentialsRefused, // HTTP 401 or 403
        UploadTooLarge, // HTTP 413
        NoTranscriptionsApi, // HTTP 404: the address offers no transcription API
        HttpRefused, // any other refusal: `httpStatus`, and `reason` when the service said why
        TranscriptNotSaved, // `path`: the transcript
        TranscriptIsLink, // `path`: the transcript, a symbolic link
    };
    Q_ENUM(Kind)

    JobFailure(Kind kind = Kind::NoTasks, const QString &path = QString(),
        const QString &reason = QString(), int errNo = 0, int httpStatus = 0)
        : kind(kind)
        , path(path)
        , reason(reason)
        , errNo(errNo)
        , httpStatus(httpStatus)
    { }

    Kind kind;
    QString path;
    QString reason;
    int errNo;
    int httpStatus;
};

// How a job ended: every task file transcribed, or the failure that ended it. A job that was
// stopped reports nothing.
struct JobResult
{
    enum class Error { None, Failed };
    Error error = Error::None;
    JobFailure failure; // what ended it, when error is Failed
    bool succeeded() const { return error == Error::None; }
};

Q_DECLARE_METATYPE(JobStatus)
Q_DECLARE_METATYPE(JobFailure)
Q_DECLARE_METATYPE(JobResult)
