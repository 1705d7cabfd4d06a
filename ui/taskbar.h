#pragma once

#include <QLabel>
#include <QString>

class QComboBox;
class QPushButton;
class TaskList;

// The task strip: "上传文件", the task box over the task list, the language, "清空列表", start
// and stop of the job, "关闭文档". It shows and asks; its owner does the work.
class TaskBar final : public QLabel
{
    Q_OBJECT
    Q_DISABLE_COPY(TaskBar)

public:
    TaskBar(TaskList *tasks, QWidget *parent);

    // Lays the strip out for the right pane's width ("关闭文档" keeps to the right edge).
    void place(int width);

    // The language item chosen for the recognition request ("英文", ...).
    QString language() const;
    // The file behind the box's current entry; the front file when none is chosen.
    QString chosenPath() const;
    void choose(int row);

    // The controls that would pull the front file from under a job.
    void setTaskControlsEnabled(bool enabled);
    // Start and stop follow the job; "关闭文档" comes back when it stops.
    void showJobRunning(bool running);
    // The start button doubles as the job's progress ("转写:33.3%", ...).
    void showStatus(const QString &text);
    void setCloseDocEnabled(bool enabled);

signals:
    void uploadClicked();
    void clearClicked();
    void startClicked();
    void stopClicked();
    void closeDocClicked();
    // Each change of the current entry, with the text it shows.
    void chosenChanged(const QString &text);

private:
    TaskList *tasks;
    QPushButton *uploadButton = nullptr;
    QComboBox *taskFileCombo = nullptr;
    QComboBox *languageCombo = nullptr;
    QPushButton *clearListButton = nullptr;
    QPushButton *startConvertButton = nullptr;
    QPushButton *stopConvertButton = nullptr;
    QPushButton *closeDocButton = nullptr;
};
