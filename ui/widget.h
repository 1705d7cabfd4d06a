#pragma once

#include <QLabel>
#include <QPoint>
#include <QString>
#include <QStringList>

#include <memory>

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
class PlayerBar;
class RecorderBar;
class TaskBar;
class TaskList;
class TranscriptionJob;
struct TranscriptTimes;

// The one window of the program. It shows and wires; the work is done by objects of the core
// library that it owns: the transcription job (asr/transcriptionjob.h), with its audio steps
// and access token, and the task list it reads (core/tasklist.h). Its strips are panes with
// state of their own: the recorder bar (ui/recorderbar.h), the player bar (ui/playerbar.h) and
// the task bar (ui/taskbar.h). Its code is split by concern:
//   ui/widget_construction.cpp   building the window and wiring it
//   ui/widget_frame.cpp          lists shown/hidden, maximise, drag, home page, exit
//   ui/widget_library.cpp        folders, library lists, delete/rename/save as
//   ui/widget_textpane.cpp       opening and saving transcripts
//   ui/widget_recording.cpp      where a finished recording goes
//   ui/widget_tasklist.cpp       the task list (upload, add, clear, drops)
//   ui/widget_playback.cpp       which task file the player plays
//   ui/widget_job.cpp            the job's slots and what the window shows of it
//   ui/widget_service.cpp        the local speech service started for the job
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
    // "导出字幕" of a transcript in the library (ui/widget_subtitles.cpp).
    void exportTranscriptSubtitles(const QString &name);

    // Seams for tests: where the speech service is, and how long its requests may take.
    void setServiceBaseUrl(const QString &url) { serviceBaseUrl = url; }
    void setTokenTimeoutMs(int ms) { tokenTimeoutMs = ms; }
    void setRecognitionTimeoutMs(int ms) { recognitionTimeoutMs = ms; }
    // Shorter segments and back-off waits for tests; users keep 59 s and real seconds.
    void setSegmentSeconds(int seconds) { segmentSeconds = seconds; }
    void setBackoffScale(double scale) { backoffScale = scale; }
    // Replaces the platform's capture input of the recording command (machines without a
    // microphone).
    void setCaptureInputOverride(const QStringList &args);

    TranscriptionJob *transcriptionJob() const { return job.get(); }
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
    const QStringList &audioPaths() const { return wavFiles; }
    const QStringList &transcriptPaths() const { return txtFiles; }
    // The transcript the text pane is bound to ("关闭文档" saves there); empty when none.
    const QString &openTranscript() const { return currentTextFile; }
    // The file the last recording went to.
    const QString &recordingFile() const;
    // The file "播放" resumes; empty or stale when it loads the chosen entry afresh.
    const QString &playbackFile() const;
    // Whether "播放" resumes playbackFile rather than loading the chosen entry.
    bool playbackLoaded() const;

protected:
    // Every way of closing (title bar, window manager, close()) ends the job and a recording.
    void closeEvent(QCloseEvent *event) override;
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
    // The library lists' menus and double clicks.
    void connectLibraryLists();
    void buildRightPane();
    void buildToolStrip();
    void buildTaskStrip();
    void buildTextPane();
    void createWorkers();
    void createFoldersAndLists();
    void loadWavList();
    void loadTxtList();
    // Space for the lists in the left pane: the pane minus both header buttons.
    int listSpace() const;
    void placeTitleButtons(int firstX);
    void placeStrips();
    void slotShowMaxSize();
    void slotWavBtnChecked(bool checked);
    void slotTxtBtnChecked(bool checked);
    void slotClose();
    void showHomePage();
    // While a job runs, audio files and the job's own transcript stay as they are: tells the
    // user and returns true when touching this library entry is refused.
    bool refusedWhileJobRuns(bool audio, const QString &path);
    // What the library lists' menus ask for (delFile, renameFile, saveAsFile with a typed kind).
    void deleteEntry(MyListWidget::Kind kind, const QString &name);
    void renameEntry(MyListWidget::Kind kind, const QString &name);
    void saveEntryAs(MyListWidget::Kind kind, const QString &name);
    // The parts of renameFile: the name the user typed (empty when none will be used), and
    // every list and binding moved from the old entry to the renamed one.
    QString askNewName(const QString &name);
    void moveLibraryEntry(
        bool audio, const QString &name, const QString &path, const QString &newPath);
    // Ends the job and a recording before the window goes; idempotent.
    void endWork();
    void slotWordOpen(QListWidgetItem *item);
    void slotCloseWord();
    // ---- end window ----

    // ---- audio: devices, recording, the task list and playback ----
    // Enables or disables the task-list controls that would pull the front file from under a job.
    void setTaskControlsEnabled(bool enabled);
    // A finished recording joins the audio list and the task list.
    void addRecording(const QString &path);
    void addToTaskFront(const QString &path);
    // The dropped audio and video files of a drag, as absolute paths.
    static QStringList droppedMediaFiles(const class QMimeData *data);
    void slotLoadWav();
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
    void appendRecognisedText(const QString &text);
    void showNotice(const QString &message);
    void slotBeginCover();
    void slotStopCover();
    // Whether a job at this address goes through the local service's proof (and start).
    bool usesLocalService(const QString &chosenUrl) const;
    // ---- end job ----

    // Members, in the order the window declares them.
    QLabel *titleBar = nullptr;
    QLabel *leftPanel = nullptr;
    QPushButton *wavListButton = nullptr;
    QPushButton *addTaskButton = nullptr;
    QPushButton *txtListButton = nullptr;
    MyListWidget *wavList = nullptr;
    MyListWidget *txtList = nullptr;
    QLabel *rightPanel = nullptr;
    QLabel *toolBar = nullptr;
    RecorderBar *recorderBar = nullptr;
    PlayerBar *playerBar = nullptr;
    class TranscriptEditor *transcriptEditor = nullptr; // the pane as a timed document
    TaskBar *taskBar = nullptr;
    // The task files, which the task box shows and the job reads.
    TaskList *taskFiles = nullptr;
    QTextEdit *textEdit = nullptr;
    QPushButton *minButton = nullptr;
    QPushButton *maxButton = nullptr;
    QPushButton *closeButton = nullptr;
    QPushButton *homeButton = nullptr;
    bool dragging = false;
    QPoint dragPos;
    QStringList wavFiles;
    QStringList txtFiles;
    QString currentTextFile;

private:
    // Times beside transcripts and subtitles (ui/widget_subtitles.cpp).
    void setupSubtitles();
    // Plays the pane's source from where the line (counted from 0) was said.
    void playFromLine(int line);
    void exportSubtitles(const QString &text, const TranscriptTimes &times, const QString &base);
    // The pane's times are those kept beside the transcript it now shows (none without them).
    void loadPaneTimes(const QString &transcriptPath);
    std::shared_ptr<TranscriptTimes> paneTimes; // the pane's recognised paragraphs and times
    QAction *exportPaneSubtitlesAction = nullptr;

    // Fixed at build time; tests point a window elsewhere with setServiceBaseUrl.
    QString serviceBaseUrl;
    int tokenTimeoutMs = 8000;
    int recognitionTimeoutMs = 120000;
    int segmentSeconds = 59;
    double backoffScale = 1.0;
    int serviceAutoStartOverride = -1;
    class SpeechServiceStarter *speechServiceStarter = nullptr;
};
