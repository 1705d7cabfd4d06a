#include "service/recognition/pocketsphinx_recognizer.h"

#include "protocol/speechprotocol.h"

#include <pocketsphinx.h>
#include <sphinxbase/cmn.h>
#include <sphinxbase/err.h>
#include <sphinxbase/feat.h>

#include <algorithm>
#include <mutex>
#include <stdexcept>
#include <sys/stat.h>
#include <type_traits>
#include <utility>
#include <vector>

namespace speech {

namespace {

bool exists(const std::string &path)
{
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

std::string trimmed(const char *hyp)
{
    if (!hyp)
        return {};
    const std::string words(hyp);
    const size_t first = words.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    const size_t last = words.find_last_not_of(' ');
    return words.substr(first, last - first + 1);
}

// Sentence marks, silence and fillers ("<s>", "</s>", "<sil>", "[NOISE]",
// "++BREATH++", "(NULL)") are no words of the speaker.
bool isSpokenWord(const char *word)
{
    if (!word || !*word)
        return false;
    const char first = word[0];
    return first != '<' && first != '[' && first != '+' && first != '(';
}

// "read(2)" is the dictionary's second pronunciation of "read".
std::string withoutVariant(const char *word)
{
    std::string w(word);
    const size_t open = w.find('(');
    if (open != std::string::npos && open > 0 && w.back() == ')')
        w.erase(open);
    return w;
}

// Whether some 10 ms frame is louder than about -50 dBFS (an RMS of 100).
bool hasSound(const int16_t *samples, size_t count)
{
    constexpr size_t kFrame = 160;
    constexpr double kQuietSquare = 100.0 * 100.0;
    for (size_t at = 0; at < count; at += kFrame) {
        const size_t n = std::min(kFrame, count - at);
        double sum = 0;
        for (size_t i = 0; i < n; ++i)
            sum += double(samples[at + i]) * samples[at + i];
        if (sum / double(n) > kQuietSquare)
            return true;
    }
    return false;
}

// Live normalisation. PocketSphinx's running mean weighs the mean it starts from as 5 s of audio
// and moves it only every 3 s, so a short utterance was normalised mostly by the one before it,
// and its text was worse than the same audio decoded whole. Here the mean the speaker's last
// utterance left counts as a few frames only, and is re-estimated from it and the utterance so
// far at fixed places in the utterance, so that the text does not depend on how the audio was
// cut into pieces.
constexpr int kPriorFrames = 30;
constexpr size_t kMeanStepSamples = 3200; // 200 ms

// Live audio reaches the decoder 50 ms (5 frames) a call. Its frame buffers are circular and
// sized by the longest utterance it has decoded whole, and its live path is only safe while a
// call brings fewer frames than the feature buffer holds beyond the search's lookahead, and
// fewer than the normaliser's block of 256: after a whole utterance of 0.1-0.25 s a 200 ms call
// made the search lose frames (no text, or an assertion), and after a long one a call of a few
// seconds made the normaliser read past the buffer's rows (a segmentation fault). A decoder that
// decoded nothing whole takes at most 7 frames a round, so 5 a call is safe on any decoder.
constexpr size_t kFeedSamples = 800;
static_assert(kMeanStepSamples % kFeedSamples == 0, "the mean is re-estimated between calls");

void weighPrior(cmn_t *cmn)
{
    for (int i = 0; i < cmn->veclen; ++i)
        cmn->sum[i] = cmn->cmn_mean[i] * float(kPriorFrames);
    cmn->nframe = kPriorFrames;
}

} // namespace

ModelFiles defaultEnglishModel()
{
    const std::string dir = "/usr/share/pocketsphinx/model/en-us/";
    return { dir + "en-us", dir + "en-us.lm.bin", dir + "cmudict-en-us.dict" };
}

static_assert(std::is_same<mfcc_t, float>::value, "the carried mean is kept as floats");

struct PocketSphinxRecognizer::Impl
{
    ps_decoder_t *ps = nullptr;
    // The parsed configuration may point into these, so they live as long as the decoder.
    std::vector<std::string> arguments;
    // The model's normalisation, restored after each live utterance: the front end switches
    // to a running mean for audio that comes in pieces, and a whole request must not inherit
    // it nor the mean another client's speech left behind.
    cmn_type_t wholeCmn = CMN_BATCH;
    std::vector<float> initialMean;
    bool streaming = false;
    size_t streamed = 0;

    feat_t *feat() const { return ps_get_feat(ps); }
    void restoreCmn() const
    {
        if (feat_t *f = feat())
            f->cmn = wholeCmn;
    }
    Timed words(size_t count) const;
};

// The best path's words with their places; fillers and silences left out.
PocketSphinxRecognizer::Timed PocketSphinxRecognizer::Impl::words(size_t count) const
{
    Timed timed;
    timed.text = trimmed(ps_get_hyp(ps, nullptr));
    if (timed.text.empty())
        return timed;
    // The segments hold the words of the best path with their frames (100 a
    // second), and the fillers and silences between them.
    const int frameRate
        = ps_get_config(ps) ? int(cmd_ln_int32_r(ps_get_config(ps), "-frate")) : 100;
    const size_t samplesPerFrame = size_t(speechprotocol::kSampleRate / std::max(1, frameRate));
    for (ps_seg_t *seg = ps_seg_iter(ps); seg; seg = ps_seg_next(seg)) {
        const char *word = ps_seg_word(seg);
        if (!isSpokenWord(word))
            continue;
        int startFrame = 0;
        int endFrame = 0;
        ps_seg_frames(seg, &startFrame, &endFrame);
        TimedWord w;
        w.word = withoutVariant(word);
        w.begin = std::min(count, size_t(std::max(0, startFrame)) * samplesPerFrame);
        // The end frame is the word's last one.
        w.end = std::min(count, size_t(std::max(0, endFrame) + 1) * samplesPerFrame);
        timed.words.push_back(std::move(w));
    }
    return timed;
}

PocketSphinxRecognizer::PocketSphinxRecognizer(
    const ModelFiles &files, const SearchSettings &search)
    : d(new Impl)
{
    for (const std::string *path :
        { &files.acousticModelDir, &files.languageModel, &files.dictionary }) {
        if (!exists(*path))
            throw std::runtime_error("model file not found: " + *path);
    }
    // The decoder's own log is long; keep it quiet and report failures ourselves. The log is
    // switched off once for the process rather than with "-logfn": that option reopens one
    // global log file and closes the previous one, a race when decoders load side by side.
    static std::once_flag quiet;
    std::call_once(quiet, [] { err_set_logfp(nullptr); });
    // The first argument stands for a program name, which the parser skips.
    d->arguments = { "pocketsphinx", "-hmm", files.acousticModelDir, "-lm", files.languageModel,
        "-dict", files.dictionary,
        // Every frame counted: with the front end dropping silent frames, a word's frame
        // number would not say where in the audio it lies.
        "-remove_silence", "no" };
    for (std::string &argument : decoderArguments(search))
        d->arguments.push_back(std::move(argument));
    std::vector<char *> argv;
    for (std::string &argument : d->arguments)
        argv.push_back(argument.data());
    cmd_ln_t *config = cmd_ln_parse_r(nullptr, ps_args(), int(argv.size()), argv.data(), TRUE);
    if (!config)
        throw std::runtime_error("invalid decoder configuration for " + files.acousticModelDir);
    d->ps = ps_init(config);
    cmd_ln_free_r(config);
    if (!d->ps)
        throw std::runtime_error("cannot load the model " + files.acousticModelDir + " with "
            + files.languageModel + " and " + files.dictionary);
    if (feat_t *f = d->feat(); f && f->cmn_struct) {
        d->wholeCmn = f->cmn;
        d->initialMean.resize(size_t(f->cmn_struct->veclen));
        cmn_live_get(f->cmn_struct, d->initialMean.data());
    }
}

PocketSphinxRecognizer::~PocketSphinxRecognizer()
{
    if (d->ps)
        ps_free(d->ps);
}

std::string PocketSphinxRecognizer::recognize(const int16_t *samples, size_t count)
{
    return recognizeTimed(samples, count).text;
}

PocketSphinxRecognizer::Timed PocketSphinxRecognizer::recognizeTimed(
    const int16_t *samples, size_t count)
{
    // Every frame reaches the decoder (see the constructor), so audio without
    // any frame above a faint level is taken as silence rather than decoded:
    // the search would find words in it.
    if (!hasSound(samples, count))
        return {};
    d->restoreCmn();
    // A new stream per utterance: the front end's noise estimate otherwise
    // carries over from earlier audio, and one client's text would depend on
    // what the decoder heard before.
    if (ps_start_stream(d->ps) < 0 || ps_start_utt(d->ps) < 0)
        throw std::runtime_error("the decoder cannot start an utterance");
    // The whole utterance in one call: the cepstral mean then comes from the
    // utterance itself (the model asks for batch normalisation).
    if (count > 0 && ps_process_raw(d->ps, samples, count, FALSE, TRUE) < 0) {
        ps_end_utt(d->ps);
        throw std::runtime_error("the decoder rejected the audio");
    }
    if (ps_end_utt(d->ps) < 0)
        throw std::runtime_error("the decoder cannot finish the utterance");
    return d->words(count);
}

bool PocketSphinxRecognizer::beginStream(const std::vector<float> &mean)
{
    feat_t *f = d->feat();
    if (!f || !f->cmn_struct || d->initialMean.empty())
        return false;
    if (d->streaming)
        abandonStream();
    const std::vector<float> &start = mean.size() == d->initialMean.size() ? mean : d->initialMean;
    if (ps_start_stream(d->ps) < 0 || ps_start_utt(d->ps) < 0)
        throw std::runtime_error("the decoder cannot start an utterance");
    // Set after the stream starts, so that nothing of the last request's audio is left in it.
    f->cmn = CMN_LIVE;
    cmn_live_set(f->cmn_struct, start.data());
    weighPrior(f->cmn_struct);
    d->streaming = true;
    d->streamed = 0;
    return true;
}

void PocketSphinxRecognizer::continueStream(const int16_t *samples, size_t count)
{
    if (!d->streaming)
        return;
    for (size_t at = 0; at < count;) {
        const size_t n = std::min(count - at, kFeedSamples - d->streamed % kFeedSamples);
        if (ps_process_raw(d->ps, samples + at, n, FALSE, FALSE) < 0) {
            abandonStream();
            throw std::runtime_error("the decoder rejected the audio");
        }
        at += n;
        d->streamed += n;
        if (d->streamed % kMeanStepSamples == 0)
            cmn_live_update(d->feat()->cmn_struct);
    }
}

PocketSphinxRecognizer::Timed PocketSphinxRecognizer::endStream(std::vector<float> &mean)
{
    if (!d->streaming)
        return {};
    d->streaming = false;
    const int ended = ps_end_utt(d->ps);
    feat_t *f = d->feat();
    mean.resize(d->initialMean.size());
    cmn_live_get(f->cmn_struct, mean.data());
    d->restoreCmn();
    if (ended < 0)
        throw std::runtime_error("the decoder cannot finish the utterance");
    return d->words(d->streamed);
}

void PocketSphinxRecognizer::abandonStream()
{
    if (!std::exchange(d->streaming, false))
        return;
    ps_end_utt(d->ps);
    d->restoreCmn();
}

} // namespace speech
