#include "ui/widget.h"

#include "core/tasklist.h"
#include "ui/librarypane.h"
#include "ui/recorderbar.h"
#include "ui/taskbar.h"

#include <QPushButton>

void Widget::setCaptureInputOverride(const QStringList &args)
{
    recorderBar->setCaptureInputOverride(args);
}

const QString &Widget::recordingFile() const
{
    return recorderBar->file();
}

void Widget::addRecording(const QString &path)
{
    library->addRecording(path);
    // A running job works on the front entry; the recording queues right behind it.
    taskBar->choose(taskFiles->addRecording(path, jobRunning() && !taskFiles->isEmpty() ? 1 : 0));
}
