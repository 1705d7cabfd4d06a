#include "ui/librarypane.h"

#include "core/filenames.h"
#include "ui/barbuttons.h"

#include <QIcon>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// The checkable header of a library list; checked shows the list.
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

MyListWidget *makeList(MyListWidget::Kind kind, const char *name, QWidget *parent)
{
    auto *list = new MyListWidget(kind, parent);
    list->setObjectName(QLatin1String(name));
    list->setStyleSheet(QStringLiteral("border:0px"));
    list->setFixedWidth(198);
    list->setSpacing(2);
    list->hide();
    return list;
}

QListWidgetItem *firstItemNamed(QListWidget *list, const QString &name, Qt::CaseSensitivity cs)
{
    const QList<QListWidgetItem *> candidates = list->findItems(name, Qt::MatchContains);
    for (QListWidgetItem *item : candidates) {
        if (item->text().compare(name, cs) == 0)
            return item;
    }
    return nullptr;
}

// Unchecking and checking again makes the header share out the new pane height.
void retoggle(QPushButton *button)
{
    if (button->isChecked()) {
        button->setChecked(false);
        button->setChecked(true);
    }
}

} // namespace

LibraryPane::LibraryPane(QWidget *window)
    : QLabel(window)
{
    setObjectName(QStringLiteral("leftPanel"));
    setGeometry(0, 30, 200, 698);
    setStyleSheet(QStringLiteral("QLabel {background:white;border-right:1px solid #b6bbc2;"
                                 "border-left:1px solid #b6bbc2;border-bottom:1px solid #b6bbc2}"));
    buildHeaders();
    buildLists();
    layOut();
}

void LibraryPane::buildHeaders()
{
    wavListButton
        = makeListHeader(this, QStringLiteral("音频文件"), QStringLiteral(":/images/audio.png"),
            QStringLiteral("QPushButton {border:0px;} QPushButton:checked {background:#e4eef8}"));
    wavListButton->setObjectName(QStringLiteral("wavListButton"));
    connect(wavListButton, &QPushButton::toggled, this,
        [this](bool checked) { showList(wavList, txtList, checked); });

    // An icon rather than a border image, so that a disabled "+" is drawn greyed out.
    addTaskButton = BarButtons::makeButton(wavListButton, QStringLiteral("添加到任务"),
        "QPushButton {background:transparent; border:0px;} ", QRect(150, 5, 38, 40));
    addTaskButton->setObjectName(QStringLiteral("addTaskButton"));
    addTaskButton->setIcon(QIcon(QStringLiteral(":/images/jia.png")));
    addTaskButton->setIconSize(QSize(38, 40));
    connect(addTaskButton, &QPushButton::clicked, this, &LibraryPane::addToTasksClicked);

    txtListButton = makeListHeader(this, QStringLiteral("文本文档"),
        QStringLiteral(":/images/word.png"),
        QStringLiteral("QPushButton {border-bottom:0px solid #b6bbc2;border-top:1px solid #dddddd;"
                       "border-left:0px solid #b6bbc2;border-right:0px solid #b6bbc2;} "
                       "QPushButton:checked {background:#e4eef8}"));
    txtListButton->setObjectName(QStringLiteral("txtListButton"));
    connect(txtListButton, &QPushButton::toggled, this,
        [this](bool checked) { showList(txtList, wavList, checked); });
}

void LibraryPane::buildLists()
{
    wavList = makeList(Kind::Audio, "wavList", this);
    wavList->setSelectionMode(QAbstractItemView::MultiSelection);
    txtList = makeList(Kind::Transcripts, "txtList", this);

    connect(txtList, &QListWidget::itemDoubleClicked, this,
        [this](QListWidgetItem *item) { emit openRequested(transcripts.pathNamed(item->text())); });
    for (MyListWidget *list : { wavList, txtList }) {
        connect(list, &MyListWidget::deleteRequested, this, &LibraryPane::deleteRequested);
        connect(list, &MyListWidget::renameRequested, this, &LibraryPane::renameRequested);
        connect(list, &MyListWidget::saveAsRequested, this, &LibraryPane::saveAsRequested);
    }
    connect(txtList, &MyListWidget::exportSubtitlesRequested, this,
        &LibraryPane::exportSubtitlesRequested);
}

void LibraryPane::layOut()
{
    auto *layout = new QVBoxLayout(this);
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

void LibraryPane::load(const QString &audioFolder, const QString &transcriptFolder)
{
    audio = LibraryList::fromFolder(audioFolder);
    transcripts = LibraryList::fromFolder(transcriptFolder, QStringLiteral("txt"));
    for (const QString &path : audio.paths())
        wavList->addItem(FileNames::fileName(path));
    for (const QString &path : transcripts.paths())
        txtList->addItem(FileNames::fileName(path));
}

void LibraryPane::place(const QRect &geometry)
{
    setGeometry(geometry);
    retoggle(wavListButton);
    retoggle(txtListButton);
}

int LibraryPane::listSpace() const
{
    return height() - 2 * wavListButton->height();
}

void LibraryPane::showList(MyListWidget *list, MyListWidget *other, bool checked)
{
    const int space = listSpace();
    if (!checked) {
        list->hide();
        if (!other->isHidden())
            other->setFixedHeight(space - 1);
        return;
    }
    if (other->isHidden()) {
        list->setFixedHeight(space - 1);
    } else {
        wavList->setFixedHeight(space / 2 - 1);
        txtList->setFixedHeight(space / 2);
    }
    list->show();
}

MyListWidget *LibraryPane::listOf(Kind kind) const
{
    return kind == Kind::Audio ? wavList : txtList;
}

LibraryList &LibraryPane::entriesOf(Kind kind)
{
    return kind == Kind::Audio ? audio : transcripts;
}

QString LibraryPane::pathNamed(Kind kind, const QString &name) const
{
    return (kind == Kind::Audio ? audio : transcripts).pathNamed(name);
}

QStringList LibraryPane::selectedAudioPaths() const
{
    QStringList paths;
    const QList<QListWidgetItem *> items = wavList->selectedItems();
    for (const QListWidgetItem *item : items)
        paths.append(audio.pathNamed(item->text()));
    return paths;
}

void LibraryPane::addRecording(const QString &path)
{
    audio.append(path);
    wavList->insertItem(wavList->count(), FileNames::fileName(path));
    if (!wavListButton->isChecked())
        wavListButton->setChecked(true);
}

void LibraryPane::addTranscript(const QString &path)
{
    if (transcripts.contains(path))
        return;
    txtList->addItem(FileNames::fileName(path));
    transcripts.append(path);
}

void LibraryPane::removeEntry(Kind kind, const QString &name, const QString &path)
{
    entriesOf(kind).remove(path);
    delete firstItemNamed(listOf(kind), name, Qt::CaseSensitive);
}

void LibraryPane::renameEntry(
    Kind kind, const QString &name, const QString &path, const QString &newPath)
{
    entriesOf(kind).rename(path, newPath);
    MyListWidget *list = listOf(kind);
    delete firstItemNamed(list, name, Qt::CaseInsensitive);
    list->addItem(FileNames::fileName(newPath));
}

void LibraryPane::setAddEnabled(bool enabled)
{
    addTaskButton->setEnabled(enabled);
}
