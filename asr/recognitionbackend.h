#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include "asr/jobreport.h"
#include "asr/jobsettings.h"
#include "asr/recognitionreply.h"
#include "asr/resumestate.h"

class AccessToken;
class QtHttpClass;
class SpeechServiceStarter;
class TokenProtocol;
struct TokenReply;

// How one segment's recognition is asked of a speech service and its answer read: the token
// protocol (a token, then one JSON request a segment) or the transcription API (one multipart
// upload a segment with a key). One request at a time; a reply it no longer waits for (after
// abort()) is dropped.
class RecognitionBackend : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(RecognitionBackend)

public:
    // The local service that proves itself before each request; null: none. Not owned.
    void setServiceStarter(SpeechServiceStarter *starter);

    // What a file's kept state is tied to besides the file: the protocol and its model.
    virtual ResumeIdentity resumeIdentity(
        const QString &sourceFile, const JobSettings &settings) const = 0;
    // Requests can be sent without authenticate() first.
    virtual bool isAuthenticated() const = 0;
    // The service proved itself again before a request: credentials the service that now runs
    // did not hand out are dropped.
    virtual void serviceProven() { }
    // Asks for what requests need; ends in authenticated() or authenticationFailed().
    virtual void authenticate(const JobSettings &settings) = 0;
    // Sends one segment file; its answer comes as replied() or unanswered().
    virtual void send(const QString &segment, const JobSettings &settings) = 0;
    // Ends what is outstanding without a signal.
    virtual void abort() = 0;

signals:
    void authenticated();
    void authenticationFailed(const JobFailure &failure);
    // What the service answered to the segment.
    void replied(const RecognitionReply &reply);
    // No answer came (the network, a refused connection): the job ends with failure.
    void unanswered(const JobFailure &failure);

protected:
    explicit RecognitionBackend(QObject *parent)
        : QObject(parent)
    { }
    QPointer<SpeechServiceStarter> serviceStarter;
};

// The backends of both protocols over one HTTP client, each made once and kept, so that a
// token outlives a switch to the other protocol and back, as the stored token always did.
class RecognitionBackends final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(RecognitionBackends)

public:
    RecognitionBackends(QtHttpClass *http, QObject *parent = nullptr);

    RecognitionBackend *forKind(JobSettings::ServiceKind kind) const;
    QList<RecognitionBackend *> all() const;
    void setServiceStarter(SpeechServiceStarter *starter);
    // Ends the requests of both.
    void abort();

    // The token protocol's stored token and its request.
    const TokenReply &token() const;
    void keepToken(const QString &accessToken);
    AccessToken *accessToken() const;

private:
    TokenProtocol *tokens;
    RecognitionBackend *uploads;
};
