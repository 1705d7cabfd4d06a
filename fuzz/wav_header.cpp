// The desktop program's WAV header reader, over bytes in memory and the same bytes as a file.
#include "audio/wavinfo.h"
#include "fuzzcheck.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    const WavInfo info = WavInfo::fromBytes(bytes);
    if (info.valid) {
        // What it says lies within the bytes.
        FUZZ_CHECK(info.dataOffset >= 12 && info.dataOffset <= bytes.size());
        FUZZ_CHECK(info.dataBytes >= 0 && info.dataOffset + info.dataBytes <= bytes.size());
        FUZZ_CHECK(info.frames() >= 0);
        const qint64 frameBytes = qint64(info.channels) * (info.bitsPerSample / 8);
        FUZZ_CHECK(frameBytes > 0 || info.frames() == 0);
        FUZZ_CHECK(info.frames() * frameBytes <= info.dataBytes);
    }

    // The file reads as the bytes do, when its header lies within the part that is read.
    if (size > 4096)
        return 0;
    static const QString path
        = QDir::tempPath() + QStringLiteral("/fuzz-wav-%1.wav").arg(::getpid());
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_CHECK(file.write(bytes) == bytes.size());
    file.close();
    const WavInfo fromFile = WavInfo::fromFile(path);
    FUZZ_CHECK(fromFile.valid == info.valid);
    if (info.valid) {
        FUZZ_CHECK(fromFile.formatTag == info.formatTag && fromFile.channels == info.channels);
        FUZZ_CHECK(fromFile.sampleRate == info.sampleRate);
        FUZZ_CHECK(fromFile.bitsPerSample == info.bitsPerSample);
        FUZZ_CHECK(fromFile.dataOffset == info.dataOffset && fromFile.dataBytes == info.dataBytes);
    }
    return 0;
}
