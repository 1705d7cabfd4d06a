#pragma once

#include <QLabel>
#include <QString>
#include <QStringList>

#include "core/librarylist.h"
#include "ui/mylistwidget.h"

class QPushButton;

// The left pane ("leftPanel"): the audio list and the transcript list under their checkable
// headers, and "添加到任务". It keeps each list's paths in step with the names it shows, and
// asks its owner, by its signals, to carry out what the user chose.
class LibraryPane final : public QLabel
{
    Q_OBJECT
    Q_DISABLE_COPY(LibraryPane)

public:
    using Kind = MyListWidget::Kind;

    explicit LibraryPane(QWidget *window);

    // Fills both lists from the library folders.
    void load(const QString &audioFolder, const QString &transcriptFolder);
    // Lays the pane out at geometry, sharing the new height out between the shown lists.
    void place(const QRect &geometry);

    const QStringList &audioPaths() const { return audio.paths(); }
    const QStringList &transcriptPaths() const { return transcripts.paths(); }
    // The file behind an entry's name; empty when the list has none of that name.
    QString pathNamed(Kind kind, const QString &name) const;
    // The files of the audio entries the user selected, in the order the list gives them.
    QStringList selectedAudioPaths() const;

    // A finished recording: appended to the audio list, which is shown.
    void addRecording(const QString &path);
    // A transcript the job begins joins the list unless it is there already.
    void addTranscript(const QString &path);
    void removeEntry(Kind kind, const QString &name, const QString &path);
    // The entry named name now lies at newPath: it keeps its path's place, its name goes last.
    void renameEntry(Kind kind, const QString &name, const QString &path, const QString &newPath);
    // "添加到任务" would pull the front file from under a job.
    void setAddEnabled(bool enabled);

signals:
    // A transcript was double-clicked (its path; empty when the list lost it).
    void openRequested(const QString &path);
    void addToTasksClicked();
    // From the lists' menus, with the entry's name as the list shows it.
    void deleteRequested(MyListWidget::Kind kind, const QString &name);
    void renameRequested(MyListWidget::Kind kind, const QString &name);
    void saveAsRequested(MyListWidget::Kind kind, const QString &name);
    void exportSubtitlesRequested(const QString &name);

private:
    void buildHeaders();
    void buildLists();
    void layOut();
    // Space for the lists: the pane minus both header buttons.
    int listSpace() const;
    // A header checked or unchecked: its list is shown or hidden, the space shared out again.
    void showList(MyListWidget *list, MyListWidget *other, bool checked);
    MyListWidget *listOf(Kind kind) const;
    LibraryList &entriesOf(Kind kind);

    QPushButton *wavListButton = nullptr;
    QPushButton *addTaskButton = nullptr;
    QPushButton *txtListButton = nullptr;
    MyListWidget *wavList = nullptr;
    MyListWidget *txtList = nullptr;
    LibraryList audio;
    LibraryList transcripts;
};
