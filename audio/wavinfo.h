#pragma once

#include <QByteArray>
#include <QString>

// What a RIFF/WAVE header says about the audio that follows it.
struct WavInfo
{
    bool valid = false;
    int formatTag = 0; // 1: integer PCM
    int channels = 0;
    int sampleRate = 0;
    int bitsPerSample = 0;
    // Where the samples begin, and how many bytes of them are really in the file.
    qint64 dataOffset = 0;
    qint64 dataBytes = 0;

    qint64 frames() const;
    bool isPcm16kMono() const;

    static WavInfo fromBytes(const QByteArray &bytes);
    // Reads only the header, however long the file is.
    static WavInfo fromFile(const QString &path);
};
