#include "ui/servicesettingsdialog.h"
#include "ui/widget.h"

#include "asr/qthttpclass.h"
#include "asr/resumestore.h"
#include "asr/transcriptionjob.h"
#include "core/programlayout.h"
#include "core/tasklist.h"
#include "ui/appglobals.h"
#include "ui/barbuttons.h"
#include "ui/mylistwidget.h"
#include "ui/playerbar.h"
#include "ui/recorderbar.h"
#include "ui/taskbar.h"

#include <QComboBox>
#include <QIcon>
#include <QPixmap>
#include <QPushButton>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>

using BarButtons::makeButton;

namespace {

QString css(const char *text)
{
    return QString::fromUtf8(text);
}

// The checkable header of a library list in the left pane; checked shows the list.
QPushButton *makeListHeader(
    QWidget *parent, const QString &text, const QString &icon, const QString &style)
{
    auto *button = new QPushButton(parent);
    button->setFixedSize(198, 50);
    button->setText(text);
    button->setIcon(QIcon(icon));
    button->setIconSize(QSize(24, 24));
    button->setCheckable(true);
    button->setChecked(false);
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet(style);
    return button;
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
    leftPanel = new QLabel(this);
    leftPanel->setObjectName(QStringLiteral("leftPanel"));
    leftPanel->setGeometry(0, 30, 200, 698);
    leftPanel->setStyleSheet(
        QStringLiteral("QLabel {background:white;border-right:1px solid #b6bbc2;"
                       "border-left:1px solid #b6bbc2;border-bottom:1px solid #b6bbc2}"));

    wavListButton = makeListHeader(leftPanel, QStringLiteral("音频文件"),
        QStringLiteral(":/images/audio.png"),
        QStringLiteral("QPushButton {border:0px;} QPushButton:checked {background:#e4eef8}"));
    wavListButton->setObjectName(QStringLiteral("wavListButton"));
    connect(wavListButton, &QPushButton::toggled, this, &Widget::slotWavBtnChecked);

    // An icon rather than a border image, so that a disabled "+" is drawn greyed out.
    addTaskButton = makeButton(wavListButton, QStringLiteral("添加到任务"),
        "QPushButton {background:transparent; border:0px;} ", QRect(150, 5, 38, 40));
    addTaskButton->setObjectName(QStringLiteral("addTaskButton"));
    addTaskButton->setIcon(QIcon(QStringLiteral(":/images/jia.png")));
    addTaskButton->setIconSize(QSize(38, 40));
    connect(addTaskButton, &QPushButton::clicked, this, &Widget::slotAddWav);

    txtListButton = makeListHeader(leftPanel, QStringLiteral("文本文档"),
        QStringLiteral(":/images/word.png"),
        QStringLiteral("QPushButton {border-bottom:0px solid #b6bbc2;border-top:1px solid #dddddd;"
                       "border-left:0px solid #b6bbc2;border-right:0px solid #b6bbc2;} "
                       "QPushButton:checked {background:#e4eef8}"));
    txtListButton->setObjectName(QStringLiteral("txtListButton"));
    connect(txtListButton, &QPushButton::toggled, this, &Widget::slotTxtBtnChecked);

    wavList = new MyListWidget(MyListWidget::Kind::Audio, leftPanel);
    wavList->setObjectName(QStringLiteral("wavList"));
    wavList->setStyleSheet(QStringLiteral("border:0px"));
    wavList->setFixedWidth(198);
    wavList->setSpacing(2);
    wavList->setSelectionMode(QAbstractItemView::MultiSelection);
    wavList->hide();

    txtList = new MyListWidget(MyListWidget::Kind::Transcripts, leftPanel);
    txtList->setObjectName(QStringLiteral("txtList"));
    txtList->setStyleSheet(QStringLiteral("border:0px"));
    txtList->setFixedWidth(198);
    txtList->setSpacing(2);
    txtList->hide();
    connectLibraryLists();

    auto *layout = new QVBoxLayout(leftPanel);
    layout->addWidget(wavListButton);
    layout->addSpacing(0);
    layout->addWidget(wavList);
    layout->addSpacing(0);
    layout->addWidget(txtListButton);
    layout->addSpacing(0);
    layout->addWidget(txtList);
    layout->addStretch();
    layout->setSpacing(0);
    layout->setContentsMargins(1, 0, 0, 0);
}

void Widget::connectLibraryLists()
{
    connect(txtList, &QListWidget::itemDoubleClicked, this, &Widget::slotWordOpen);
    for (MyListWidget *list : { wavList, txtList }) {
        connect(list, &MyListWidget::deleteRequested, this, &Widget::deleteEntry);
        connect(list, &MyListWidget::renameRequested, this, &Widget::renameEntry);
        connect(list, &MyListWidget::saveAsRequested, this, &Widget::saveEntryAs);
    }
    connect(
        txtList, &MyListWidget::exportSubtitlesRequested, this, &Widget::exportTranscriptSubtitles);
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
        [this](const QString &path) { return wavFiles.contains(path); });
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
    textEdit = new QTextEdit(this);
    textEdit->setObjectName(QStringLiteral("textEdit"));
    textEdit->setGeometry(
        rightPanel->x(), rightPanel->y() + 90, rightPanel->width(), rightPanel->height() - 90);
    textEdit->hide();
    textEdit->viewport()->installEventFilter(this);
}

void Widget::createWorkers()
{
    // The job's processes, requests and timers are its own; the recorder is the recorder bar's.
    connectJob();
    setupSubtitles();
    setUpSearch();
}

void Widget::createFoldersAndLists()
{
    // The entry function has already said which folder it could not create.
    ProgramLayout::createWorkFolders(AppGlobals::appDir());
    loadWavList();
    loadTxtList();
    // Kept states of files that are gone would never be used again.
    ResumeStore(ResumeStore::defaultFolder(AppGlobals::appDir())).removeStale();
}
