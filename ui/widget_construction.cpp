#include "ui/transcripteditor.h"
#include "ui/widget.h"

#include "asr/qthttpclass.h"
#include "asr/resumestore.h"
#include "asr/transcriptionjob.h"
#include "core/programlayout.h"
#include "core/tasklist.h"
#include "ui/appglobals.h"
#include "ui/librarypane.h"
#include "ui/playerbar.h"
#include "ui/recorderbar.h"
#include "ui/styles.h"
#include "ui/taskbar.h"
#include "ui/titlebar.h"
#include "ui/transcriptpane.h"

#include <QComboBox>
#include <QTextEdit>
#include <QTimer>

Widget::Widget()
    : QLabel(nullptr)
    // The job makes its own HTTP client and ends it with itself: one handed to it is not owned,
    // and was lost with each window (with every certificate it had loaded).
    , job(std::make_unique<TranscriptionJob>())
{
    jobDefaults.serviceBaseUrl = QStringLiteral(SPEECH_SERVICE_URL);
    taskFiles = new TaskList(this);
    job->setTaskList(taskFiles);
    setUpWindow();
    buildHeader();
    buildLeftPane();
    buildRightPane();
    buildToolStrip();
    // Play, pause, stop, back to the start, the position slider and the time of the task file.
    playerBar = new PlayerBar(toolBar);
    connect(playerBar, &PlayerBar::playClicked, this, &Widget::slotPlay);
    buildTaskStrip();
    buildTextPane();
    createWorkers();
    createFoldersAndLists();
    setUpSearch();
    recorderBar->getAudioDev();
    show();
}

Widget::~Widget()
{
    // The job and the recorder end what they run before any child of the window goes, and
    // nothing they do on the way reaches this half-destroyed window.
    job->disconnect(this);
    recorderBar->disconnect(this);
    endWork();
    job.reset();
}

const QAbstractItemModel *Widget::taskModel() const
{
    return taskFiles;
}

void Widget::setUpWindow()
{
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowSystemMenuHint
        | Qt::WindowMinimizeButtonHint);
    setAttribute(Qt::WA_AlwaysShowToolTips);
    move(0, 0);
    setFixedSize(1024, 728);
    setWindowTitle(QStringLiteral("Tovarin 语音转写"));
    // Audio and video files dropped anywhere on the window join the task list.
    setAcceptDrops(true);
}

void Widget::buildHeader()
{
    titleBar = new TitleBar(this);
    connect(titleBar, &TitleBar::homeClicked, this, &Widget::showHomePage);
    connect(titleBar, &TitleBar::minimizeClicked, this, &QWidget::showMinimized);
    connect(titleBar, &TitleBar::maximizeClicked, this, &Widget::slotShowMaxSize);
    connect(titleBar, &TitleBar::closeClicked, this, &Widget::slotClose);
}

void Widget::buildLeftPane()
{
    library = new LibraryPane(this);
    connect(library, &LibraryPane::addToTasksClicked, this, &Widget::slotAddWav);
    connect(library, &LibraryPane::openRequested, this, &Widget::slotWordOpen);
    connect(library, &LibraryPane::deleteRequested, this, &Widget::deleteEntry);
    connect(library, &LibraryPane::renameRequested, this, &Widget::renameEntry);
    connect(library, &LibraryPane::saveAsRequested, this, &Widget::saveEntryAs);
    connect(
        library, &LibraryPane::exportSubtitlesRequested, this, &Widget::exportTranscriptSubtitles);
}

void Widget::buildRightPane()
{
    rightPanel = new QLabel(this);
    rightPanel->setObjectName(QStringLiteral("rightPanel"));
    rightPanel->setGeometry(200, 30, 824, 698);
    rightPanel->setStyleSheet(Styles::sheet(QStringLiteral("right-pane")));
}

void Widget::buildToolStrip()
{
    toolBar = new QLabel(rightPanel);
    toolBar->setObjectName(QStringLiteral("toolBar"));
    toolBar->setGeometry(0, 0, rightPanel->width(), 50);
    toolBar->setStyleSheet(Styles::sheet(QStringLiteral("strip")));

    recorderBar = new RecorderBar(toolBar, rightPanel);
    recorderBar->setTarget(ProgramLayout::audioFolder(AppGlobals::appDir()),
        [this](const QString &path) { return library->audioPaths().contains(path); });
    connect(recorderBar, &RecorderBar::recorded, this, &Widget::addRecording);
}

void Widget::buildTaskStrip()
{
    taskBar = new TaskBar(taskFiles, rightPanel);
    taskBar->place(rightPanel->width());
    connect(taskBar, &TaskBar::uploadClicked, this, &Widget::slotLoadWav);
    connect(taskBar, &TaskBar::chosenChanged, playerBar, &PlayerBar::slotAudioChanged);
    connect(taskBar, &TaskBar::clearClicked, this, &Widget::slotOpenWav);
    connect(taskBar, &TaskBar::startClicked, this, &Widget::slotBeginCover);
    connect(taskBar, &TaskBar::stopClicked, this, &Widget::slotStopCover);
    connect(taskBar, &TaskBar::closeDocClicked, this, &Widget::slotCloseWord);
}

void Widget::buildTextPane()
{
    transcript = new TranscriptPane(this);
    textEdit = transcript->editor();
    transcript->setGeometry(QRect(
        rightPanel->x(), rightPanel->y() + 90, rightPanel->width(), rightPanel->height() - 90));
    textEdit->viewport()->installEventFilter(this);
}

void Widget::createWorkers()
{
    // The job's processes, requests and timers are its own; the recorder is the recorder bar's.
    connectJob();
    connectTranscriptPane();
    buildLive();
    transcript->attach(new TranscriptEditor(transcript->editor(), playerBar, this));
    connectPassage();
    // Edits an earlier run left unsaved are offered once the window is up.
    QTimer::singleShot(
        0, this, [this] { transcript->open(transcript->timedEditor()->offerAtStart(this)); });
}

void Widget::createFoldersAndLists()
{
    // The entry function has already said which folder it could not create.
    ProgramLayout::createWorkFolders(AppGlobals::appDir());
    library->load(ProgramLayout::audioFolder(AppGlobals::appDir()),
        ProgramLayout::transcriptFolder(AppGlobals::appDir()));
    // Kept states of files that are gone would never be used again.
    ResumeStore(ProgramLayout::resumeFolder(AppGlobals::appDir())).removeStale();
}
