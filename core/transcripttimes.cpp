#include "core/transcripttimes.h"
#include "core/wholefile.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace TranscriptTimesRules {

namespace {

const int formatVersion = 1;

QJsonArray utterancesJson(const TimedUtterances &utterances)
{
    QJsonArray list;
    for (const TimedUtterance &utterance : utterances) {
        QJsonArray words;
        for (const TimedWord &word : utterance.words)
            words.append(QJsonObject { { QStringLiteral("start_ms"), word.startMs },
                { QStringLiteral("end_ms"), word.endMs }, { QStringLiteral("text"), word.text } });
        list.append(QJsonObject { { QStringLiteral("start_ms"), utterance.startMs },
            { QStringLiteral("end_ms"), utterance.endMs },
            { QStringLiteral("text"), utterance.text }, { QStringLiteral("words"), words } });
    }
    return list;
}

bool readTimes(const QJsonValue &value, qint64 *start, qint64 *end, QString *text)
{
    const QJsonObject object = value.toObject();
    if (!value.isObject() || !object.value(QStringLiteral("start_ms")).isDouble()
        || !object.value(QStringLiteral("end_ms")).isDouble()
        || !object.value(QStringLiteral("text")).isString())
        return false;
    // Past 2^53 ms (285 000 years) a number no longer holds every millisecond, and past
    // qint64's range it has no value as one: such a file is not a sidecar of this program's.
    const double maxMs = 9007199254740992.0;
    const double startMs = object.value(QStringLiteral("start_ms")).toDouble();
    const double endMs = object.value(QStringLiteral("end_ms")).toDouble();
    if (!(startMs >= 0 && endMs >= startMs && endMs <= maxMs))
        return false;
    *start = qint64(startMs);
    *end = qint64(endMs);
    *text = object.value(QStringLiteral("text")).toString();
    return true;
}

// Present at all, a link pointing nowhere included: exists() alone follows links.
bool isPresent(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

} // namespace

QString sidecarPath(const QString &transcriptPath)
{
    const QFileInfo info(transcriptPath);
    return info.path() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".times.json");
}

QByteArray serialize(const TranscriptTimes &times)
{
    QJsonArray paragraphs;
    for (const TimedParagraph &paragraph : times.paragraphs)
        paragraphs.append(QJsonObject { { QStringLiteral("text"), paragraph.text },
            { QStringLiteral("utterances"), utterancesJson(paragraph.utterances) } });
    const QJsonObject root { { QStringLiteral("version"), formatVersion },
        { QStringLiteral("source"), times.source }, { QStringLiteral("paragraphs"), paragraphs } };
    return QJsonDocument(root).toJson();
}

bool parse(const QByteArray &bytes, TranscriptTimes *times)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    const QJsonObject root = document.object();
    if (error.error != QJsonParseError::NoError || !document.isObject()
        || root.value(QStringLiteral("version")).toInt() != formatVersion
        || !root.value(QStringLiteral("source")).isString()
        || !root.value(QStringLiteral("paragraphs")).isArray())
        return false;
    TranscriptTimes read;
    read.source = root.value(QStringLiteral("source")).toString();
    for (const QJsonValue &entry : root.value(QStringLiteral("paragraphs")).toArray()) {
        const QJsonObject object = entry.toObject();
        if (!object.value(QStringLiteral("text")).isString()
            || !object.value(QStringLiteral("utterances")).isArray())
            return false;
        TimedParagraph paragraph;
        paragraph.text = object.value(QStringLiteral("text")).toString();
        for (const QJsonValue &item : object.value(QStringLiteral("utterances")).toArray()) {
            TimedUtterance utterance;
            if (!readTimes(item, &utterance.startMs, &utterance.endMs, &utterance.text))
                return false;
            for (const QJsonValue &w : item.toObject().value(QStringLiteral("words")).toArray()) {
                TimedWord word;
                if (!readTimes(w, &word.startMs, &word.endMs, &word.text))
                    return false;
                utterance.words.append(word);
            }
            paragraph.utterances.append(utterance);
        }
        read.paragraphs.append(paragraph);
    }
    *times = read;
    return true;
}

MatchedTimes match(const QString &text, const QVector<TimedParagraph> &paragraphs)
{
    MatchedTimes matched;
    int next = 0;
    for (const QString &rawLine : text.split(QLatin1Char('\n'))) {
        const QString line = rawLine.trimmed();
        if (line.isEmpty())
            continue;
        int found = -1;
        for (int i = next; i < paragraphs.size() && found < 0; ++i)
            if (paragraphs[i].text.trimmed() == line)
                found = i;
        if (found < 0 || paragraphs[found].utterances.isEmpty()) {
            ++matched.linesWithoutTimes;
            continue;
        }
        matched.utterances += paragraphs[found].utterances;
        next = found + 1;
    }
    return matched;
}

QVector<qint64> lineStarts(const QString &text, const QVector<TimedParagraph> &paragraphs)
{
    QVector<qint64> starts;
    int next = 0;
    for (const QString &rawLine : text.split(QLatin1Char('\n'))) {
        const QString line = rawLine.trimmed();
        qint64 start = -1;
        for (int i = next; !line.isEmpty() && i < paragraphs.size(); ++i) {
            if (paragraphs[i].text.trimmed() != line)
                continue;
            if (!paragraphs[i].utterances.isEmpty()) {
                start = paragraphs[i].utterances.first().startMs;
                next = i + 1;
            }
            break;
        }
        starts.append(start);
    }
    return starts;
}

bool save(const QString &transcriptPath, const TranscriptTimes &times)
{
    return WholeFile::write(sidecarPath(transcriptPath), serialize(times));
}

bool load(const QString &transcriptPath, TranscriptTimes *times)
{
    QFile file(sidecarPath(transcriptPath));
    return file.open(QIODevice::ReadOnly) && parse(file.readAll(), times);
}

int followSourceRename(
    const QStringList &transcriptPaths, const QString &oldSource, const QString &newSource)
{
    int rewritten = 0;
    for (const QString &transcript : transcriptPaths) {
        TranscriptTimes times;
        if (load(transcript, &times) && times.source == oldSource) {
            times.source = newSource;
            rewritten += save(transcript, times) ? 1 : 0;
        }
    }
    return rewritten;
}

bool followRename(const QString &oldTranscriptPath, const QString &newTranscriptPath)
{
    const QString from = sidecarPath(oldTranscriptPath);
    const QString to = sidecarPath(newTranscriptPath);
    if (from == to)
        return true;
    if (!isPresent(from))
        return removeFor(newTranscriptPath);
    // One step that replaces the target: a reader never finds the new name without times.
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

bool removeFor(const QString &transcriptPath)
{
    const QString path = sidecarPath(transcriptPath);
    return !isPresent(path) || QFile::remove(path);
}

} // namespace TranscriptTimesRules
