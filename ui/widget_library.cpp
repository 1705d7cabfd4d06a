#include "ui/widget.h"

#include "core/tasklist.h"

#include "core/filenames.h"
#include "core/libraryfiles.h"
#include "core/transcripttimes.h"
#include "ui/appglobals.h"
#include "ui/dialogs.h"
#include "ui/librarypane.h"
#include "ui/myinput.h"
#include "ui/transcriptpane.h"

#include <QFile>
#include <QLineEdit>
#include <QStandardPaths>

namespace {

const QString kAudioBusy = QStringLiteral("正在转换，请稍后再修改音频文件！");
const QString kTranscriptBusy = QStringLiteral("正在转换，请稍后再修改文本文件！");

} // namespace

const QStringList &Widget::audioPaths() const
{
    return library->audioPaths();
}

const QStringList &Widget::transcriptPaths() const
{
    return library->transcriptPaths();
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
    if (!path.isEmpty() && path == transcript->transcriptPath()) {
        Dialogs::current().information(this, QStringLiteral("提示"), kTranscriptBusy);
        return true;
    }
    return false;
}

void Widget::deleteEntry(MyListWidget::Kind kind, const QString &name)
{
    const bool audio = kind == MyListWidget::Kind::Audio;
    Dialogs &dialogs = Dialogs::current();
    const QString path = library->pathNamed(kind, name);
    if (refusedWhileJobRuns(audio, path))
        return;

    const QString question = audio ? QStringLiteral("确定要删除该录音文件吗？")
                                   : QStringLiteral("确定要删除该文本文件吗？");
    if (!dialogs.question(nullptr, QStringLiteral("提示"), question))
        return;

    // The times go with their transcript, and only when it is gone.
    if (QFile::remove(path) && !audio)
        TranscriptTimesRules::removeFor(path);
    library->removeEntry(kind, name, path);

    if (audio) {
        taskFiles->remove(path);
    } else if (!path.isEmpty() && path == transcript->transcriptPath()) {
        // "关闭文档" must not bring a deleted transcript back.
        transcript->closeWithoutSaving();
    }
}

void Widget::renameEntry(MyListWidget::Kind kind, const QString &name)
{
    const bool audio = kind == MyListWidget::Kind::Audio;
    if (refusedWhileJobRuns(audio, library->pathNamed(kind, name)))
        return;
    const QString typed = askNewName(name);
    if (typed.isEmpty())
        return;

    // Looked up after the dialog: a job step may have changed the lists meanwhile.
    const QString path = library->pathNamed(kind, name);
    if (refusedWhileJobRuns(audio, path))
        return;
    const LibraryFiles::RenameResult renamed = LibraryFiles::rename(
        path, typed, audio ? QStringLiteral(".wav") : QStringLiteral(".txt"));
    if (!renamed.ok) {
        Dialogs::current().information(this, QStringLiteral("提示"), renamed.message);
        return;
    }
    // Only once the transcript itself moved: a refused rename leaves every sidecar alone.
    if (audio) {
        TranscriptTimesRules::followSourceRename(library->transcriptPaths(), path, renamed.newPath);
        taskFiles->rename(path, renamed.newPath);
    } else {
        TranscriptTimesRules::followRename(path, renamed.newPath);
    }
    // Every list and binding moves from the old entry to the renamed one.
    transcript->followRename(path, renamed.newPath);
    library->renameEntry(kind, name, path, renamed.newPath);
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

void Widget::saveEntryAs(MyListWidget::Kind kind, const QString &name)
{
    const bool audio = kind == MyListWidget::Kind::Audio;
    const QString source = library->pathNamed(kind, name);
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
