#pragma once

#include <QLabel>
#include <QPoint>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <memory>

#include <phonon/AudioOutput>
#include <phonon/MediaObject>
#include <phonon/Path>
#include <phonon/SeekSlider>

class QComboBox;
class QListWidgetItem;
class QMouseEvent;
class QPushButton;
class QTextEdit;
class QTimer;
class MyListWidget;
class QtHttpClass;

// The one window of the program. Its code is split by concern:
//   ui/widget_construction.cpp   building the window and wiring it
//   ui/widget_frame.cpp          lists shown/hidden, maximise, drag, home page, exit
//   ui/widget_library.cpp        folders, library lists, delete/rename/save as
//   ui/widget_textpane.cpp       opening and saving transcripts
//   audio/widget_devices.cpp     input device list
//   audio/widget_recording.cpp   recording and its clock
//   audio/widget_tasklist.cpp    the task list (upload, add, clear)
//   audio/widget_conversion.cpp  conversion to 16 kHz mono WAV
//   audio/widget_cutting.cpp     duration probe and segment cutting
//   audio/widget_playback.cpp    playing the current task file
//   asr/widget_token.cpp         the access token
//   asr/widget_job.cpp           the transcription job
class Widget : public QLabel
{
    Q_OBJECT
    Q_DISABLE_COPY(Widget)

public:
    Widget();
    ~Widget() override;

    // Library operations carried out for MyListWidget.
    void delFile(QString kind, QString name);
    void renameFile(QString kind, QString name);
    void saveAsFile(QString kind, QString name);

    void loadWavList();
    void loadTxtList();
    void clearFolder(QString path);
    void requestAccessToken();
    void delayMsec(int ms);
    static QString formatRecordTime(int seconds);

    // Seams for tests: where the speech service is, and how long its requests may take.
    void setServiceBaseUrl(const QString &url) { serviceBaseUrl = url; }
    void setTokenTimeoutMs(int ms) { tokenTimeoutMs = ms; }
    void setRecognitionTimeoutMs(int ms) { recognitionTimeoutMs = ms; }
    // Replaces the platform's capture input of the recording command (machines without a microphone).
    void setCaptureInputOverride(const QStringList &args) { captureInputOverride = args; }

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

public slots:
    void slotShowMaxSize();
    void slotReadJson(int requestId, QByteArray body);
    void slotReadJsonError(int requestId, QByteArray body);
    void slotOpenWav();
    void slotAudioChanged(QString text);
    void slotPlay();
    void slotClose();
    void slotWavBtnChecked(bool checked);
    void slotTxtBtnChecked(bool checked);
    void slotWordOpen(QListWidgetItem *item);
    void slotBeginRecord(bool checked);
    void sltSetRecordTime();
    void slotBeginCover();
    void slotCloseWord();
    void slotBeginUpload();
    void slotGetAudioLengthFinish();
    void slotAudioDeviceChanged(QString name);
    void slotCutAudioFinish();
    void onReadOutput();
    void convertAudioFormat();
    void slotConvertAudioFormatFinish();
    void getAudioLength();
    void slotForward();
    void slotBackward();
    void slotPause();
    void slotAddWav();
    void sltTokenTimeout();
    void updateCurrentTime();
    void playend();
    void showHomePage();
    void getAudioDev();
    void slotLoadWav();
    void slotStopCover();

public:
    // Members, in the order the window declares them.
    QString playingFile;
    QLabel *titleBar = nullptr;
    QLabel *logoLabel = nullptr;
    QLabel *leftPanel = nullptr;
    QPushButton *uploadButton = nullptr;
    QPushButton *wavListButton = nullptr;
    QPushButton *addTaskButton = nullptr;
    QPushButton *txtListButton = nullptr;
    MyListWidget *wavList = nullptr;
    MyListWidget *txtList = nullptr;
    QLabel *rightPanel = nullptr;
    QLabel *toolBar = nullptr;
    qint64 recordStartTime = 0;
    int recordTick = 0;
    QTimer *recordTimer = nullptr;
    bool isPlaying = false;
    QString recordFile;
    QPushButton *recordButton = nullptr;
    QLabel *recordTimeLabel = nullptr;
    QPushButton *backwardButton = nullptr;
    QPushButton *playButton = nullptr;
    QPushButton *pauseButton = nullptr;
    QPushButton *stopButton = nullptr;
    QLabel *playTimeLabel = nullptr;
    QString audioDevice;
    QLabel *taskBar = nullptr;
    QComboBox *taskFileCombo = nullptr;
    QPushButton *clearListButton = nullptr;
    QPushButton *startConvertButton = nullptr;
    QPushButton *stopConvertButton = nullptr;
    QPushButton *closeDocButton = nullptr;
    QTextEdit *textEdit = nullptr;
    QPushButton *minButton = nullptr;
    QPushButton *maxButton = nullptr;
    QPushButton *closeButton = nullptr;
    QPushButton *homeButton = nullptr;
    QProcess *ffmpegProbeProcess = nullptr;
    QProcess *ffmpegConvertProcess = nullptr;
    QProcess *ffmpegCutProcess = nullptr;
    QProcess *ffmpegRecordProcess = nullptr;
    bool dragging = false;
    QPoint dragPos;
    QtHttpClass *http = nullptr;
    QString accessToken;
    QString sessionKey;
    QString refreshToken;
    QString sessionSecret;
    int tokenExpiresIn = 0;
    int lastErrNo = 0;
    QStringList taskFiles;
    QStringList segmentFiles;
    QStringList wavFiles;
    QStringList txtFiles;
    int audioSeconds = 0;
    int segmentCount = 0;
    int segmentIndex = 0;
    QComboBox *languageCombo = nullptr;
    QComboBox *deviceCombo = nullptr;
    QString currentTextFile;
    QTimer *tokenTimer = nullptr;
    Phonon::MediaObject mediaObject;
    Phonon::AudioOutput audioOutput;
    Phonon::Path audioPath;
    Phonon::SeekSlider *seekSlider = nullptr;

private:
    // ---- window: construction, frame, library, text pane (ui/) ----
    void setUpWindow();
    void buildHeader();
    void buildLeftPane();
    void buildRightPane();
    void buildToolStrip();
    void buildTaskStrip();
    void buildTextPane();
    void createWorkers();
    void createFoldersAndLists();
    void createPlayerPath();
    void createTimers();
    // Index of the first task-box entry whose text is exactly name; -1 when there is none.
    int taskBoxIndexOf(const QString &name) const;
    // While a job runs, audio files and the job's own transcript stay as they are: tells the
    // user and returns true when touching this library entry is refused.
    bool refusedWhileJobRuns(bool audio, const QString &path);
    // ---- end window ----

    // ---- audio: devices, recording, task list, conversion, cutting, playback (audio/) ----
    // Enables or disables the task-list controls that would pull the front file from under a job.
    void setTaskControlsEnabled(bool enabled);
    // Ends a running conversion, probe or cut without letting its handler go on.
    void abortAudioSteps();
    // Puts the front task entry back to the file as the user added it.
    void restoreTaskFront();
    // The front task file as the user added it (before conversion replaced it).
    QString jobSourceFile;
    // Replaces the platform's capture input of the recording command (tests: no microphone here).
    QStringList captureInputOverride;
    // Starts every ffmpeg run; made on first use.
    class FfmpegRunner *ffmpegRunner = nullptr;
    class FfmpegRunner *runner();
    void onFfmpegFailedToStart(QProcess *process);
    void recordingFailed(const QString &message);
    void finishRecording();
    void addToTaskFront(const QString &path, const QString &boxText);
    void startCut();
    void beginSegments(int seconds);
    // The converted copy's path, and whether a file of that name was there before the run.
    QString convertTarget;
    bool convertTargetExisted = false;
    // The file being probed and cut, and the probe's output so far.
    QString cutSourceFile;
    QByteArray probeOutput;
    bool durationFound = false;
    // ---- end audio ----

    // ---- speech: token and job (asr/) ----
    // The job is running exactly while the stop button is enabled.
    bool jobRunning() const;
    // Start "开始转换" enabled, stop disabled, "关闭文档" enabled, task controls enabled.
    void setIdleButtons();
    // Ends the job: every step stopped, front entry restored, the notice shown, Idle buttons.
    void failJob(const QString &message);
    // Drops the outstanding request and leaves the back-off wait.
    void abortSpeechSteps();
    // Fixed at build time; tests point a window elsewhere with setServiceBaseUrl.
    QString serviceBaseUrl;
    int tokenTimeoutMs = 8000;
    int recognitionTimeoutMs = 120000;
    // Start button shows text and is disabled, stop enabled, task controls disabled.
    void setRunningButtons(const QString &text);
    void readTokenReply(const QByteArray &body);
    void readTokenError();
    // Names the front task file's transcript, lists it and binds the job to it.
    void prepareTranscript();
    void sendFirstSegment();
    void readRecognitionReply(const QByteArray &body);
    // Writes the transcript, drops the task entry, goes on with the next file or ends.
    void finishTaskFile();
    // The transcript this job writes, whatever the text pane is bound to meanwhile.
    QString jobTranscriptFile;
    // Changes with every start and stop, so a wait or step of an ended job never goes on.
    int jobGeneration = 0;
    class QEventLoop *delayLoop = nullptr;
    QTimer *recognitionTimer = nullptr;
    // What the job keeps of each file, so that a job that ended early goes on where it ended.
    std::unique_ptr<class JobResume> resume;
    // ---- end speech ----
};
