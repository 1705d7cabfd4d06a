#pragma once

#include <QString>
#include <QStringList>

// Argument lists of every ffmpeg run. Each path or device name is one argument of its own,
// so blanks, quotes and non-ASCII characters reach ffmpeg untouched.
namespace FfmpegArgs {

// Length of one segment in seconds, as users have it; a job may be given another length.
constexpr int segmentSeconds = 59;

// Raw PCM has no header for ffmpeg to probe: it is read as 16 kHz mono 16-bit little-endian.
bool isRawPcm(const QString &path);
QStringList inputOptions(const QString &path);

// pipeSamples: the same audio also goes to standard output as raw 16 kHz mono 16-bit samples
// (for live transcription), from the one capture, so the file is written as without it.
QStringList recording(
    const QStringList &captureInput, const QString &outputFile, bool pipeSamples = false);
// With fromMs > 0 or toMs >= 0 only that span of the source is converted; the seek is on the
// input, which ffmpeg makes exact by decoding from the seek point before it.
QStringList conversion(
    const QString &source, const QString &target, qint64 fromMs = 0, qint64 toMs = -1);
QStringList probe(const QString &file);
// The last segment runs to the end of the file, so a fraction of a second past the last whole
// second is not dropped.
QStringList cut(const QString &file, int startSecond, const QString &outputFile, bool last = false,
    int length = segmentSeconds);

// Where the converted copy of a task file goes: beside it, named "<base>_16k.wav".
QString convertedPath(const QString &source);

// Segments cover the file without gap: segment k starts at second length × k (59 × k).
int segmentCount(int seconds, int length = segmentSeconds);
int segmentStart(int index, int length = segmentSeconds);
QString segmentPath(const QString &appDir, int index);
// Segment index of a job whose segments go to folder: "<folder>/<index>.wav".
QString segmentFile(const QString &folder, int index);
// The second where a segment ends: length (59) s after its start, or the end of the audio.
int segmentEnd(int index, int seconds, int length = segmentSeconds);

} // namespace FfmpegArgs
