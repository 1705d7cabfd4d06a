#include "audio/wavinfo.h"

#include <QFile>
#include <QtEndian>

namespace {

quint32 le32(const char *p)
{
    return qFromLittleEndian<quint32>(reinterpret_cast<const uchar *>(p));
}

quint16 le16(const char *p)
{
    return qFromLittleEndian<quint16>(reinterpret_cast<const uchar *>(p));
}

// Walks the chunks of bytes, a prefix of a file of fileSize bytes.
WavInfo parse(const QByteArray &bytes, qint64 fileSize)
{
    WavInfo info;
    if (bytes.size() < 12 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WAVE")
        return info;
    bool haveFormat = false;
    qint64 pos = 12;
    while (pos + 8 <= bytes.size()) {
        const char *chunk = bytes.constData() + pos;
        const QByteArray id(chunk, 4);
        const qint64 size = le32(chunk + 4);
        const qint64 body = pos + 8;
        if (id == "fmt ") {
            if (size < 16 || body + 16 > bytes.size())
                return info;
            const char *f = bytes.constData() + body;
            info.formatTag = le16(f);
            info.channels = le16(f + 2);
            info.sampleRate = int(le32(f + 4));
            info.bitsPerSample = le16(f + 14);
            haveFormat = true;
        } else if (id == "data") {
            // A header left unfinished (0xFFFFFFFF) or a cut-off file holds less than it says.
            info.dataOffset = body;
            info.dataBytes = qBound<qint64>(0, size, fileSize - body);
            info.valid = haveFormat;
            return info;
        }
        pos = body + size + (size & 1);
    }
    return info;
}

} // namespace

qint64 WavInfo::frames() const
{
    const int frameBytes = channels * (bitsPerSample / 8);
    return frameBytes > 0 ? dataBytes / frameBytes : 0;
}

bool WavInfo::isPcm16kMono() const
{
    return valid && formatTag == 1 && channels == 1 && sampleRate == 16000 && bitsPerSample == 16;
}

WavInfo WavInfo::fromBytes(const QByteArray &bytes)
{
    return parse(bytes, bytes.size());
}

WavInfo WavInfo::fromFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return WavInfo();
    // The chunks before "data" (format, ffmpeg's "LIST") are small.
    return parse(file.read(4096), file.size());
}
