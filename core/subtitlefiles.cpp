#include "core/subtitlefiles.h"

#include "subtitles/cues.h"
#include "subtitles/writers.h"

namespace SubtitleFiles {

namespace {

std::vector<subtitles::Cue> cuesOf(const TimedUtterances &utterances)
{
    std::vector<subtitles::Utterance> plain;
    for (const TimedUtterance &utterance : utterances) {
        subtitles::Utterance entry { utterance.startMs, utterance.endMs,
            utterance.text.toStdString(), {} };
        for (const TimedWord &word : utterance.words)
            entry.words.push_back({ word.startMs, word.endMs, word.text.toStdString() });
        plain.push_back(entry);
    }
    return subtitles::layoutCues(plain);
}

} // namespace

QByteArray srt(const TimedUtterances &utterances)
{
    return QByteArray::fromStdString(subtitles::writeSrt(cuesOf(utterances)));
}

QByteArray vtt(const TimedUtterances &utterances)
{
    return QByteArray::fromStdString(subtitles::writeVtt(cuesOf(utterances)));
}

} // namespace SubtitleFiles
