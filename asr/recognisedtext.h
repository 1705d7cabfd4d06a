#pragma once

#include "asr/recognitionreply.h"
#include "core/textrules.h"

namespace RecognisedText {

// The reply with its text, its utterances' texts and their words written by the rules; a
// text the rules leave empty counts as none.
RecognitionReply asWritten(const RecognitionReply &reply, const TextRules &rules);

} // namespace RecognisedText
