#include "ui/widget.h"

#include "core/filenames.h"
#include "core/wholefile.h"
#include "ui/dialogs.h"
#include "ui/transcripteditor.h"

#include <QFile>
#include <QListWidgetItem>
#include <QFileInfo>
#include <QTextCodec>
#include <QTextEdit>

void Widget::slotWordOpen(QListWidgetItem *item)
{
    // The job saves the pane into its own transcript; another file must not take its place.
    if (jobRunning()) {
        Dialogs::current().information(
            this, QStringLiteral("提示"), QStringLiteral("正在转换，请稍后再打开文档！"));
        return;
    }
    const QString path = FileNames::firstPathNamed(txtFiles, item->text());
    // A vanished file neither replaces the text nor takes the pane's binding.
    if (path.isEmpty() || !QFile::exists(path))
        return;
    currentTextFile = path;

    QFile file(currentTextFile);
    file.open(QIODevice::ReadOnly);
    QByteArray bytes = file.readAll();
    const int zero = bytes.indexOf('\0');
    if (zero >= 0)
        bytes.truncate(zero);
    const QString text = QTextCodec::codecForLocale()->toUnicode(bytes);

    textEdit->clear();
    // Shown as markup, a transcript holding "<b>" would lose its tags and line breaks when
    // saved back as plain text.
    textEdit->setPlainText(text);
    loadPaneTimes(currentTextFile);
    transcriptEditor->open(currentTextFile, *paneTimes);
    textEdit->show();
}

void Widget::slotCloseWord()
{
    if (!currentTextFile.isEmpty()) {
        // Not through a link: the text would go wherever it points.
        if (QFileInfo(currentTextFile).isSymLink()) {
            Dialogs::current().information(this, QStringLiteral("提示"),
                QStringLiteral("转写文本%1是符号链接，为安全起见不写入！").arg(currentTextFile));
            return;
        }
        // Written beside the file and renamed over it: a crash mid-write leaves the old text.
        if (!WholeFile::write(currentTextFile,
                QTextCodec::codecForLocale()->fromUnicode(textEdit->toPlainText()))) {
            // The pane stays open with the user's edits, so they can be saved elsewhere.
            Dialogs::current().information(this, QStringLiteral("提示"),
                QStringLiteral("转写文本保存失败，请检查文件夹是否可写！"));
            return;
        }
        if (!transcriptEditor->saved())
            Dialogs::current().information(this, QStringLiteral("提示"),
                QStringLiteral("时间信息保存失败，请检查文件夹是否可写！"));
    }
    textEdit->hide();
}
