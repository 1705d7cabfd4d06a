#pragma once

#include <QLabel>
#include <QPoint>
#include <QString>
#include <QStringList>

#include <memory>

#include "asr/jobsettings.h"
#include "ui/mylistwidget.h"

class QAbstractItemModel;
class QCloseEvent;
class QComboBox;
class QDragEnterEvent;
class QDropEvent;
class QListWidgetItem;
class QMouseEvent;
class QPushButton;
class QStandardItemModel;
class QAction;
class QTextEdit;
class QTimer;
class LibraryPane;
class LiveText;
class LiveTranscriber;
class PlayerBar;
class RecorderBar;
class TaskBar;
class TaskList;
class TitleBar;
class TranscriptPane;
class TranscriptionJob;

// The one window of the program. It shows and wires; the work is done by objects of the core
// library that it owns: the transcription job (asr/transcriptionjob.h), with its audio steps
// and access token, and the task list it reads (core/tasklist.h). Its strips are panes with
// state of their own: the library pane (ui/librarypane.h), the recorder bar (ui/recorderbar.h),
// the player bar (ui/playerbar.h), the task bar (ui/taskbar.h) and the transcript pane
// (ui/transcriptpane.h). Its code is split by concern:
//   ui/widget_construction.cpp   building the window and wiring it
//   ui/widget_frame.cpp          lists shown/hidden, maximise, drag, home page, exit
//   ui/widget_library.cpp        the library's delete/rename/save as, kept in step everywhere
//   ui/widget_textpane.cpp       the transcript pane wired to the library, the job and player
//   ui/widget_recording.cpp      where a finished recording goes
//   ui/widget_tasklist.cpp       the task list (upload, add, clear, drops)
//   ui/widget_playback.cpp       which task file the player plays
//   ui/widget_job.cpp            the job's slots and what the window shows of it
//   ui/widget_service.cpp        the local speech service started for the job
//   ui/widget_live.cpp           live text of a recording (ui/livetext.h) wired to the window
class Widget : public QLabel
{
    Q_OBJECT
    Q_DISABLE_COPY(Widget)

public:
    Widget();
    ~Widget() override;

    // Library operations on the entry named name of the audio list ("wav") or the transcript
    // list ("word"); any other kind does nothing.
    void delFile(QString kind, QString name);
    void renameFile(QString kind, QString name);
    void saveAsFile(QString kind, QString name);
    // "导出字幕" of a transcript in the library.
    void exportTranscriptSubtitles(const QString &name);

    // Seams for tests: where the speech service is, and how long its requests may take.
    void setServiceBaseUrl(const QString &url);
    void setTokenTimeoutMs(int ms);
    void setRecognitionTimeoutMs(int ms);
    // Shorter segments and back-off waits for tests; users keep 59 s and real seconds.
    void setSegmentSeconds(int seconds);
    void setBackoffScale(double scale);
    // Replaces the platform's capture input of the recording command (machines without a
    // microphone).
    void setCaptureInputOverride(const QStringList &args);

    TranscriptionJob *transcriptionJob() const { return job.get(); }
    // The job of "重新识别所选内容", for tests.
    class PassageRecogniser *passageRecogniser() const { return passage; }
    // The live transcription of a recording made with "实时转写" on.
    LiveTranscriber *liveTranscriber() const;
    // Whether the window proves (and starts, when nothing answers) the local speech service at
    // its address: by default only at the built-in address. Tests that need "no service" turn
    // it off.
    void setServiceAutoStart(bool on) { serviceAutoStartOverride = on ? 1 : 0; }
    // Starts and ends the local speech service for the window; made on first use.
    class SpeechServiceStarter *serviceStarter();

    // Audio and video files from outside (dropped, given on the command line, handed over by a
    // second start) join the task list as "上传文件" adds them; anything else is ignored.
    void addOutsideFiles(const QStringList &paths);
    // Shows the window in front of the others (a second start handed files over).
    void bringToFront();

    // The task box's entries, one file name a row, in the order the box shows them.
    const QAbstractItemModel *taskModel() const;

    // Read only, for tests: what the window shows only through its effects.
    // The files behind the audio list's and the transcript list's entries.
    const QStringList &audioPaths() const;
    const QStringList &transcriptPaths() const;
    // The transcript the text pane is bound to ("关闭文档" saves there); empty when none.
    const QString &openTranscript() const;
    // The panes, for the features that attach to them.
    TranscriptPane *transcriptPane() const { return transcript; }
    LibraryPane *libraryPane() const { return library; }
    PlayerBar *playerPane() const { return playerBar; }
    // The file the last recording went to.
    const QString &recordingFile() const;
    // The file "播放" resumes; empty or stale when it loads the chosen entry afresh.
    const QString &playbackFile() const;
    // Whether "播放" resumes playbackFile rather than loading the chosen entry.
    bool playbackLoaded() const;

protected:
    // Every way of closing (title bar, window manager, close()) ends the job and a recording.
    void closeEvent(QCloseEvent *event) override;
    // Dragging the window (ui/titlebar.h).
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Made first: the window's handlers reach it until the very end.
    std::unique_ptr<TranscriptionJob> job;

    // ---- window: construction, frame, library, text pane ----
    void setUpWindow();
    void buildHeader();
    void buildLeftPane();
    void buildRightPane();
    void buildToolStrip();
    void buildTaskStrip();
    void buildTextPane();
    void createWorkers();
    void createFoldersAndLists();
    void placeStrips();
    void slotShowMaxSize();
    void slotClose();
    void showHomePage();
    // While a job runs, audio files and the job's own transcript stay as they are: tells the
    // user and returns true when touching this library entry is refused.
    bool refusedWhileJobRuns(bool audio, const QString &path);
    // What the library lists' menus ask for (delFile, renameFile, saveAsFile with a typed kind).
    void deleteEntry(MyListWidget::Kind kind, const QString &name);
    void renameEntry(MyListWidget::Kind kind, const QString &name);
    void saveEntryAs(MyListWidget::Kind kind, const QString &name);
    // The name the user typed for renameFile (empty when none will be used).
    QString askNewName(const QString &name);
    // Ends the job and a recording before the window goes; idempotent.
    void endWork();
    // A transcript of the library into the pane (refused while a job runs).
    void slotWordOpen(const QString &path);
    void slotCloseWord();
    // The transcript pane follows the job: its text, its times, the transcript it is bound to.
    void connectTranscriptPane();
    // "重新识别所选内容" (ui/widget_passage.cpp): the editor's passage through a job of its own.
    void connectPassage();
    void recognisePassage(const QString &source, qint64 fromMs, qint64 toMs);
    class PassageRecogniser *passage = nullptr;
    // Search, and the job on the desktop (ui/widget_search.cpp).
    void setUpSearch();
    void openSearchResult(const QString &path, int line, qint64 startMs);
    class LibraryIndex *searchIndex = nullptr;
    class TranscriptSearch *transcriptSearch = nullptr;
    // ---- end window ----

    // ---- audio: devices, recording, the task list and playback ----
    // Enables or disables the task-list controls that would pull the front file from under a job.
    void setTaskControlsEnabled(bool enabled);
    // A finished recording joins the audio list and the task list.
    void addRecording(const QString &path);
    void addToTaskFront(const QString &path);
    // The dropped audio and video files of a drag, as absolute paths.
    static QStringList droppedMediaFiles(const class QMimeData *data);
    // "上传文件": files chosen in the open dialog join the task list.
    void slotLoadWav();
    // "+": the audio list's selected files join the task list.
    void slotAddWav();
    // "清空列表": empties the task list (unless a job runs).
    void slotOpenWav();
    // "播放": the chosen task file, or a notice when there is none.
    void slotPlay();
    // ---- end audio ----

    // ---- the job as the window shows it ----
    bool jobRunning() const;
    // Buttons follow the job: Idle when it stops, Running while it runs.
    void showJobRunning(bool running);
    void connectJob();
    void showFileStarted(const QString &transcriptPath);
    void showNotice(const QString &message);
    void slotBeginCover();
    void slotStopCover();
    // Whether a job at this address goes through the local service's proof (and start).
    bool usesLocalService(const QString &chosenUrl) const;
    // The starter of the service at chosenUrl when the window starts it; null otherwise.
    class SpeechServiceStarter *starterFor(const QString &chosenUrl);
    // What a job (and live text) is asked with, before the saved service settings.
    JobSettings jobSettings() const;
    // ---- end job ----

    // ---- live text of a recording (ui/widget_live.cpp) ----
    void buildLive();
    // A live recording, or its text still on its way: the pane is taken.
    bool liveBusy() const;
    void beginLive(const QString &recording);
    LiveText *live = nullptr;
    // ---- end live ----

    // Members, in the order the window declares them.
    TitleBar *titleBar = nullptr;
    // The left pane: both library lists with the paths behind their entries.
    LibraryPane *library = nullptr;
    QLabel *rightPanel = nullptr;
    QLabel *toolBar = nullptr;
    RecorderBar *recorderBar = nullptr;
    PlayerBar *playerBar = nullptr;
    TaskBar *taskBar = nullptr;
    // The task files, which the task box shows and the job reads.
    TaskList *taskFiles = nullptr;
    TranscriptPane *transcript = nullptr;
    // The transcript pane's editor.
    QTextEdit *textEdit = nullptr;

    // What every job of the window starts from: the built-in service's address and the
    // usual time limits, which tests change through the seams above.
    JobSettings jobDefaults;
    int serviceAutoStartOverride = -1;
    class SpeechServiceStarter *speechServiceStarter = nullptr;
};
