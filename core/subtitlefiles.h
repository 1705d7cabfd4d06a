#pragma once

#include <QByteArray>

#include "core/timedtext.h"

// A transcript's utterances as subtitle files, laid out by the subtitle library's cue rules.
namespace SubtitleFiles {

QByteArray srt(const TimedUtterances &utterances);
QByteArray vtt(const TimedUtterances &utterances);

} // namespace SubtitleFiles
