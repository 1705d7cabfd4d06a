#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QString>
#include <QStringList>

#include "asr/jobreport.h"
#include "core/timedtext.h"

// What a recognition reply tells the job to do.
struct RecognitionReply
{
    enum Kind {
        Text, // err_no 0: append text (when hasText) and go on with the next segment
        Retry, // err_no 3304: wait, then send the same segment again
        ServiceError, // err_no of the table, or a refusal: end the job
        UnknownCode, // err_no the table lacks: end the job naming the code
        Unrecognisable, // not a reply at all: end the job
    };

    Kind kind = Unrecognisable;
    int errNo = 0;
    bool hasText = false;
    QString text;
    // The utterances of the text with their times in the request's audio, where the reply
    // gives them.
    TimedUtterances utterances;
    // Why the job ends, for every kind that ends it.
    JobFailure failure = JobFailure::Kind::Unrecognisable;
    // Retry: the wait the service asked for; 0 leaves it to the job.
    int retryAfterSeconds = 0;
};
Q_DECLARE_METATYPE(RecognitionReply)

// Replies above this size are taken as unrecognisable: a 59 s segment yields a few kilobytes,
// and megabytes of text would only freeze the text pane.
constexpr int MaxRecognitionReplyBytes = 1024 * 1024;

// Reads a recognition reply. A body is unrecognisable when it is not one JSON object, when
// "err_no" is present but not an integer, or, for err_no 0, when "result" is present but not an
// array or its first element is not a string. An absent "err_no" reads as 0, an absent "result"
// as an empty one.
RecognitionReply parseRecognitionReply(const QByteArray &body);

// The notice for an err_no of the table; empty for 0, 3304 and codes the table lacks.
QString messageForErrNo(int errNo);

// The transcript of the recognised texts as the text pane holds them: each text ends with a
// line break, and an empty line parts consecutive texts.
QString transcriptText(const QStringList &texts);
