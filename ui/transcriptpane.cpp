#include "ui/transcriptpane.h"

#include "core/filenames.h"
#include "core/subtitlefiles.h"
#include "core/wholefile.h"
#include "ui/dialogs.h"
#include "ui/logging.h"
#include "ui/transcripteditor.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QStandardPaths>
#include <QTextBlock>
#include <QTextCodec>
#include <QTextCursor>
#include <QTextEdit>

#include <utility>

namespace {

const QString kNoTimes = QStringLiteral("该转写文本没有时间信息，无法导出字幕！");

// A transcript's text as the program writes it: the locale's encoding, up to a stray NUL.
QString readTranscript(QFile &file)
{
    QByteArray bytes = file.readAll();
    const int zero = bytes.indexOf('\0');
    if (zero >= 0)
        bytes.truncate(zero);
    return QTextCodec::codecForLocale()->toUnicode(bytes);
}

} // namespace

TranscriptPane::TranscriptPane(QWidget *window)
    : QObject(window)
{
    edit = new QTextEdit(window);
    edit->setObjectName(QStringLiteral("textEdit"));
    edit->hide();

    exportAction = new QAction(QStringLiteral("导出字幕"), this);
    exportAction->setObjectName(QStringLiteral("exportPaneSubtitlesAction"));
    connect(exportAction, &QAction::triggered, this,
        [this] { exportSubtitles(edit->toPlainText(), paneTimes, QStringLiteral("transcript")); });
    edit->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(edit, &QWidget::customContextMenuRequested, this, &TranscriptPane::showMenu);
}

void TranscriptPane::setGeometry(const QRect &geometry)
{
    edit->setGeometry(geometry);
}

void TranscriptPane::resize(int width, int height)
{
    edit->resize(width, height);
}

QString TranscriptPane::text() const
{
    return edit->toPlainText();
}

void TranscriptPane::bind(const QString &path)
{
    if (path == boundPath)
        return;
    boundPath = path;
    emit transcriptChanged(boundPath);
}

bool TranscriptPane::open(const QString &path, int line)
{
    // A vanished file neither replaces the text nor takes the pane's binding.
    if (path.isEmpty() || !QFile::exists(path))
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        qCWarning(lcUi).noquote() << "cannot read" << path << ":" << file.errorString();
    const QString text = readTranscript(file);
    bind(path);
    edit->clear();
    // Shown as markup, a transcript holding "<b>" would lose its tags and line breaks when
    // saved back as plain text.
    edit->setPlainText(text);
    // Whatever times the pane had belong to another text; a transcript without a sidecar
    // (or with one that cannot be read) has none.
    TranscriptTimes loaded;
    TranscriptTimesRules::load(path, &loaded);
    paneTimes = loaded;
    if (timed)
        timed->open(path, paneTimes);
    const QTextBlock block = edit->document()->findBlockByNumber(line);
    if (line > 0 && block.isValid()) {
        edit->setTextCursor(QTextCursor(block));
        edit->ensureCursorVisible();
    }
    edit->show();
    return true;
}

bool TranscriptPane::saveAndClose()
{
    if (!boundPath.isEmpty()) {
        // Not through a link: the text would go wherever it points.
        if (QFileInfo(boundPath).isSymLink()) {
            notify(QStringLiteral("转写文本%1是符号链接，为安全起见不写入！").arg(boundPath));
            return false;
        }
        // Written beside the file and renamed over it: a crash mid-write leaves the old text.
        if (!WholeFile::write(
                boundPath, QTextCodec::codecForLocale()->fromUnicode(edit->toPlainText()))) {
            // The pane stays open with the user's edits, so they can be saved elsewhere.
            notify(QStringLiteral("转写文本保存失败，请检查文件夹是否可写！"));
            return false;
        }
        if (timed && !timed->saved())
            notify(QStringLiteral("时间信息保存失败，请检查文件夹是否可写！"));
    }
    edit->hide();
    return true;
}

void TranscriptPane::closeWithoutSaving()
{
    if (timed)
        timed->discard();
    edit->hide();
    bind(QString());
}

void TranscriptPane::followRename(const QString &oldPath, const QString &newPath)
{
    // The pane follows its file, so "关闭文档" saves under the new name.
    if (boundPath == oldPath)
        bind(newPath);
    if (paneTimes.source == oldPath)
        paneTimes.source = newPath;
}

void TranscriptPane::beginTranscript(const QString &path)
{
    if (timed)
        timed->close();
    bind(path);
    paneTimes = TranscriptTimes();
    edit->clear();
    edit->show();
}

void TranscriptPane::appendText(const QString &text)
{
    // A paragraph of plain text: what the service sent is shown and kept as it is, never read
    // as markup. Ending in a line break, consecutive texts are parted by an empty line.
    QTextCursor cursor(edit->document());
    cursor.movePosition(QTextCursor::End);
    // Recognised text gets its times right after it (addTimedParagraph): the timed editor's
    // view of the text, which has none for it, must not replace the times recognised so far.
    const bool wasAppending = std::exchange(appending, true);
    if (!edit->document()->isEmpty())
        cursor.insertBlock();
    cursor.insertText(text + QLatin1Char('\n'));
    appending = wasAppending;
}

void TranscriptPane::addTimedParagraph(const QString &text)
{
    paneTimes.paragraphs.append(TimedParagraph { text, {} });
}

void TranscriptPane::setLastUtterances(const TimedUtterances &utterances)
{
    if (!paneTimes.paragraphs.isEmpty())
        paneTimes.paragraphs.last().utterances = utterances;
}

void TranscriptPane::keepTimes(const QString &source, const QString &transcriptPath)
{
    paneTimes.source = source;
    TranscriptTimesRules::save(transcriptPath, paneTimes);
}

void TranscriptPane::showMenu(const QPoint &pos)
{
    QMenu *menu = edit->createStandardContextMenu(pos);
    menu->setObjectName(QStringLiteral("textPaneMenu"));
    menu->addSeparator();
    menu->addAction(exportAction);
    const int line = edit->cursorForPosition(pos).blockNumber();
    QAction *play = menu->addAction(QStringLiteral("从此处播放"));
    play->setObjectName(QStringLiteral("playFromLineAction"));
    connect(play, &QAction::triggered, this, [this, line] { playFromLine(line); });
    if (timed)
        timed->addMenuEntries(menu, pos);
    Dialogs::current().execMenu(menu, edit->viewport()->mapToGlobal(pos));
    menu->deleteLater();
}

void TranscriptPane::playFromLine(int line)
{
    const QVector<qint64> starts
        = TranscriptTimesRules::lineStarts(edit->toPlainText(), paneTimes.paragraphs);
    const qint64 startMs = line >= 0 && line < starts.size() ? starts[line] : -1;
    if (startMs < 0) {
        notify(QStringLiteral("这一行没有时间信息！"));
        return;
    }
    if (!QFileInfo(paneTimes.source).isFile()) {
        notify(QStringLiteral("音频文件已不在，无法播放！"));
        return;
    }
    emit playRequested(paneTimes.source, startMs);
}

void TranscriptPane::exportSubtitlesOf(const QString &path)
{
    QFile file(path);
    TranscriptTimes fileTimes;
    if (!file.open(QIODevice::ReadOnly) || !TranscriptTimesRules::load(path, &fileTimes)) {
        qCWarning(lcUi).noquote() << "no subtitles from" << path << ":" << file.errorString();
        notify(kNoTimes);
        return;
    }
    exportSubtitles(QTextCodec::codecForLocale()->toUnicode(file.readAll()), fileTimes,
        FileNames::withoutSuffix(FileNames::fileName(path)));
}

void TranscriptPane::exportSubtitles(
    const QString &text, const TranscriptTimes &times, const QString &base)
{
    const MatchedTimes matched = TranscriptTimesRules::match(text, times.paragraphs);
    if (matched.utterances.isEmpty()) {
        notify(kNoTimes);
        return;
    }
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    const QString target = Dialogs::current().saveFileName(edit->window(),
        QStringLiteral("导出字幕"), desktop + QLatin1Char('/') + base + QStringLiteral(".srt"),
        QStringLiteral("SubRip(*.srt);;WebVTT(*.vtt)"));
    if (target.isEmpty())
        return;
    const QByteArray bytes = target.endsWith(QLatin1String(".vtt"), Qt::CaseInsensitive)
        ? SubtitleFiles::vtt(matched.utterances)
        : SubtitleFiles::srt(matched.utterances);
    if (!WholeFile::write(target, bytes)) {
        notify(QStringLiteral("字幕保存失败，请检查文件夹是否可写！"));
        return;
    }
    // Edited lines have no time any more: they are left out, and the user is told how many.
    if (matched.linesWithoutTimes > 0)
        notify(QStringLiteral("字幕已导出；%1行文字已修改，没有时间，未写入字幕。")
                   .arg(matched.linesWithoutTimes));
}

void TranscriptPane::notify(const QString &message)
{
    Dialogs::current().information(edit->window(), QStringLiteral("提示"), message);
}

void TranscriptPane::attach(TranscriptEditor *timedEditor)
{
    timed = timedEditor;
    connect(timed, &TranscriptEditor::timesChanged, this, [this](const TranscriptTimes &times) {
        if (!appending)
            paneTimes = times;
    });
}
