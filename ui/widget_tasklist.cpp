#include "ui/widget.h"

#include "app/filenames.h"
#include "ui/dialogs.h"
#include "ui/mylistwidget.h"

#include <QComboBox>
#include <QIcon>
#include <QPushButton>

void Widget::setTaskControlsEnabled(bool enabled)
{
    uploadButton->setEnabled(enabled);
    addTaskButton->setEnabled(enabled);
    clearListButton->setEnabled(enabled);
}

void Widget::addToTaskFront(const QString &path, const QString &boxText)
{
    if (path.isEmpty() || taskFiles.contains(path))
        return;
    taskFiles.prepend(path);
    taskFileCombo->insertItem(taskFileCombo->count(), QIcon(), boxText, QVariant());
}

void Widget::slotOpenWav()
{
    // The running job's front file must stay where it is.
    if (jobRunning())
        return;
    taskFiles.clear();
    taskFileCombo->clear();
}

void Widget::slotAddWav()
{
    if (jobRunning())
        return;
    const QList<QListWidgetItem *> items = wavList->selectedItems();
    for (const QListWidgetItem *item : items)
        addToTaskFront(FileNames::firstPathNamed(wavFiles, item->text()), item->text());
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
        addToTaskFront(path, FileNames::fileName(path));
    }
}
