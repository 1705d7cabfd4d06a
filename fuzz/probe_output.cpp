// What the program reads of other programs' output: ffmpeg's description of an input (its
// duration) and the answer at the speech service's address before the service is started.
#include "asr/speechservicestarter.h"
#include "audio/durationparser.h"
#include "fuzzcheck.h"

#include <QByteArray>
#include <QString>

#include <limits>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    const QString text = QString::fromLocal8Bit(bytes);
    int seconds = -1;
    qint64 ms = -1;
    const bool haveSeconds = DurationParser::parseSeconds(text, &seconds);
    const bool haveMs = DurationParser::parseMilliseconds(text, &ms);
    // Both readings find the same line, and agree on it.
    FUZZ_CHECK(haveSeconds == haveMs);
    if (haveSeconds) {
        FUZZ_CHECK(seconds >= 0 && ms >= 0);
        FUZZ_CHECK(qMin<qint64>(ms / 1000, std::numeric_limits<int>::max()) == seconds);
    }
    SpeechServiceStarter::classifyProbeAnswer(bytes);
    return 0;
}
