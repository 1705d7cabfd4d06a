#pragma once

#include <QMetaType>
#include <QString>
#include <QVector>

// A recognised word with its time, in milliseconds from the start of the audio it was heard in
// (a request's segment while a reply is read, the whole file once the job has placed it).
struct TimedWord
{
    qint64 startMs = 0;
    qint64 endMs = 0;
    QString text;
};

// One utterance as the service heard it: its time, its text and, where the service gives
// them, its words.
struct TimedUtterance
{
    qint64 startMs = 0;
    qint64 endMs = 0;
    QString text;
    QVector<TimedWord> words;
};

using TimedUtterances = QVector<TimedUtterance>;
Q_DECLARE_METATYPE(TimedUtterances)
