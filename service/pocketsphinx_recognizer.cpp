#include "pocketsphinx_recognizer.h"

#include <pocketsphinx.h>
#include <sphinxbase/cmn.h>
#include <sphinxbase/feat.h>

#include <algorithm>
#include <stdexcept>
#include <sys/stat.h>

namespace speech {

namespace {

// Samples handed to the decoder per call: 128 ms, the block a live audio
// source would deliver, so utterance ends are found at the same places.
constexpr size_t kBlockSamples = 2048;

bool exists(const std::string &path)
{
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

void appendWords(std::string &text, const char *hyp)
{
    if (!hyp)
        return;
    std::string words(hyp);
    const size_t first = words.find_first_not_of(' ');
    if (first == std::string::npos)
        return;
    const size_t last = words.find_last_not_of(' ');
    if (!text.empty())
        text += ' ';
    text += words.substr(first, last - first + 1);
}

} // namespace

ModelFiles defaultEnglishModel()
{
    const std::string dir = "/usr/share/pocketsphinx/model/en-us/";
    return {dir + "en-us", dir + "en-us.lm.bin", dir + "cmudict-en-us.dict"};
}

struct PocketSphinxRecognizer::Impl
{
    ps_decoder_t *ps = nullptr;
    cmn_t *cmn = nullptr;
    std::vector<mfcc_t> initialMean;
};

PocketSphinxRecognizer::PocketSphinxRecognizer(const ModelFiles &files) : d(new Impl)
{
    for (const std::string *path : {&files.acousticModelDir, &files.languageModel, &files.dictionary}) {
        if (!exists(*path))
            throw std::runtime_error("model file not found: " + *path);
    }
    // The decoder's own log is long and goes to a file name; keep it quiet and
    // report failures ourselves.
    cmd_ln_t *config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", files.acousticModelDir.c_str(),
                                   "-lm", files.languageModel.c_str(), "-dict",
                                   files.dictionary.c_str(), "-logfn", "/dev/null", nullptr);
    if (!config)
        throw std::runtime_error("invalid decoder configuration for " + files.acousticModelDir);
    d->ps = ps_init(config);
    cmd_ln_free_r(config);
    if (!d->ps)
        throw std::runtime_error("cannot load the model " + files.acousticModelDir + " with "
                                 + files.languageModel + " and " + files.dictionary);

    // Each request starts from the model's initial cepstral mean, so that a
    // decoder's earlier requests do not colour the next one.
    d->cmn = ps_get_feat(d->ps)->cmn_struct;
    if (d->cmn) {
        d->initialMean.resize(static_cast<size_t>(d->cmn->veclen));
        cmn_live_get(d->cmn, d->initialMean.data());
    }
}

PocketSphinxRecognizer::~PocketSphinxRecognizer()
{
    if (d->ps)
        ps_free(d->ps);
}

std::string PocketSphinxRecognizer::recognize(const int16_t *samples, size_t count)
{
    if (d->cmn)
        cmn_live_set(d->cmn, d->initialMean.data());

    std::string text;
    if (ps_start_utt(d->ps) < 0)
        throw std::runtime_error("the decoder cannot start an utterance");
    bool uttStarted = false;
    for (size_t pos = 0; pos < count; pos += kBlockSamples) {
        const size_t n = std::min(kBlockSamples, count - pos);
        ps_process_raw(d->ps, samples + pos, n, FALSE, FALSE);
        const bool inSpeech = ps_get_in_speech(d->ps) != 0;
        if (inSpeech && !uttStarted)
            uttStarted = true;
        if (!inSpeech && uttStarted) {
            ps_end_utt(d->ps);
            appendWords(text, ps_get_hyp(d->ps, nullptr));
            ps_start_utt(d->ps);
            uttStarted = false;
        }
    }
    ps_end_utt(d->ps);
    if (uttStarted)
        appendWords(text, ps_get_hyp(d->ps, nullptr));
    return text;
}

} // namespace speech
