#include "asr/livetranscriber.h"

#include <QTimer>

#include <algorithm>

#include "asr/accesstoken.h"
#include "asr/livepiece.h"
#include "asr/qthttpclass.h"
#include "asr/recognisedtext.h"
#include "asr/recognitionreply.h"
#include "asr/recognitionrequest.h"
#include "asr/speechservicestarter.h"
#include "asr/transcriptionsapi.h"
#include "asr/utterancetimes.h"
#include "protocol/speechprotocol.h"

namespace {

constexpr int BytesPerSample = 2;
constexpr int SamplesPerMs = 16;

QString clock(qint64 ms)
{
    const qint64 s = ms / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600, 2, 10, QLatin1Char('0'))
        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

LiveTranscriber::LiveTranscriber(QObject *parent)
    : QObject(parent)
    , tokenHttp(new QtHttpClass)
    , retry(new QTimer(this))
    , giveUp(new QTimer(this))
{
    tokenHttp->setParent(this);
    token = new AccessToken(tokenHttp, this);
    connect(token, &AccessToken::received, this, [this] {
        tokenStarts = starter ? starter->startCount() : 0;
        pump();
        pushStream();
    });
    connect(token, &AccessToken::failed, this, [this](AccessToken::Failure) {
        trouble({ JobFailure::Kind::NoAnswer });
        dropStream();
    });
    stream.http = new QtHttpClass;
    stream.http->setParent(this);
    stream.http->setMaxReplyBytes(MaxRecognitionReplyBytes);
    stream.limit = new QTimer(this);
    stream.limit->setSingleShot(true);
    connect(stream.http, &QtHttpClass::sigReplyDone, this,
        [this](int, const HttpReplyInfo &info) { streamReplied(info); });
    connect(stream.limit, &QTimer::timeout, this, [this] {
        stream.session.clear();
        dropStream();
    });
    retry->setSingleShot(true);
    connect(retry, &QTimer::timeout, this, [this] {
        proven = false;
        pump();
    });
    giveUp->setSingleShot(true);
    connect(giveUp, &QTimer::timeout, this, &LiveTranscriber::giveUpRest);
}

LiveTranscriber::~LiveTranscriber()
{
    stop();
}

void LiveTranscriber::setSettings(const LiveSettings &settings)
{
    config = settings;
    config.maxInFlight = std::max(1, config.maxInFlight);
}

void LiveTranscriber::setServiceStarter(SpeechServiceStarter *serviceStarter)
{
    if (starter)
        starter->disconnect(this);
    starter = serviceStarter;
    if (!starter)
        return;
    // One proof may answer both the requests' round and the stream's utterance.
    connect(starter, &SpeechServiceStarter::ready, this, [this] {
        const bool forRound = std::exchange(proving, false);
        const bool forStream = std::exchange(stream.proving, false);
        if (forStream) {
            stream.proven = true;
            pushStream();
        }
        if (forRound) {
            proven = true;
            pump();
        }
    });
    connect(starter, &SpeechServiceStarter::failed, this, [this](const QString &message) {
        const bool forRound = std::exchange(proving, false);
        const bool forStream = std::exchange(stream.proving, false);
        if (forRound)
            trouble({ JobFailure::Kind::ServiceNotStarted, QString(), message });
        if (forStream)
            dropStream();
    });
}

void LiveTranscriber::start()
{
    stop();
    // One client a lane: a client tells its replies apart only by their request number.
    while (lanes.size() < config.maxInFlight) {
        Lane lane;
        lane.http = new QtHttpClass;
        lane.http->setParent(this);
        lane.http->setMaxReplyBytes(MaxRecognitionReplyBytes);
        lane.limit = new QTimer(this);
        lane.limit->setSingleShot(true);
        const int at = lanes.size();
        connect(lane.http, &QtHttpClass::sigReplyDone, this,
            [this, at](int, const HttpReplyInfo &info) { laneReplied(at, info); });
        connect(lane.limit, &QTimer::timeout, this, [this, at] { laneTimedOut(at); });
        lanes.append(lane);
    }
    for (Lane &lane : lanes)
        lane.http->setCaFile(config.service.caFile);
    stream.http->setCaFile(config.service.caFile);
    stream.session.clear();
    stream.unsupported = false;
    stream.failedStart = -1;
    tokenHttp->setCaFile(config.service.caFile);
    endpoint = Endpoint::State();
    partial.clear();
    held.clear();
    heldStart = 0;
    nextIndex = 0;
    nextDelivered = 0;
    troubled = false;
    retryMs = 0;
    proven = false;
    running = true;
    finishing = false;
}

qint64 LiveTranscriber::audioMs() const
{
    return endpoint.frame * config.endpoint.frameSamples / SamplesPerMs;
}

void LiveTranscriber::feed(const QByteArray &pcm)
{
    if (!running || finishing)
        return;
    partial += pcm;
    const int frameBytes = config.endpoint.frameSamples * BytesPerSample;
    int at = 0;
    for (; at + frameBytes <= partial.size(); at += frameBytes)
        takeFrame(partial.constData() + at);
    partial.remove(0, at);
}

void LiveTranscriber::takeFrame(const char *frame)
{
    const Endpoint::Settings &rule = config.endpoint;
    const int frameBytes = rule.frameSamples * BytesPerSample;
    held.append(frame, frameBytes);
    const Endpoint::Step next = Endpoint::step(endpoint,
        Endpoint::levelDb(reinterpret_cast<const qint16 *>(frame), rule.frameSamples), rule);
    endpoint = next.state;
    if (next.cut.valid)
        addUtterance(next.cut);
    if (!running)
        return;
    if (endpoint.inSpeech && !stream.active && streamable())
        beginStream();
    else if (stream.active && stream.entry < 0)
        pushStream();
    if (!endpoint.inSpeech) {
        // Only what a coming utterance may reach back to is kept.
        const qint64 keep = rule.prerollFrames + rule.startFrames + 1;
        const qint64 drop = endpoint.frame - keep - heldStart;
        if (drop > 0) {
            held.remove(0, int(drop * frameBytes));
            heldStart += drop;
        }
    }
}

void LiveTranscriber::addUtterance(const Endpoint::Cut &cut)
{
    const int frameBytes = config.endpoint.frameSamples * BytesPerSample;
    const qint64 from = std::max(cut.start, heldStart);
    Entry entry;
    entry.startMs = from * config.endpoint.frameSamples / SamplesPerMs;
    entry.endMs = cut.end * config.endpoint.frameSamples / SamplesPerMs;
    entry.pcm = held.mid(int((from - heldStart) * frameBytes), int((cut.end - from) * frameBytes));
    held.remove(0, int((cut.end - heldStart) * frameBytes));
    heldStart = cut.end;
    const qint64 index = nextIndex++;
    entries.insert(index, entry);
    emit utteranceCut(entry.startMs, entry.endMs);
    if (!running)
        return;
    streamCut(index, from, cut);
    if (!running)
        return;
    emit pendingChanged(entries.size());
    boundBacklog();
    pump();
}

void LiveTranscriber::boundBacklog()
{
    qint64 waiting = 0;
    for (const Entry &entry : qAsConst(entries)) {
        if (entry.state == Entry::State::Waiting)
            waiting += entry.endMs - entry.startMs;
    }
    for (auto it = entries.begin(); waiting > config.maxBacklogMs && it != entries.end(); ++it) {
        // The newest is always kept: it is what the service is most likely to answer next.
        if (it.value().state != Entry::State::Waiting || std::next(it) == entries.end())
            continue;
        waiting -= it->endMs - it->startMs;
        it->state = Entry::State::Gap;
        it->pcm.clear();
    }
    deliver();
}

void LiveTranscriber::pump()
{
    if (!running || proving || token->isPending() || retry->isActive())
        return;
    int busy = 0;
    for (const Lane &lane : qAsConst(lanes))
        busy += lane.index >= 0 ? 1 : 0;
    // A troubled service is asked one utterance at a time until it answers again.
    const int room = (troubled ? 1 : config.maxInFlight) - busy;
    if (room <= 0)
        return;
    auto next = std::find_if(entries.begin(), entries.end(),
        [](const Entry &entry) { return entry.state == Entry::State::Waiting; });
    if (next == entries.end())
        return;
    // Proven before each round of requests, as jobs prove before each of theirs: the service
    // may have ended and another user's listener taken its port.
    if (starter && !proven) {
        proving = true;
        starter->ensureRunning(config.service.serviceBaseUrl);
        return;
    }
    const bool tokens = config.service.serviceKind == JobSettings::ServiceKind::Token;
    const int starts = starter ? starter->startCount() : 0;
    if (tokens && (token->isEmpty() || starts != tokenStarts)) {
        if (busy == 0)
            requestToken();
        return;
    }
    for (Lane &lane : lanes) {
        if (lane.index >= 0)
            continue;
        send(lane, next.key());
        next = std::find_if(std::next(next), entries.end(),
            [](const Entry &entry) { return entry.state == Entry::State::Waiting; });
        if (troubled || next == entries.end())
            break;
    }
    proven = false;
}

void LiveTranscriber::requestToken()
{
    if (token->isPending())
        return;
    const QString address = SpeechServiceStarter::tokenAddress(
        config.service.serviceBaseUrl, config.service.tokenBaseUrl, starter != nullptr);
    if (address.isEmpty()) {
        trouble({ JobFailure::Kind::TokenAddressRefused, config.service.tokenBaseUrl });
        return;
    }
    token->clear();
    token->request(address, config.service.tokenTimeoutMs, config.service.serviceClientId,
        config.service.serviceSecret);
}

void LiveTranscriber::send(Lane &lane, qint64 index)
{
    Entry &entry = entries[index];
    entry.state = Entry::State::Sending;
    lane.index = index;
    const QByteArray wav = TranscriptionsApi::wavBytes(entry.pcm);
    const JobSettings &service = config.service;
    if (service.serviceKind == JobSettings::ServiceKind::Transcriptions) {
        TranscriptionsApi::post(lane.http, HttpRequestIds::Transcriptions, service, wav);
    } else {
        RecognitionRequest request;
        request.speech = wav;
        request.length = wav.size();
        request.clientId = service.clientId;
        request.token = token->values().accessToken;
        request.language = service.language;
        lane.http->httpPost(HttpRequestIds::Recognition, recognitionUrl(service.serviceBaseUrl),
            buildRecognitionBody(request));
    }
    lane.limit->start(service.recognitionTimeoutMs);
}

void LiveTranscriber::laneReplied(int at, const HttpReplyInfo &info)
{
    Lane &lane = lanes[at];
    const qint64 index = std::exchange(lane.index, -1);
    lane.limit->stop();
    if (!running || index < 0 || !entries.contains(index))
        return;
    if (config.service.serviceKind == JobSettings::ServiceKind::Transcriptions) {
        takeReply(index, TranscriptionsApi::parseReply(info, config.service.serviceBaseUrl));
        return;
    }
    // No HTTP answer at all (refused, reset) reads as a network failure, not as a reply.
    if (info.status == 0) {
        RecognitionReply none;
        none.failure = JobFailure::Kind::NoAnswer;
        takeReply(index, none);
        return;
    }
    takeReply(index, parseRecognitionReply(info.body));
}

void LiveTranscriber::laneTimedOut(int at)
{
    Lane &lane = lanes[at];
    lane.http->abortRequests(config.service.serviceKind == JobSettings::ServiceKind::Transcriptions
            ? HttpRequestIds::Transcriptions
            : HttpRequestIds::Recognition);
    const qint64 index = std::exchange(lane.index, -1);
    if (!running || !entries.contains(index))
        return;
    RecognitionReply none;
    none.failure = JobFailure::Kind::NoAnswer;
    takeReply(index, none);
}

void LiveTranscriber::takeReply(qint64 index, const RecognitionReply &reply)
{
    Entry &entry = entries[index];
    if (reply.kind != RecognitionReply::Text) {
        // It waits its turn again, ahead of everything said after it.
        entry.state = Entry::State::Waiting;
        if (reply.kind == RecognitionReply::ServiceError
            && reply.errNo == speechprotocol::err::kAuthFailed)
            token->clear();
        trouble(reply.kind == RecognitionReply::Retry ? JobFailure(JobFailure::Kind::NoAnswer)
                                                      : reply.failure);
        return;
    }
    const RecognitionReply written = RecognisedText::asWritten(reply, config.service.textRules);
    TimedUtterances placed = UtteranceTimes::placeInFile(written.utterances, written.text,
        written.hasText, entry.startMs, entry.endMs - entry.startMs);
    TimedUtterance text;
    text.startMs = entry.startMs;
    text.endMs = entry.endMs;
    text.text = written.hasText ? written.text.trimmed() : QString();
    for (const TimedUtterance &part : qAsConst(placed))
        text.words += part.words;
    entry.text = text;
    entry.state = Entry::State::Done;
    entry.pcm.clear();
    if (std::exchange(troubled, false)) {
        retryMs = 0;
        giveUp->stop();
        emit serviceBack();
        if (!running)
            return;
    }
    deliver();
    pump();
}

void LiveTranscriber::trouble(const JobFailure &failure)
{
    proven = false;
    const bool first = !std::exchange(troubled, true);
    // 0.5 s at first, doubling up to 8 s, so a service that comes back is heard from soon.
    retryMs = retryMs == 0 ? 500 : std::min(retryMs * 2, 8000);
    retry->start(std::max(1, int(retryMs * config.service.backoffScale)));
    if (finishing && !giveUp->isActive())
        giveUp->start(config.finishGiveUpMs);
    if (first)
        emit serviceTrouble(failure);
}

void LiveTranscriber::deliver()
{
    const QPointer<LiveTranscriber> alive(this);
    while (alive && running && !entries.isEmpty() && entries.firstKey() == nextDelivered) {
        Entry &front = entries.first();
        if (front.state == Entry::State::Done) {
            const TimedUtterance text = front.text;
            entries.remove(nextDelivered++);
            emit pendingChanged(entries.size());
            if (alive && !text.text.isEmpty())
                emit recognised(text);
            continue;
        }
        if (front.state != Entry::State::Gap)
            break;
        // Gaps side by side are one mark; it waits until what follows it is known.
        auto end = entries.begin();
        while (end != entries.end() && end->state == Entry::State::Gap)
            ++end;
        if (end != entries.end() && end->state != Entry::State::Done)
            break;
        if (end == entries.end() && !finishing)
            break;
        const qint64 startMs = entries.first().startMs;
        const qint64 endMs = std::prev(end)->endMs;
        while (!entries.isEmpty() && entries.firstKey() == nextDelivered
            && entries.first().state == Entry::State::Gap)
            entries.remove(nextDelivered++);
        emit pendingChanged(entries.size());
        if (alive)
            emit gapMarked(startMs, endMs);
    }
    if (alive && running && finishing && entries.isEmpty()) {
        running = false;
        retry->stop();
        giveUp->stop();
        emit finished();
    }
}

void LiveTranscriber::finish()
{
    if (!running || finishing)
        return;
    finishing = true;
    if (const Endpoint::Cut cut = Endpoint::finish(endpoint); cut.valid)
        addUtterance(cut);
    if (troubled)
        giveUp->start(config.finishGiveUpMs);
    deliver();
}

void LiveTranscriber::giveUpRest()
{
    if (!running)
        return;
    endRequests();
    for (Entry &entry : entries) {
        if (entry.state != Entry::State::Done) {
            entry.state = Entry::State::Gap;
            entry.pcm.clear();
        }
    }
    deliver();
}

void LiveTranscriber::endRequests()
{
    for (Lane &lane : lanes) {
        lane.http->abortRequests(HttpRequestIds::Recognition);
        lane.http->abortRequests(HttpRequestIds::Transcriptions);
        lane.limit->stop();
        lane.index = -1;
    }
    token->abort();
    retry->stop();
    proving = false;
    stream.active = false;
    stream.proving = false;
    stream.inFlight = false;
    stream.entry = -1;
    stream.http->abortRequests(HttpRequestIds::Recognition);
    stream.limit->stop();
}

void LiveTranscriber::stop()
{
    endRequests();
    giveUp->stop();
    running = false;
    finishing = false;
    entries.clear();
    held.clear();
    partial.clear();
}

bool LiveTranscriber::streamable() const
{
    return running && config.pieceFrames > 0
        && config.service.serviceKind == JobSettings::ServiceKind::Token && !stream.unsupported
        && !troubled && endpoint.start != stream.failedStart;
}

bool LiveTranscriber::tokenUsable() const
{
    return !token->isEmpty() && (starter ? starter->startCount() : 0) == tokenStarts;
}

void LiveTranscriber::beginStream()
{
    stream.active = true;
    stream.begun = endpoint.start;
    stream.start = std::max(endpoint.start, heldStart);
    stream.sent = 0;
    stream.piece = 0;
    stream.entry = -1;
    stream.inFlight = false;
    stream.lastSent = false;
    // Proven at each utterance, as each round of whole requests is: the port may have changed
    // hands since.
    stream.proven = !starter;
    if (starter) {
        stream.proving = true;
        starter->ensureRunning(config.service.serviceBaseUrl);
        return;
    }
    pushStream();
}

// The utterance under way was cut: when it is the streamed one, whole, only its last piece is
// left to send. A cut inside it (the length limit) leaves audio past the cut in the stream, so
// that utterance goes whole instead.
bool LiveTranscriber::streamCut(qint64 index, qint64 from, const Endpoint::Cut &cut)
{
    if (!stream.active || stream.entry >= 0)
        return false;
    if (from != stream.start || cut.end != endpoint.frame) {
        dropStream();
        return false;
    }
    stream.entry = index;
    stream.end = cut.end;
    entries[index].state = Entry::State::Sending;
    pushStream();
    return true;
}

void LiveTranscriber::pushStream()
{
    if (!running || !stream.active || stream.inFlight || !stream.proven)
        return;
    if (!tokenUsable()) {
        requestToken();
        return;
    }
    const bool last = stream.entry >= 0;
    const qint64 count = (last ? stream.end : endpoint.frame) - stream.start - stream.sent;
    if (!last && count < config.pieceFrames)
        return;
    const int frameBytes = config.endpoint.frameSamples * BytesPerSample;
    const QByteArray pcm = last
        ? entries.value(stream.entry)
              .pcm.mid(int(stream.sent * frameBytes), int(count * frameBytes))
        : held.mid(
            int((stream.start + stream.sent - heldStart) * frameBytes), int(count * frameBytes));
    RecognitionRequest request;
    request.speech = TranscriptionsApi::wavBytes(pcm);
    request.length = request.speech.size();
    request.clientId = config.service.clientId;
    request.token = token->values().accessToken;
    request.language = config.service.language;
    stream.inFlight = true;
    stream.lastSent = last;
    stream.piece = count;
    stream.http->httpPost(HttpRequestIds::Recognition,
        LivePiece::url(config.service.serviceBaseUrl),
        LivePiece::body(request, stream.session, stream.sent * config.endpoint.frameSamples, last));
    stream.limit->start(config.service.recognitionTimeoutMs);
}

void LiveTranscriber::streamReplied(const HttpReplyInfo &info)
{
    if (!running || !stream.active || !stream.inFlight)
        return;
    stream.inFlight = false;
    stream.limit->stop();
    // An older local service has no live route.
    if (info.status == 404) {
        stream.unsupported = true;
        dropStream();
        return;
    }
    const RecognitionReply reply
        = info.status == 200 ? parseRecognitionReply(info.body) : RecognitionReply();
    if (reply.kind != RecognitionReply::Text) {
        if (reply.kind == RecognitionReply::ServiceError
            && reply.errNo == speechprotocol::err::kAuthFailed)
            token->clear();
        // Whatever went wrong, the session may be gone with it.
        stream.session.clear();
        dropStream();
        return;
    }
    stream.session = LivePiece::sessionOf(info.body);
    stream.sent += stream.piece;
    if (!stream.lastSent) {
        pushStream();
        return;
    }
    const qint64 index = std::exchange(stream.entry, -1);
    stream.active = false;
    takeReply(index, reply);
    // The next utterance may have begun while this one's text was on its way.
    if (running && endpoint.inSpeech && !stream.active && streamable())
        beginStream();
}

// The stream ends unfinished; its utterance, if cut, goes whole the usual way.
void LiveTranscriber::dropStream()
{
    const bool wasActive = std::exchange(stream.active, false);
    if (wasActive)
        stream.failedStart = stream.begun;
    stream.proving = false;
    stream.inFlight = false;
    stream.http->abortRequests(HttpRequestIds::Recognition);
    stream.limit->stop();
    const qint64 index = std::exchange(stream.entry, -1);
    if (!wasActive || !running || index < 0 || !entries.contains(index))
        return;
    Entry &entry = entries[index];
    if (entry.state == Entry::State::Sending)
        entry.state = Entry::State::Waiting;
    pump();
}

QString LiveTranscriber::gapText(qint64 startMs, qint64 endMs)
{
    return QStringLiteral("[未识别 %1–%2]").arg(clock(startMs), clock(endMs));
}
