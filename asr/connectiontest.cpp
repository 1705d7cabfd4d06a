#include "asr/connectiontest.h"

#include "asr/accesstoken.h"
#include "asr/httprequestids.h"
#include "asr/jsonreading.h"
#include "asr/qthttpclass.h"
#include "asr/speechservicestarter.h"
#include "asr/tokenreply.h"
#include "asr/transcriptionsapi.h"

namespace {
const int TokenTestId = HttpRequestIds::Token;
const int UploadTestId = HttpRequestIds::Transcriptions;
} // namespace

ConnectionTest::ConnectionTest(QObject *parent)
    : QObject(parent)
    , http(new QtHttpClass())
{
    http->setParent(this);
    http->setMaxReplyBytes(MaxRecognitionReplyBytes);
    limit.setSingleShot(true);
    connect(http, &QtHttpClass::sigReplyDone, this, &ConnectionTest::replied);
    // Proves only: a test never leaves a service of its own running.
    owner = new SpeechServiceStarter(this);
    owner->setMayStart(false);
    connect(owner, &SpeechServiceStarter::ready, this, [this] {
        if (limit.isActive())
            send();
    });
    connect(owner, &SpeechServiceStarter::failed, this, [this](const QString &message) {
        if (!limit.isActive())
            return;
        if (owner->nothingListened())
            end(Outcome::Unreachable,
                QStringLiteral("无法连接到 %1，请检查服务地址，以及服务是否已启动。")
                    .arg(tested.url));
        else
            end(Outcome::NotTheService, message);
    });
    connect(&limit, &QTimer::timeout, this, [this] {
        end(Outcome::Unreachable,
            QStringLiteral("%1 在规定时间内没有应答，请检查服务地址与网络。").arg(tested.url));
    });
}

ConnectionTest::~ConnectionTest()
{
    blockSignals(true);
    http->abortRequests(TokenTestId);
    http->abortRequests(UploadTestId);
}

void ConnectionTest::start(const ServiceSettings &settings, const QString &secret)
{
    http->abortRequests(TokenTestId);
    http->abortRequests(UploadTestId);
    tested = settings;
    if (!http->setCaFile(settings.caFile)) {
        end(Outcome::Unreachable, QStringLiteral("无法读取证书文件 %1。").arg(settings.caFile));
        return;
    }
    testedSecret = secret;
    limit.start(timeoutMs);
    if (SpeechServiceStarter::isBuiltInAddress(settings.url)) {
        tested.url = SpeechServiceStarter::pinnedUrl(settings.url);
        owner->ensureRunning(tested.url);
        return;
    }
    send();
}

void ConnectionTest::send()
{
    if (tested.kind == ServiceSettings::Kind::Token) {
        http->httpGet(TokenTestId, tokenUrl(tested.url, tested.clientId, testedSecret));
        return;
    }
    // Half a second of silence: the smallest upload that shows the key is taken.
    TranscriptionsApi::Upload upload;
    upload.wav = QByteArray(16000, '\0');
    upload.model = tested.model;
    QList<QPair<QByteArray, QByteArray>> headers;
    if (!testedSecret.isEmpty())
        headers.append({ "Authorization", "Bearer " + testedSecret.toUtf8() });
    http->httpPostForm(UploadTestId, TranscriptionsApi::url(tested.url, tested.requestPath),
        TranscriptionsApi::buildForm(upload), headers);
}

void ConnectionTest::replied(int requestId, const HttpReplyInfo &info)
{
    if (!limit.isActive() || (requestId != TokenTestId && requestId != UploadTestId))
        return;
    if (!info.tlsFailure.isEmpty()) {
        end(Outcome::Unreachable, TranscriptionsApi::tlsFailureText(tested.url, info.tlsFailure));
        return;
    }
    if (info.status == 0) {
        end(Outcome::Unreachable,
            QStringLiteral("无法连接到 %1，请检查服务地址，以及服务是否已启动。").arg(tested.url));
        return;
    }
    const QString accepted = QStringLiteral("连接成功：服务有应答，并接受了凭据。");
    const QString refused = QStringLiteral("服务有应答，但拒绝了凭据，请检查客户端编号与密钥。");
    const QString other = QStringLiteral(
        "该地址有应答，但不像所选类型的语音服务（HTTP %1），请检查地址与服务类型。")
                              .arg(info.status);
    if (requestId == TokenTestId) {
        TokenReply token;
        if (info.status == 200 && parseTokenReply(info.body, &token)
            && !token.accessToken.isEmpty())
            end(Outcome::Accepted, accepted);
        else if (info.status == 401 || info.status == 403
            || (parseTokenReply(info.body, &token) && info.body.contains("\"error\"")))
            end(Outcome::Refused, refused);
        else
            end(Outcome::NotTheService, other);
        return;
    }
    const RecognitionReply reply = TranscriptionsApi::parseReply(info, tested.url);
    if (info.status == 401 || info.status == 403)
        end(Outcome::Refused, refused);
    else if (reply.kind == RecognitionReply::Text)
        end(Outcome::Accepted, accepted);
    else if (reply.kind == RecognitionReply::Retry)
        end(Outcome::Unreachable,
            QStringLiteral("服务有应答，但此刻繁忙（HTTP %1），请稍后再试。").arg(info.status));
    else
        end(Outcome::NotTheService, other);
}

void ConnectionTest::end(Outcome outcome, const QString &text)
{
    limit.stop();
    http->abortRequests(TokenTestId);
    http->abortRequests(UploadTestId);
    emit finished(outcome, text);
}
