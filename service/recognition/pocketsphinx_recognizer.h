#pragma once

#include "service/recognition/recognizer.h"
#include "service/recognition/search_settings.h"

#include <memory>
#include <string>
#include <vector>

namespace speech {

struct ModelFiles
{
    std::string acousticModelDir; // directory holding mdef, means, feat.params, ...
    std::string languageModel; // n-gram model (.lm.bin or ARPA)
    std::string dictionary; // pronunciation dictionary
};

// The Debian US-English model.
ModelFiles defaultEnglishModel();

class PocketSphinxRecognizer : public Recognizer
{
public:
    // Loads the model; throws std::runtime_error when it cannot.
    explicit PocketSphinxRecognizer(
        const ModelFiles &files, const SearchSettings &search = fastSearch());
    ~PocketSphinxRecognizer() override;

    PocketSphinxRecognizer(const PocketSphinxRecognizer &) = delete;
    PocketSphinxRecognizer &operator=(const PocketSphinxRecognizer &) = delete;

    std::string recognize(const int16_t *samples, size_t count) override;
    Timed recognizeTimed(const int16_t *samples, size_t count) override;
    bool beginStream(const std::vector<float> &mean) override;
    void continueStream(const int16_t *samples, size_t count) override;
    Timed endStream(std::vector<float> &mean) override;
    void abandonStream() override;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace speech
