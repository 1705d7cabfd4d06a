// The same synthetic English speech (20 minutes by default) through the speech service, both
// ways in each of several rounds: as an mp3 file in one POST /v1/audio/transcriptions, and as
// the token protocol's 59-second requests sent one after another, each on a fresh service so
// that each run's peak memory is its own. The two ways take turns going first, and the medians
// of the rounds' ratios are the figures: on a shared machine one pair of runs says more about
// the neighbours than about the service. Prints one "name: value" line per figure; the time
// ratio's target is at most 1.1.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include "common/speechservice.h"
#include "common/wordrate.h"
#include "cputime.h"
#include "figures.h"
#include "service/api/api_paths.h"
#include "service/api/base64.h"
#include "service/recognition/audio_input.h"

#include <httplib.h>
#include <json/json.h>

#include <algorithm>
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

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Times the transcription API against the token protocol on the same speech."));
    parser.addHelpOption();
    parser.addPositionalArgument(
        QStringLiteral("minutes"), QStringLiteral("Minutes of speech (20)."));
    parser.addPositionalArgument(
        QStringLiteral("service options"), QStringLiteral("Passed to each speech service."));
    const QCommandLineOption roundsOption(QStringLiteral("rounds"),
        QStringLiteral("Rounds of both runs (3)."), QStringLiteral("n"), QStringLiteral("3"));
    parser.addOption(roundsOption);
    // Everything after the minutes is the service's own, options included.
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    parser.process(app);
    const QStringList positional = parser.positionalArguments();
    const int minutes = positional.isEmpty() ? 20 : std::max(1, positional.first().toInt());
    const int rounds = std::max(1, parser.value(roundsOption).toInt());
    const QStringList serviceArgs = positional.mid(1);
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

    figure("rounds", QString::number(rounds));

    const QString spokenText = chosen.join(QLatin1Char(' '));
    std::vector<double> timeRatios, cpuRatios;
    Run token, api;
    for (int round = 1; round <= rounds; ++round) {
        // Taking turns at going first spreads a slow stretch of the machine over both ways.
        if (round % 2) {
            token = tokenProtocol(audio.samples, serviceArgs);
            api = transcriptionApi(mp3Bytes, serviceArgs);
        } else {
            api = transcriptionApi(mp3Bytes, serviceArgs);
            token = tokenProtocol(audio.samples, serviceArgs);
        }
        if (token.seconds < 0 || api.seconds < 0) {
            std::fprintf(stderr, "a run failed\n");
            return 1;
        }
        const QString r = QStringLiteral("round%1_").arg(round);
        figure(r + QStringLiteral("token_protocol_s"), token.seconds);
        figure(r + QStringLiteral("transcription_api_s"), api.seconds);
        figure(r + QStringLiteral("time_ratio"), api.seconds / token.seconds, 3);
        figure(r + QStringLiteral("cpu_ratio"), api.cpuSeconds / token.cpuSeconds, 3);
        timeRatios.push_back(api.seconds / token.seconds);
        cpuRatios.push_back(api.cpuSeconds / token.cpuSeconds);
    }
    // Memory and errors do not hang on the machine's load: the last round's stand for all.
    figure("time_ratio", median(timeRatios), 3);
    figure("cpu_ratio", median(cpuRatios), 3);
    figure("token_protocol_peak_rss_mb", token.peakMb, 1);
    figure("transcription_api_peak_rss_mb", api.peakMb, 1);
    figure("token_protocol_wer", WordRate::errorRate(spokenText, token.text), 3);
    figure("transcription_api_wer", WordRate::errorRate(spokenText, api.text), 3);
    return 0;
}
