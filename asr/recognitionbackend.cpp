#include "asr/recognitionbackend.h"

#include <QFile>
#include <QFileInfo>

#include <utility>

#include "asr/accesstoken.h"
#include "asr/qthttpclass.h"
#include "asr/recognitionreply.h"
#include "asr/recognitionrequest.h"
#include "asr/speechservicestarter.h"
#include "asr/transcriptionsapi.h"
#include "protocol/speechprotocol.h"

using Failure = JobFailure::Kind;

namespace {

QByteArray readSegment(const QString &segment)
{
    QFile file(segment);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

void RecognitionBackend::setServiceStarter(SpeechServiceStarter *starter)
{
    serviceStarter = starter;
}

// The token protocol: a token from the service (or its own token address), then one JSON
// request a segment carrying it.
class TokenProtocol final : public RecognitionBackend
{
public:
    static constexpr int RequestId = HttpRequestIds::Recognition;

    TokenProtocol(QtHttpClass *client, QObject *parent)
        : RecognitionBackend(parent)
        , http(client)
        , token(new AccessToken(client, this))
    {
        connect(token, &AccessToken::received, this, [this] {
            starts = serviceStarter ? serviceStarter->startCount() : -1;
            emit authenticated();
        });
        connect(token, &AccessToken::failed, this, &TokenProtocol::tokenFailed);
        connect(http, &QtHttpClass::sigReplyFinish, this, [this](int id, const QByteArray &body) {
            if (id == RequestId && end())
                take(parseRecognitionReply(body));
        });
        connect(http, &QtHttpClass::sigReplyError, this, &TokenProtocol::readError);
    }

    AccessToken *accessToken() const { return token; }

    ResumeIdentity resumeIdentity(const QString &source, const JobSettings &s) const override
    {
        return ResumeIdentity::of(
            source, s.language, s.serviceBaseUrl, QStringLiteral("token"), QString());
    }

    bool isAuthenticated() const override { return !token->isEmpty(); }

    void serviceProven() override
    {
        // A service started since makes its own key and does not take the old token.
        if (serviceStarter && serviceStarter->startCount() != starts)
            token->clear();
    }

    void authenticate(const JobSettings &s) override
    {
        baseUrl = s.serviceBaseUrl;
        const QString address = SpeechServiceStarter::tokenAddress(
            s.serviceBaseUrl, s.tokenBaseUrl, serviceStarter != nullptr);
        if (address.isEmpty()) {
            emit authenticationFailed({ Failure::TokenAddressRefused, s.tokenBaseUrl });
            return;
        }
        token->request(address, s.tokenTimeoutMs, s.serviceClientId, s.serviceSecret);
    }

    void send(const QString &segment, const JobSettings &s) override
    {
        RecognitionRequest request;
        request.speech = readSegment(segment);
        request.length = QFileInfo(segment).size();
        request.clientId = s.clientId;
        request.token = token->values().accessToken;
        request.language = s.language;
        pending = true;
        http->httpPost(RequestId, recognitionUrl(s.serviceBaseUrl), buildRecognitionBody(request));
    }

    void abort() override
    {
        token->abort();
        pending = false;
        if (http)
            http->abortRequests(RequestId);
    }

private:
    bool end() { return std::exchange(pending, false); }

    void tokenFailed(AccessToken::Failure failure)
    {
        // A refused certificate is named, never passed off as a network failure.
        const QString tls = http->tlsFailure(AccessToken::RequestId);
        if (!tls.isEmpty())
            emit authenticationFailed({ Failure::CertificateRefused, baseUrl, tls });
        else
            emit authenticationFailed(failure == AccessToken::Failure::TimedOut
                    ? Failure::TokenTimedOut
                    : Failure::TokenFailed);
    }

    void readError(int id, const QByteArray &body)
    {
        if (id != RequestId || !end())
            return;
        // A service that is loading its models (or stopping) answers 503 with "busy": it is
        // waited for like any other busy answer, not taken for a failed network.
        const RecognitionReply reply = parseRecognitionReply(body);
        if (reply.kind == RecognitionReply::Retry)
            emit replied(reply);
        else
            emit unanswered(Failure::NoAnswer);
    }

    void take(const RecognitionReply &reply)
    {
        // The service no longer takes this token: the next start asks for a new one.
        if (reply.kind == RecognitionReply::ServiceError
            && reply.errNo == speechprotocol::err::kAuthFailed)
            token->clear();
        emit replied(reply);
    }

    QPointer<QtHttpClass> http;
    AccessToken *token;
    QString baseUrl;
    // The starter's count of started services when the token came.
    int starts = -1;
    bool pending = false;
};

// The transcription API: the key goes with every upload, so there is nothing to ask first.
class TranscriptionsUploads final : public RecognitionBackend
{
public:
    static constexpr int RequestId = HttpRequestIds::Transcriptions;

    TranscriptionsUploads(QtHttpClass *client, QObject *parent)
        : RecognitionBackend(parent)
        , http(client)
    {
        connect(http, &QtHttpClass::sigReplyDone, this, [this](int id, const HttpReplyInfo &info) {
            if (id == RequestId && std::exchange(pending, false))
                emit replied(TranscriptionsApi::parseReply(info, baseUrl));
        });
    }

    ResumeIdentity resumeIdentity(const QString &source, const JobSettings &s) const override
    {
        return ResumeIdentity::of(
            source, s.language, s.serviceBaseUrl, QStringLiteral("transcriptions"), s.model);
    }

    bool isAuthenticated() const override { return true; }
    void authenticate(const JobSettings &) override { emit authenticated(); }

    void send(const QString &segment, const JobSettings &s) override
    {
        baseUrl = s.serviceBaseUrl;
        pending = true;
        TranscriptionsApi::post(http, RequestId, s, readSegment(segment));
    }

    void abort() override
    {
        pending = false;
        if (http)
            http->abortRequests(RequestId);
    }

private:
    QPointer<QtHttpClass> http;
    QString baseUrl;
    bool pending = false;
};

RecognitionBackends::RecognitionBackends(QtHttpClass *http, QObject *parent)
    : QObject(parent)
    , tokens(new TokenProtocol(http, this))
    , uploads(new TranscriptionsUploads(http, this))
{ }

RecognitionBackend *RecognitionBackends::forKind(JobSettings::ServiceKind kind) const
{
    if (kind == JobSettings::ServiceKind::Transcriptions)
        return uploads;
    return tokens;
}

QList<RecognitionBackend *> RecognitionBackends::all() const
{
    return { tokens, uploads };
}

void RecognitionBackends::setServiceStarter(SpeechServiceStarter *starter)
{
    tokens->setServiceStarter(starter);
    uploads->setServiceStarter(starter);
}

void RecognitionBackends::abort()
{
    tokens->abort();
    uploads->abort();
}

void RecognitionBackends::keepToken(const QString &accessToken)
{
    tokens->accessToken()->keep(accessToken);
}

const TokenReply &RecognitionBackends::token() const
{
    return tokens->accessToken()->values();
}

AccessToken *RecognitionBackends::accessToken() const
{
    return tokens->accessToken();
}
