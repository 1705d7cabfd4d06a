// A recovery file of unsaved edits, and the timed lines its times give its text.
#include "core/recoveryfile.h"
#include "core/timeddocument.h"
#include "fuzzcheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    Recovery recovery;
    recovery.text = QStringLiteral("sentinel");
    if (!RecoveryFiles::parse(bytes, &recovery)) {
        FUZZ_CHECK(
            recovery.text == QStringLiteral("sentinel") && recovery.transcriptPath.isEmpty());
        return 0;
    }
    FUZZ_CHECK(!recovery.transcriptPath.isEmpty());
    Recovery again;
    FUZZ_CHECK(RecoveryFiles::parse(RecoveryFiles::serialize(recovery), &again));
    FUZZ_CHECK(again.text == recovery.text && again.stamp == recovery.stamp);
    // Whatever the times say, the lines are the text's, and each edit keeps them so.
    const TimedLines lines = TimedDocument::fromTimes(recovery.text, recovery.times.paragraphs);
    FUZZ_CHECK(TimedDocument::text(lines) == recovery.text);
    for (int i = 0; i < lines.size(); ++i) {
        const TimedLines split = TimedDocument::split(lines, i, lines[i].text.size() / 2);
        FUZZ_CHECK(split.size() == lines.size() + 1);
        // Joined again, the text is as it was and the outer bounds are the line's.
        const TimedLines joined = TimedDocument::join(split, i);
        FUZZ_CHECK(TimedDocument::text(joined) == recovery.text);
        FUZZ_CHECK(joined[i].startMs() == lines[i].startMs());
        FUZZ_CHECK(joined[i].endMs() == lines[i].endMs());
        TimedDocument::timeAt(lines[i], lines[i].text.size() / 2);
    }
    TimedDocument::Index(lines).at(1000);
    return 0;
}
