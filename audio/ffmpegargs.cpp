#include "audio/ffmpegargs.h"

#include "core/programlayout.h"

#include "core/filenames.h"

namespace FfmpegArgs {

bool isRawPcm(const QString &path)
{
    return FileNames::suffix(path).toLower() == QLatin1String("pcm");
}

QStringList inputOptions(const QString &path)
{
    QStringList args;
    if (isRawPcm(path))
        args << QStringLiteral("-f") << QStringLiteral("s16le") << QStringLiteral("-ar")
             << QStringLiteral("16000") << QStringLiteral("-ac") << QStringLiteral("1");
    args << QStringLiteral("-i") << path;
    return args;
}

QStringList recording(const QStringList &captureInput, const QString &outputFile, bool pipeSamples)
{
    QStringList args = QStringList(captureInput)
        << QStringLiteral("-ar") << QStringLiteral("16000") << QStringLiteral("-ac")
        << QStringLiteral("1") << outputFile;
    if (pipeSamples)
        args << QStringLiteral("-f") << QStringLiteral("s16le") << QStringLiteral("-ar")
             << QStringLiteral("16000") << QStringLiteral("-ac") << QStringLiteral("1")
             << QStringLiteral("pipe:1");
    return args;
}

QStringList conversion(const QString &source, const QString &target, qint64 fromMs, qint64 toMs)
{
    const auto seconds = [](qint64 ms) { return QString::number(double(ms) / 1000.0, 'f', 3); };
    QStringList args { QStringLiteral("-y") };
    if (fromMs > 0)
        args << QStringLiteral("-ss") << seconds(fromMs);
    if (toMs >= 0)
        args << QStringLiteral("-to") << seconds(toMs);
    return args << inputOptions(source) << QStringLiteral("-acodec") << QStringLiteral("pcm_s16le")
                << QStringLiteral("-ac") << QStringLiteral("1") << QStringLiteral("-ar")
                << QStringLiteral("16000") << target;
}

QStringList probe(const QString &file)
{
    return inputOptions(file);
}

QStringList cut(
    const QString &file, int startSecond, const QString &outputFile, bool last, int length)
{
    QStringList args = inputOptions(file) << QStringLiteral("-acodec") << QStringLiteral("copy")
                                          << QStringLiteral("-ss") << QString::number(startSecond);
    if (!last)
        args << QStringLiteral("-t") << QString::number(length);
    return args << outputFile;
}

QString convertedPath(const QString &source)
{
    return FileNames::withoutSuffix(source) + QStringLiteral("_16k.wav");
}

int segmentCount(int seconds, int length)
{
    if (seconds <= 0 || length <= 0)
        return 0;
    return seconds / length + (seconds % length != 0 ? 1 : 0);
}

int segmentStart(int index, int length)
{
    return length * index;
}

QString segmentPath(const QString &appDir, int index)
{
    return segmentFile(ProgramLayout::segmentFolder(appDir), index);
}

QString segmentFile(const QString &folder, int index)
{
    return folder + QStringLiteral("/%1.wav").arg(index);
}

int segmentEnd(int index, int seconds, int length)
{
    const int start = segmentStart(index, length);
    return qMin(start + length, qMax(seconds, start));
}

} // namespace FfmpegArgs
