#include "ui/widget.h"

#include "core/tasklist.h"

#include "audio/mediafiles.h"
#include "core/filenames.h"
#include "ui/dialogs.h"
#include "ui/librarypane.h"
#include "ui/taskbar.h"

#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QIcon>
#include <QMimeData>
#include <QPushButton>
#include <QTextEdit>
#include <QUrl>

void Widget::setTaskControlsEnabled(bool enabled)
{
    taskBar->setTaskControlsEnabled(enabled);
    library->setAddEnabled(enabled);
}

void Widget::addToTaskFront(const QString &path)
{
    taskFiles->add(path);
}

void Widget::slotOpenWav()
{
    // The running job's front file must stay where it is.
    if (jobRunning())
        return;
    taskFiles->clear();
}

void Widget::slotAddWav()
{
    if (jobRunning())
        return;
    for (const QString &path : library->selectedAudioPaths())
        addToTaskFront(path);
}

void Widget::slotLoadWav()
{
    if (jobRunning())
        return;
    const QStringList chosen
        = Dialogs::current().openFileNames(nullptr, QStringLiteral("打开"), QString(),
            QStringLiteral("Audio Files(*.pcm;*.wav;*.amr;*.wma;*.mp3;*.m4a;*.aac);;"
                           "Video Files(*.mp4;*.3gp);;All Files(*.*)"));
    for (const QString &picked : chosen) {
        const QString path = FileNames::withSlashes(picked);
        addToTaskFront(path);
    }
}

void Widget::addOutsideFiles(const QStringList &paths)
{
    const QStringList files = MediaFiles::existingMediaFiles(paths);
    if (files.isEmpty())
        return;
    // Added while a job runs they would go to the front, under the file being transcribed.
    if (jobRunning()) {
        Dialogs::current().information(
            this, QStringLiteral("提示"), QStringLiteral("正在转换，请稍后再添加文件！"));
        return;
    }
    for (const QString &path : files)
        addToTaskFront(path);
}

QStringList Widget::droppedMediaFiles(const QMimeData *data)
{
    if (!data || !data->hasUrls())
        return QStringList();
    QStringList paths;
    for (const QUrl &url : data->urls()) {
        if (url.isLocalFile())
            paths.append(FileNames::withSlashes(QDir::cleanPath(url.toLocalFile())));
    }
    return MediaFiles::existingMediaFiles(paths);
}

void Widget::dragEnterEvent(QDragEnterEvent *event)
{
    if (droppedMediaFiles(event->mimeData()).isEmpty())
        event->ignore();
    else
        event->acceptProposedAction();
}

void Widget::dropEvent(QDropEvent *event)
{
    const QStringList files = droppedMediaFiles(event->mimeData());
    if (files.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    addOutsideFiles(files);
}

bool Widget::eventFilter(QObject *watched, QEvent *event)
{
    // The text pane would paste a dropped file's address into the transcript: files dropped
    // there join the task list like anywhere else on the window; dragged text stays the pane's.
    if (textEdit && watched == textEdit->viewport()) {
        if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
            auto *drag = static_cast<QDragMoveEvent *>(event);
            if (!droppedMediaFiles(drag->mimeData()).isEmpty()) {
                drag->acceptProposedAction();
                return true;
            }
        } else if (event->type() == QEvent::Drop) {
            auto *drop = static_cast<QDropEvent *>(event);
            if (!droppedMediaFiles(drop->mimeData()).isEmpty()) {
                dropEvent(drop);
                return true;
            }
        }
    }
    return QLabel::eventFilter(watched, event);
}
