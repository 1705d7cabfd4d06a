#include "pocketsphinx_recognizer.h"

#include <pocketsphinx.h>
#include <sphinxbase/err.h>

#include <mutex>

#include <stdexcept>
#include <sys/stat.h>
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

} // namespace

ModelFiles defaultEnglishModel()
{
    const std::string dir = "/usr/share/pocketsphinx/model/en-us/";
    return { dir + "en-us", dir + "en-us.lm.bin", dir + "cmudict-en-us.dict" };
}

struct PocketSphinxRecognizer::Impl
{
    ps_decoder_t *ps = nullptr;
    // The parsed configuration may point into these, so they live as long as the decoder.
    std::vector<std::string> arguments;
};

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
        "-dict", files.dictionary };
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
}

PocketSphinxRecognizer::~PocketSphinxRecognizer()
{
    if (d->ps)
        ps_free(d->ps);
}

std::string PocketSphinxRecognizer::recognize(const int16_t *samples, size_t count)
{
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
    return trimmed(ps_get_hyp(d->ps, nullptr));
}

} // namespace speech
