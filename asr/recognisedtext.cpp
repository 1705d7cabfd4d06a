#include "asr/recognisedtext.h"

namespace RecognisedText {

RecognitionReply asWritten(const RecognitionReply &reply, const TextRules &rules)
{
    if (reply.kind != RecognitionReply::Text || rules.changesNothing())
        return reply;
    RecognitionReply written = reply;
    written.text = rules.apply(reply.text).trimmed();
    written.hasText = reply.hasText && !written.text.isEmpty();
    TimedUtterances kept;
    for (TimedUtterance utterance : reply.utterances) {
        utterance.text = rules.apply(utterance.text).trimmed();
        if (utterance.text.isEmpty())
            continue;
        for (TimedWord &word : utterance.words)
            word.text = rules.applyToWord(word.text);
        kept.append(utterance);
    }
    written.utterances = kept;
    return written;
}

} // namespace RecognisedText
