#pragma once

#include <QString>

#include <functional>

#include "core/textrules.h"

// Where a job puts its files and whom it asks. A front end fills these in; nothing of the job
// reads a window or a process-wide value.
struct JobSettings
{
    QString serviceBaseUrl;
    // The job's own temporary folder: emptied before each file, holds the segments (and the
    // converted copy when a file of that name is already beside the source).
    QString segmentFolder;
    // The converted copy goes beside the source, as the window has it; false keeps it in the
    // segment folder, so that a source folder is only ever read (a front end for read-only
    // shares and for runs beside the window).
    bool convertBesideSource = true;
    // Where transcripts go when transcriptPathFor is not set: "<folder>/<name>.txt".
    QString transcriptFolder;
    // Full path of the transcript of a task file; overrides transcriptFolder.
    std::function<QString(const QString &taskFile)> transcriptPathFor;
    QString clientId;
    // Language text of the recognition request ("英文", ...).
    QString language;
    // Where the job keeps what it recognised of each file, so that a run that ended early goes
    // on where it ended; empty keeps nothing.
    QString resumeFolder;
    int tokenTimeoutMs = 8000;
    int recognitionTimeoutMs = 120000;
    // Which protocol the service speaks: the token protocol (a token, then one JSON request a
    // segment) or the transcription API (one multipart upload a segment, with a key).
    enum class ServiceKind { Token, Transcriptions };
    ServiceKind serviceKind = ServiceKind::Token;
    // The transcription API's model name.
    QString model = QStringLiteral("whisper-1");
    // Length of the cuts sent to the service, and the scale of the back-off wait; users keep
    // 59 s and real seconds, tests shorten both.
    int segmentSeconds = 59;
    double backoffScale = 1.0;
    // The user's credentials: the token protocol's client pair (empty: the built-in one) or
    // the transcription API's key (serviceSecret).
    QString serviceClientId;
    QString serviceSecret;
    // Certificates trusted for https besides the system's (PEM); empty: the system's alone.
    QString caFile;
    // How recognised text is written: applied to every reply before anything shows or keeps it.
    TextRules textRules;
    // The transcription API's request path; empty: its own "/v1/audio/transcriptions".
    QString requestPath;
    // Where the token protocol asks for its token; empty: serviceBaseUrl.
    QString tokenBaseUrl;
    // Only this span of each file, in milliseconds of the file: from spanFromMs to spanToMs
    // (-1: to its end). Every time the job reports is still in the file's own time. A span run
    // keeps nothing to resume and leaves a whole-file run's kept state alone.
    qint64 spanFromMs = 0;
    qint64 spanToMs = -1;
    bool hasSpan() const { return spanFromMs > 0 || spanToMs >= 0; }
};
