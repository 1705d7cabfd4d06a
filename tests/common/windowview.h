#pragma once

// The window as a user meets it: its widgets by object name, the task box's model, the job it
// runs. A widget the window does not have ends the test program at once, naming what was
// looked up, rather than crashing somewhere later.
#include <QAbstractItemModel>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QTextEdit>
#include <QTimer>

#include <phonon/MediaObject>

#include "asr/accesstoken.h"
#include "asr/qthttpclass.h"
#include "asr/transcriptionjob.h"
#include "audio/audiosteps.h"
#include "audio/recorder.h"
#include "ui/mylistwidget.h"
#include "ui/widget.h"

namespace View {

template <typename T> T *find(const Widget &w, const char *name)
{
    T *child = w.findChild<T *>(QLatin1String(name));
    if (!child)
        qFatal("the window has no %s named \"%s\"", T::staticMetaObject.className(), name);
    return child;
}

inline QPushButton *button(const Widget &w, const char *name)
{
    return find<QPushButton>(w, name);
}

inline QComboBox *combo(const Widget &w, const char *name)
{
    return find<QComboBox>(w, name);
}

inline QLabel *label(const Widget &w, const char *name)
{
    return find<QLabel>(w, name);
}

// "wavList" (the audio files) or "txtList" (the transcripts).
inline MyListWidget *list(const Widget &w, const char *name)
{
    return find<MyListWidget>(w, name);
}

inline QTextEdit *textPane(const Widget &w)
{
    return find<QTextEdit>(w, "textEdit");
}

inline QStringList itemTexts(const QListWidget *list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text();
    return texts;
}

// The task box's entries as the box shows them.
inline QStringList taskTexts(const Widget &w)
{
    const QAbstractItemModel *model = w.taskModel();
    QStringList texts;
    for (int row = 0; row < model->rowCount(); ++row)
        texts << model->index(row, 0).data().toString();
    return texts;
}

// The files the job will transcribe, the front one first.
inline QStringList taskQueue(const Widget &w)
{
    return w.transcriptionJob()->taskList()->paths();
}

// Picks the input device in the device box; an empty name leaves the box without one.
inline void chooseDevice(const Widget &w, const QString &name)
{
    QComboBox *box = combo(w, "deviceCombo");
    box->clear();
    if (!name.isEmpty())
        box->addItem(name);
}

inline Recorder *recorder(const Widget &w)
{
    Recorder *r = w.findChild<Recorder *>();
    if (!r)
        qFatal("the window has no recorder");
    return r;
}

inline QProcess *recordProcess(const Widget &w)
{
    return recorder(w)->process();
}

inline QTimer *recordClock(const Widget &w)
{
    return find<QTimer>(w, "recordTimer");
}

inline Phonon::MediaObject *player(const Widget &w)
{
    return find<Phonon::MediaObject>(w, "player");
}

// The job's own workers, through the job the window runs.
inline QProcess *convertProcess(const Widget &w)
{
    return w.transcriptionJob()->audioSteps()->convertProcess();
}

inline QProcess *probeProcess(const Widget &w)
{
    return w.transcriptionJob()->audioSteps()->probeProcess();
}

inline QProcess *cutProcess(const Widget &w)
{
    return w.transcriptionJob()->audioSteps()->cutProcess();
}

inline QtHttpClass *http(const Widget &w)
{
    return w.transcriptionJob()->httpClient();
}

inline QString accessToken(const Widget &w)
{
    return w.transcriptionJob()->token().accessToken;
}

} // namespace View
