#include "ui/transcripteditor.h"
#include "ui/widget.h"

#include "core/tasklist.h"

#include "core/filenames.h"
#include "core/libraryfiles.h"
#include "core/transcripttimes.h"
#include "ui/appglobals.h"
#include "ui/dialogs.h"
#include "ui/myinput.h"
#include "ui/mylistwidget.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QStandardPaths>
#include <QTextEdit>

namespace {

const QString kAudioBusy = QStringLiteral("正在转换，请稍后再修改音频文件！");
const QString kTranscriptBusy = QStringLiteral("正在转换，请稍后再修改文本文件！");

// Plain files of a library folder, ordered by lower-cased name.
QFileInfoList libraryEntries(const QString &folder)
{
    return QDir(folder).entryInfoList(
        QDir::Files | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
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

} // namespace

void Widget::loadWavList()
{
    const QFileInfoList entries
        = libraryEntries(AppGlobals::appDir() + QStringLiteral("/myWAVFiles"));
    for (const QFileInfo &entry : entries) {
        wavFiles.append(entry.filePath());
        wavList->addItem(entry.fileName());
    }
}

void Widget::loadTxtList()
{
    const QFileInfoList entries
        = libraryEntries(AppGlobals::appDir() + QStringLiteral("/myWordFiles"));
    for (const QFileInfo &entry : entries) {
        // Anything else in the folder belongs to the user: it is left alone, just not listed.
        if (FileNames::suffix(entry.filePath()) != QLatin1String("txt"))
            continue;
        txtFiles.append(entry.filePath());
        txtList->addItem(entry.fileName());
    }
}

bool Widget::refusedWhileJobRuns(bool audio, const QString &path)
{
    if (!jobRunning())
        return false;
    // The job reads the front task file and writes its own transcript.
    if (audio) {
        Dialogs::current().information(this, QStringLiteral("提示"), kAudioBusy);
        return true;
    }
    if (!path.isEmpty() && path == currentTextFile) {
        Dialogs::current().information(this, QStringLiteral("提示"), kTranscriptBusy);
        return true;
    }
    return false;
}

void Widget::deleteEntry(MyListWidget::Kind kind, const QString &name)
{
    const bool audio = kind == MyListWidget::Kind::Audio;
    Dialogs &dialogs = Dialogs::current();
    QStringList &paths = audio ? wavFiles : txtFiles;
    MyListWidget *list = audio ? wavList : txtList;
    const QString path = FileNames::firstPathNamed(paths, name);
    if (refusedWhileJobRuns(audio, path))
        return;

    const QString question = audio ? QStringLiteral("确定要删除该录音文件吗？")
                                   : QStringLiteral("确定要删除该文本文件吗？");
    if (!dialogs.question(nullptr, QStringLiteral("提示"), question))
        return;

    // The times go with their transcript, and only when it is gone.
    if (QFile::remove(path) && !audio)
        TranscriptTimesRules::removeFor(path);
    paths.removeAll(path);
    delete firstItemNamed(list, name, Qt::CaseSensitive);

    if (audio) {
        taskFiles->remove(path);
    } else if (!path.isEmpty() && path == currentTextFile) {
        // "关闭文档" must not bring a deleted transcript back.
        transcriptEditor->discard();
        textEdit->hide();
        currentTextFile.clear();
    }
}

void Widget::renameEntry(MyListWidget::Kind kind, const QString &name)
{
    const bool audio = kind == MyListWidget::Kind::Audio;
    if (refusedWhileJobRuns(audio, FileNames::firstPathNamed(audio ? wavFiles : txtFiles, name)))
        return;
    const QString typed = askNewName(name);
    if (typed.isEmpty())
        return;

    // Looked up after the dialog: a job step may have changed the lists meanwhile.
    const QString path = FileNames::firstPathNamed(audio ? wavFiles : txtFiles, name);
    if (refusedWhileJobRuns(audio, path))
        return;
    const LibraryFiles::RenameResult renamed = LibraryFiles::rename(
        path, typed, audio ? QStringLiteral(".wav") : QStringLiteral(".txt"));
    if (!renamed.ok) {
        Dialogs::current().information(this, QStringLiteral("提示"), renamed.message);
        return;
    }
    // Only once the transcript itself moved: a refused rename leaves every sidecar alone.
    if (!audio) {
        TranscriptTimesRules::followRename(path, renamed.newPath);
    } else {
        TranscriptTimesRules::followSourceRename(txtFiles, path, renamed.newPath);
        if (paneTimes->source == path)
            paneTimes->source = renamed.newPath;
    }
    moveLibraryEntry(audio, name, path, renamed.newPath);
}

QString Widget::askNewName(const QString &name)
{
    Dialogs &dialogs = Dialogs::current();
    auto *input = new MyInput(this);
    input->nameEdit->setText(FileNames::beforeFirstDot(name));
    dialogs.execDialog(input);
    const bool accepted = input->accepted();
    const QString typed = input->nameEdit->text();
    input->deleteLater();
    if (!accepted || typed.isEmpty())
        return QString();
    // A separator would move the file out of its library folder; a control character (a pasted
    // NUL) would cut the name short behind the check for an existing file.
    const QString problem = LibraryFiles::nameProblem(typed);
    if (!problem.isEmpty()) {
        dialogs.information(this, QStringLiteral("提示"), problem);
        return QString();
    }
    return typed;
}

void Widget::moveLibraryEntry(
    bool audio, const QString &name, const QString &path, const QString &newPath)
{
    QStringList &paths = audio ? wavFiles : txtFiles;
    MyListWidget *list = audio ? wavList : txtList;
    const QString newName = FileNames::fileName(newPath);
    if (audio)
        taskFiles->rename(path, newPath);
    const int pathIndex = paths.indexOf(path);
    if (pathIndex >= 0)
        paths[pathIndex] = newPath;
    if (!audio && path == currentTextFile) {
        // The pane follows its file, so "关闭文档" saves under the new name.
        currentTextFile = newPath;
    }
    delete firstItemNamed(list, name, Qt::CaseInsensitive);
    list->addItem(newName);
}

void Widget::saveEntryAs(MyListWidget::Kind kind, const QString &name)
{
    const bool audio = kind == MyListWidget::Kind::Audio;
    const QString source = FileNames::firstPathNamed(audio ? wavFiles : txtFiles, name);
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    const QString target = Dialogs::current().saveFileName(this, QStringLiteral("另存为"),
        desktop + QLatin1Char('/') + name,
        audio ? QStringLiteral("Audio File(*.wav)")
              : QStringLiteral("Text File(*.txt);;Text File(*.doc)"));
    if (!target.isEmpty())
        LibraryFiles::saveAs(source, target);
}

namespace {

// The kinds' names as the library operations have always been called with.
bool kindNamed(const QString &text, MyListWidget::Kind *kind)
{
    if (text == QLatin1String("wav"))
        *kind = MyListWidget::Kind::Audio;
    else if (text == QLatin1String("word"))
        *kind = MyListWidget::Kind::Transcripts;
    else
        return false;
    return true;
}

} // namespace

void Widget::delFile(QString kind, QString name)
{
    MyListWidget::Kind typed;
    if (kindNamed(kind, &typed))
        deleteEntry(typed, name);
}

void Widget::renameFile(QString kind, QString name)
{
    MyListWidget::Kind typed;
    if (kindNamed(kind, &typed))
        renameEntry(typed, name);
}

void Widget::saveAsFile(QString kind, QString name)
{
    MyListWidget::Kind typed;
    if (kindNamed(kind, &typed))
        saveEntryAs(typed, name);
}
