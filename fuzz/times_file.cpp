// A transcript's times file, and the matching of its paragraphs to a text that was edited.
#include "core/transcripttimes.h"
#include "fuzzcheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    TranscriptTimes times;
    times.source = QStringLiteral("sentinel");
    if (!TranscriptTimesRules::parse(bytes, &times)) {
        FUZZ_CHECK(times.source == QStringLiteral("sentinel") && times.paragraphs.isEmpty());
        // Its bytes may still be a transcript: matched against nothing, no line has times.
        const QString text = QString::fromUtf8(bytes);
        const QVector<qint64> starts = TranscriptTimesRules::lineStarts(text, {});
        FUZZ_CHECK(starts.size() == text.split(QLatin1Char('\n')).size());
        for (qint64 s : starts)
            FUZZ_CHECK(s == -1);
        return 0;
    }
    TranscriptTimes again;
    FUZZ_CHECK(TranscriptTimesRules::parse(TranscriptTimesRules::serialize(times), &again));
    FUZZ_CHECK(again.source == times.source);
    FUZZ_CHECK(again.paragraphs.size() == times.paragraphs.size());
    QString text;
    for (int i = 0; i < times.paragraphs.size(); ++i) {
        FUZZ_CHECK(again.paragraphs[i].text == times.paragraphs[i].text);
        FUZZ_CHECK(again.paragraphs[i].utterances == times.paragraphs[i].utterances);
        text += times.paragraphs[i].text + QLatin1Char('\n');
    }
    // The text as recognised matches its own paragraphs, one start a line.
    const QVector<qint64> starts = TranscriptTimesRules::lineStarts(text, times.paragraphs);
    FUZZ_CHECK(starts.size() == text.split(QLatin1Char('\n')).size());
    const MatchedTimes matched = TranscriptTimesRules::match(text, times.paragraphs);
    FUZZ_CHECK(matched.linesWithoutTimes <= text.count(QLatin1Char('\n')));
    return 0;
}
