#pragma once

#include <QObject>

class DesktopNotices;
class JobProgressBar;
class QWidget;
class TaskList;
class TranscriptionJob;

// What the desktop shows of a running job besides the start button: the progress bar under the
// task strip, the progress on the program's launcher, and a notice of how the job ended when
// the window is not the active one then. Activating the notice asks for the window.
class JobOnDesktop final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(JobOnDesktop)

public:
    // The bar is placed under strip, in strip's parent; window is the one the notice raises.
    JobOnDesktop(TranscriptionJob *job, const TaskList *tasks, QWidget *strip, QWidget *window);

signals:
    // The user activated a notice.
    void activated();

private:
    void follow(TranscriptionJob *job);
    void notifyEnd(bool succeeded);

    const TaskList *tasks;
    QWidget *window;
    JobProgressBar *bar;
    DesktopNotices *desktop;
    // Files the running job has written.
    int filesDone = 0;
};
