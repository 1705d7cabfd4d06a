// The same synthetic English speech (20 minutes by default) through the speech service twice:
// as an mp3 file in one POST /v1/audio/transcriptions, and as the token protocol's 59-second
// requests sent one after another, each on a fresh service so that each run's peak memory is
// its own. Prints one "name: value" line per figure; the time ratio's target is at most 1.1.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include "api_paths.h"
#include "audio_input.h"
#include "base64.h"
#include "common/speechservice.h"
#include "common/wordrate.h"
#include "cputime.h"
#include "figures.h"

#include <httplib.h>
#include <json/json.h>

#include <cstdio>
#include <unistd.h>

using Bench::figure;
using Bench::peakRssMb;

namespace {

const char *kClient = speechprotocol::token::kBuiltInClientId;
const char *kSecret = speechprotocol::token::kBuiltInClientSecret;

std::string readAll(const QString &path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    const QByteArray b = f.readAll();
    return std::string(b.constData(), size_t(b.size()));
}

struct Run
{
    double seconds = -1;
    double peakMb = -1;
    double cpuSeconds = -1;
    QString text;
};

Run tokenProtocol(const std::vector<int16_t> &samples, const QStringList &serviceArgs)
{
    Run run;
    SpeechServiceProcess service(serviceArgs);
    if (!service.start())
        return run;
    httplib::Client c("127.0.0.1", service.port());
    c.set_read_timeout(600, 0);
    QElapsedTimer clock;
    clock.start();
    auto token = c.Get((std::string(speechprotocol::path::kToken)
        + "?grant_type=client_credentials&client_id=" + kClient + "&client_secret=" + kSecret)
                           .c_str());
    if (!token)
        return run;
    Json::Value parsed;
    Json::Reader().parse(token->body, parsed);
    const size_t piece = 59 * speech::kSampleRate;
    for (size_t at = 0, end = 0; at < samples.size(); at = end) {
        // A last piece under a second goes with the one before (at most 60 s are taken).
        end = samples.size() - at < piece + speech::kSampleRate ? samples.size() : at + piece;
        const std::vector<int16_t> part(samples.begin() + long(at), samples.begin() + long(end));
        const std::string wav = speech::makeWav(part);
        Json::Value request;
        request["format"] = "wav";
        request["rate"] = 16000;
        request["channel"] = 1;
        request["cuid"] = "apibench";
        request["token"] = parsed["access_token"];
        request["len"] = Json::UInt64(wav.size());
        request["speech"] = speech::base64Encode(wav);
        auto r = c.Post(speechprotocol::path::kRecognition,
            Json::writeString(Json::StreamWriterBuilder(), request), "application/json");
        Json::Value reply;
        if (!r || !Json::Reader().parse(r->body, reply)
            || reply["err_no"].asInt() != speechprotocol::err::kSuccess) {
            std::fprintf(stderr, "token protocol request failed: %s\n", r ? r->body.c_str() : "");
            return run;
        }
        for (const Json::Value &t : reply["result"])
            run.text += QString::fromStdString(t.asString()) + QLatin1Char(' ');
    }
    run.seconds = clock.elapsed() / 1000.0;
    run.peakMb = peakRssMb(service.pid());
    run.cpuSeconds = CpuTime::process(service.pid(), true);
    return run;
}

Run transcriptionApi(const std::string &mp3, const QStringList &serviceArgs)
{
    Run run;
    SpeechServiceProcess service(serviceArgs);
    if (!service.start())
        return run;
    httplib::Client c("127.0.0.1", service.port());
    c.set_read_timeout(3600, 0);
    QElapsedTimer clock;
    clock.start();
    auto r = c.Post(speech::kTranscriptionsPath,
        { { "Authorization", std::string("Bearer ") + kSecret } },
        httplib::MultipartFormDataItems {
            { "file", mp3, "speech.mp3", "audio/mpeg" }, { "model", "whisper-1", "", "" } });
    Json::Value reply;
    if (!r || r->status != 200 || !Json::Reader().parse(r->body, reply)) {
        std::fprintf(stderr, "transcription failed: %s\n", r ? r->body.c_str() : "");
        return run;
    }
    run.seconds = clock.elapsed() / 1000.0;
    run.peakMb = peakRssMb(service.pid());
    run.cpuSeconds = CpuTime::process(service.pid(), true);
    run.text = QString::fromStdString(reply["text"].asString());
    return run;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int minutes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    const QStringList serviceArgs = app.arguments().mid(2);
    QFile textFile(QStringLiteral(TOV_SOURCE_DIR "/tests/common/speechtext.txt"));
    if (!textFile.open(QIODevice::ReadOnly))
        return 1;
    const QStringList sentences
        = QString::fromUtf8(textFile.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QStringList chosen;
    for (int i = 0, words = 0; words < minutes * 60 * 3.4; ++i) {
        chosen << sentences.at(i % sentences.size());
        words += WordRate::words(chosen.last()).size();
    }
    QTemporaryDir dir;
    const QString text = dir.filePath(QStringLiteral("spoken.txt"));
    QFile spoken(text);
    spoken.open(QIODevice::WriteOnly);
    spoken.write(chosen.join(QLatin1Char('\n')).toUtf8());
    spoken.close();
    const QString wav = dir.filePath(QStringLiteral("speech.wav"));
    const QString mp3 = dir.filePath(QStringLiteral("speech.mp3"));
    if (!makeSpeechWav(text, wav)
        || QProcess::execute(QStringLiteral("ffmpeg"),
               { QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), wav,
                   QStringLiteral("-b:a"), QStringLiteral("64k"), mp3 })
            != 0) {
        std::fprintf(stderr, "flite or ffmpeg failed\n");
        return 1;
    }
    const speech::AudioInput audio = speech::readAudio(readAll(wav));
    const std::string mp3Bytes = readAll(mp3);
    figure("cores", QString::number(QThread::idealThreadCount()));
    figure("audio_seconds", audio.seconds(), 1);
    figure("mp3_mb", mp3Bytes.size() / 1e6, 1);

    const Run token = tokenProtocol(audio.samples, serviceArgs);
    const Run api = transcriptionApi(mp3Bytes, serviceArgs);
    if (token.seconds < 0 || api.seconds < 0) {
        std::fprintf(stderr, "a run failed\n");
        return 1;
    }
    const QString spokenText = chosen.join(QLatin1Char(' '));
    figure("token_protocol_s", token.seconds);
    figure("transcription_api_s", api.seconds);
    figure("time_ratio", api.seconds / token.seconds, 3);
    figure("token_protocol_cpu_s", token.cpuSeconds);
    figure("transcription_api_cpu_s", api.cpuSeconds);
    figure("cpu_ratio", api.cpuSeconds / token.cpuSeconds, 3);
    figure("token_protocol_peak_rss_mb", token.peakMb, 1);
    figure("transcription_api_peak_rss_mb", api.peakMb, 1);
    figure("token_protocol_wer", WordRate::errorRate(spokenText, token.text), 3);
    figure("transcription_api_wer", WordRate::errorRate(spokenText, api.text), 3);
    return 0;
}
