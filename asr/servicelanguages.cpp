#include "asr/servicelanguages.h"

#include "core/programlayout.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include "asr/accesstoken.h"
#include "asr/jsonreading.h"
#include "asr/qthttpclass.h"
#include "asr/recognitionreply.h"
#include "asr/recognitionrequest.h"
#include "asr/speechservicestarter.h"
#include "asr/transcriptionsapi.h"
#include "core/wholefile.h"
#include "protocol/speechprotocol.h"

namespace {

constexpr int ProbeId = 7;
// A fifth of a second of 16 kHz 16-bit silence: above the services' shortest audio.
const QByteArray Silence(6400, '\0');
const int ProbeTimeoutMs = 20000;

QString errMsg(const QByteArray &body)
{
    Json::Value root;
    return JsonReading::parseObject(body, &root) ? JsonReading::stringMember(root, "err_msg")
                                                 : QString();
}

QJsonObject readCache(const QString &file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly) || f.size() > 1024 * 1024)
        return {};
    return QJsonDocument::fromJson(f.readAll()).object();
}

} // namespace

namespace ServiceLanguages {

bool saysNoModel(const QString &message, int devPid, const QString &apiCode)
{
    const QString text = message.toLower();
    if (devPid >= 0 && text.contains(QString::number(devPid)))
        return true;
    if (apiCode.isEmpty() || !text.contains(QLatin1String("language")))
        return false;
    // The code as a word of its own: "yue", 'yue', yue.
    const QRegularExpression word(
        QStringLiteral("(^|[^a-z])%1([^a-z]|$)").arg(QRegularExpression::escape(apiCode)));
    return word.match(text).hasMatch();
}

QString serviceKey(const JobSettings &settings)
{
    const bool api = settings.serviceKind == JobSettings::ServiceKind::Transcriptions;
    return (api ? QStringLiteral("transcriptions ") + settings.model + QLatin1Char(' ')
                : QStringLiteral("token "))
        + settings.serviceBaseUrl;
}

QString cachePath()
{
    return ProgramLayout::languagesCacheFile();
}

bool cached(const QString &key, QStringList *offered, const QString &file)
{
    const QJsonValue value = readCache(file).value(key);
    if (!value.isArray())
        return false;
    offered->clear();
    for (const QJsonValue &item : value.toArray())
        *offered << item.toString();
    return true;
}

void keep(const QString &key, const QStringList &offered, const QString &file)
{
    QJsonObject all = readCache(file);
    all.insert(key, QJsonArray::fromStringList(offered));
    QDir().mkpath(QFileInfo(file).absolutePath());
    WholeFile::write(file, QJsonDocument(all).toJson());
}

QString notOfferedText(const QString &language, const QStringList &offered)
{
    return offered.isEmpty()
        ? QStringLiteral("该语音服务没有“%1”的模型，也没有其他语言的模型！").arg(language)
        : QStringLiteral("该语音服务没有“%1”的模型，它提供的语言：%2。")
              .arg(language, offered.join(QStringLiteral("、")));
}

} // namespace ServiceLanguages

LanguageProbe::LanguageProbe(QObject *parent)
    : QObject(parent)
    , http(new QtHttpClass())
    , token(new AccessToken(http, this))
    , owner(new SpeechServiceStarter(this))
{
    http->setParent(this);
    owner->setMayStart(false);
    followStarter();
    connect(token, &AccessToken::received, this, &LanguageProbe::askNext);
    connect(token, &AccessToken::failed, this, [this] { end(false); });
    connect(http, &QtHttpClass::sigReplyFinish, this, &LanguageProbe::readReply);
    connect(http, &QtHttpClass::sigReplyError, this, &LanguageProbe::readError);
    connect(http, &QtHttpClass::sigReplyDone, this, &LanguageProbe::readUpload);
}

LanguageProbe::~LanguageProbe()
{
    http->abortRequests(ProbeId);
    token->abort();
}

void LanguageProbe::start(const JobSettings &settings)
{
    config = settings;
    languages.clear();
    offered.clear();
    for (const RecognitionLanguage &language : recognitionLanguages())
        languages << language.text;
    next = 0;
    running = true;
    if (!http->setCaFile(config.caFile)) {
        end(false);
        return;
    }
    local = SpeechServiceStarter::isBuiltInAddress(config.serviceBaseUrl);
    if (local)
        config.serviceBaseUrl = SpeechServiceStarter::pinnedUrl(config.serviceBaseUrl);
    if (config.serviceKind != JobSettings::ServiceKind::Token) {
        askNext();
        return;
    }
    const QString address
        = SpeechServiceStarter::tokenAddress(config.serviceBaseUrl, config.tokenBaseUrl, local);
    if (address.isEmpty()) {
        end(false);
        return;
    }
    proveThen([this, address] {
        token->request(address, ProbeTimeoutMs, config.serviceClientId, config.serviceSecret);
    });
}

void LanguageProbe::setServiceProgram(const QString &program)
{
    owner->setProgram(program);
    owner->setMayStart(!program.isEmpty());
}

void LanguageProbe::useServiceStarter(SpeechServiceStarter *starter)
{
    disconnect(owner, nullptr, this, nullptr);
    if (owner->parent() == this)
        delete owner;
    owner = starter;
    followStarter();
}

void LanguageProbe::learnBuiltIn(const JobSettings &settings, SpeechServiceStarter *starter,
    QObject *context, std::function<void()> then)
{
    QStringList offered;
    const QString key = ServiceLanguages::serviceKey(settings);
    if (!starter || !SpeechServiceStarter::isBuiltInAddress(settings.serviceBaseUrl)
        || ServiceLanguages::cached(key, &offered)) {
        then();
        return;
    }
    auto *probe = new LanguageProbe(context);
    probe->useServiceStarter(starter);
    connect(probe, &LanguageProbe::finished, context,
        [probe, key, then](bool known, const QStringList &languages) {
            probe->deleteLater();
            if (known)
                ServiceLanguages::keep(key, languages);
            then();
        });
    probe->start(settings);
}

void LanguageProbe::followStarter()
{
    connect(owner, &SpeechServiceStarter::ready, this, [this] {
        if (const std::function<void()> next = std::exchange(afterProof, nullptr))
            next();
    });
    connect(owner, &SpeechServiceStarter::failed, this, [this] {
        if (std::exchange(afterProof, nullptr))
            end(false);
    });
}

void LanguageProbe::proveThen(std::function<void()> next)
{
    if (!local) {
        next();
        return;
    }
    afterProof = std::move(next);
    owner->ensureRunning(config.serviceBaseUrl);
}

void LanguageProbe::askNext()
{
    if (!running)
        return;
    if (next >= languages.size()) {
        end(true);
        return;
    }
    if (config.serviceKind == JobSettings::ServiceKind::Transcriptions) {
        // Languages the API names alike (the Mandarin items) are asked once.
        const QString code = TranscriptionsApi::languageCode(languages.at(next));
        for (int i = 0; i < next; ++i) {
            if (TranscriptionsApi::languageCode(languages.at(i)) == code) {
                answered(offered.contains(languages.at(i)));
                return;
            }
        }
    }
    proveThen([this] { send(); });
}

void LanguageProbe::send()
{
    if (!running)
        return;
    const QString language = languages.at(next);
    if (config.serviceKind == JobSettings::ServiceKind::Token) {
        RecognitionRequest request;
        request.clientId = config.clientId;
        request.token = token->values().accessToken;
        request.language = language;
        request.speech = Silence;
        request.length = Silence.size();
        http->httpPost(
            ProbeId, recognitionUrl(config.serviceBaseUrl), buildRecognitionBody(request));
        return;
    }
    TranscriptionsApi::Upload upload;
    upload.wav = Silence;
    upload.model = config.model;
    upload.language = language;
    QList<QPair<QByteArray, QByteArray>> headers;
    if (!config.serviceSecret.isEmpty())
        headers.append({ "Authorization", "Bearer " + config.serviceSecret.toUtf8() });
    http->httpPostForm(ProbeId, TranscriptionsApi::url(config.serviceBaseUrl, config.requestPath),
        TranscriptionsApi::buildForm(upload), headers);
}

void LanguageProbe::readReply(int requestId, const QByteArray &body)
{
    if (requestId == AccessToken::RequestId)
        token->readReply(requestId, body);
    if (requestId != ProbeId || !running || config.serviceKind != JobSettings::ServiceKind::Token)
        return;
    const RecognitionReply reply = parseRecognitionReply(body);
    const int devPid = devPidForLanguage(languages.at(next));
    if (reply.kind == RecognitionReply::Text) {
        answered(true);
    } else if (reply.errNo == speechprotocol::err::kBadRequest
        && ServiceLanguages::saysNoModel(errMsg(body), devPid, QString())) {
        answered(false);
    } else {
        end(false);
    }
}

void LanguageProbe::readError(int requestId)
{
    if (requestId == AccessToken::RequestId)
        token->readError(requestId);
    if (requestId == ProbeId && running && config.serviceKind == JobSettings::ServiceKind::Token)
        end(false);
}

void LanguageProbe::readUpload(int requestId, const HttpReplyInfo &info)
{
    if (requestId != ProbeId || !running
        || config.serviceKind != JobSettings::ServiceKind::Transcriptions)
        return;
    const QString code = TranscriptionsApi::languageCode(languages.at(next));
    if (info.status >= 200 && info.status < 300)
        answered(true);
    else if (info.status == 400
        && ServiceLanguages::saysNoModel(QString::fromUtf8(info.body), -1, code))
        answered(false);
    else
        end(false);
}

void LanguageProbe::answered(bool hasModel)
{
    if (hasModel)
        offered << languages.at(next);
    ++next;
    askNext();
}

void LanguageProbe::end(bool known)
{
    if (!running)
        return;
    running = false;
    afterProof = nullptr;
    emit finished(known, known ? offered : QStringList());
}
