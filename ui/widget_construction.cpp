#include "ui/transcripteditor.h"
#include "ui/servicesettingsdialog.h"
#include "ui/widget.h"

#include "asr/qthttpclass.h"
#include "asr/resumestore.h"
#include "asr/transcriptionjob.h"
#include "core/programlayout.h"
#include "core/tasklist.h"
#include "ui/appglobals.h"
#include "ui/barbuttons.h"
#include "ui/librarypane.h"
#include "ui/playerbar.h"
#include "ui/recorderbar.h"
#include "ui/taskbar.h"
#include "ui/transcriptpane.h"

#include <QComboBox>
#include <QIcon>
#include <QPixmap>
#include <QPushButton>
#include <QTextEdit>
#include <QTimer>

using BarButtons::makeButton;

namespace {

QString css(const char *text)
{
    return QString::fromUtf8(text);
}

} // namespace

Widget::Widget()
    : QLabel(nullptr)
    // The job makes its own HTTP client and ends it with itself: one handed to it is not owned,
    // and was lost with each window (with every certificate it had loaded).
    , job(std::make_unique<TranscriptionJob>())
{
    serviceBaseUrl = QStringLiteral(SPEECH_SERVICE_URL);
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
    titleBar = new QLabel(this);
    titleBar->setObjectName(QStringLiteral("titleBar"));
    titleBar->setGeometry(0, 0, 1024, 30);
    titleBar->setText(QStringLiteral("Tovarin 语音转写"));
    titleBar->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // Keeps the header text clear of the logo in its left corner.
    titleBar->setIndent(36);
    titleBar->setStyleSheet(
        QStringLiteral("QLabel {background:#0c80e8;color:white;font:bold %1px;"
                       "border-top:1px solid #b6bbc2;border-bottom:1px solid #b6bbc2; "
                       "border-left:1px solid #b6bbc2;border-right:1px solid #b6bbc2;"
                       "border-top-left-radius: 4px; border-top-right-radius: 4px}")
            .arg(14));

    auto *logoLabel = new QLabel(titleBar);
    logoLabel->setObjectName(QStringLiteral("logoLabel"));
    logoLabel->setGeometry(0, 0, 30, 30);
    logoLabel->setStyleSheet(QStringLiteral("border:0px;background:transparent"));
    // Through an icon, so a scaled screen gets the double-size drawing at its own resolution.
    logoLabel->setPixmap(QIcon(QStringLiteral(":/images/icon.png")).pixmap(30, 30));

    ServiceSettingsDialog::addOpenButton(titleBar, QRect(830, 2, 84, 26));

    homeButton = makeButton(titleBar, QStringLiteral("主页"),
        "QPushButton{border:0px solid black; border-image:url(:/images/homepage.png);}",
        QRect(919, 2, 26, 26));
    homeButton->setObjectName(QStringLiteral("homeButton"));
    connect(homeButton, &QPushButton::clicked, this, &Widget::showHomePage);

    minButton = makeButton(titleBar, QStringLiteral("最小化"),
        "QPushButton{border:0px solid black; border-image:url(:/images/minBtn_p.png);}",
        QRect(944, 2, 26, 26));
    minButton->setObjectName(QStringLiteral("minButton"));
    connect(minButton, &QPushButton::clicked, this, &QWidget::showMinimized);

    maxButton = makeButton(titleBar, QStringLiteral("最大化"),
        "QPushButton{border:0px solid black;border-image:url(:/images/maxBtn_p.png);}",
        QRect(969, 2, 26, 26));
    maxButton->setObjectName(QStringLiteral("maxButton"));
    connect(maxButton, &QPushButton::clicked, this, &Widget::slotShowMaxSize);

    closeButton = makeButton(titleBar, QStringLiteral("关闭"),
        "QPushButton{border:0px solid black;border-image:url(:/images/closeBtn_p.png);} ",
        QRect(994, 2, 26, 26));
    closeButton->setObjectName(QStringLiteral("closeButton"));
    connect(closeButton, &QPushButton::clicked, this, &Widget::slotClose);
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
    rightPanel->setStyleSheet(QStringLiteral(
        "background:white;border-right:1px solid #b6bbc2;border-bottom:1px solid #b6bbc2"));
}

void Widget::buildToolStrip()
{
    toolBar = new QLabel(rightPanel);
    toolBar->setObjectName(QStringLiteral("toolBar"));
    toolBar->setGeometry(0, 0, rightPanel->width(), 50);
    toolBar->setStyleSheet(css(BarButtons::StripStyle));

    recorderBar = new RecorderBar(toolBar, rightPanel);
    recorderBar->setTarget(AppGlobals::appDir() + QStringLiteral("/myWAVFiles"),
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
    transcript->attach(new TranscriptEditor(transcript->editor(), playerBar, this));
    // Edits an earlier run left unsaved are offered once the window is up.
    QTimer::singleShot(0, this,
        [this] { transcript->open(transcript->timedEditor()->offerAtStart(this)); });
}

void Widget::createFoldersAndLists()
{
    // The entry function has already said which folder it could not create.
    ProgramLayout::createWorkFolders(AppGlobals::appDir());
    library->load(AppGlobals::appDir() + QStringLiteral("/myWAVFiles"),
        AppGlobals::appDir() + QStringLiteral("/myWordFiles"));
    // Kept states of files that are gone would never be used again.
    ResumeStore(ResumeStore::defaultFolder(AppGlobals::appDir())).removeStale();
}
