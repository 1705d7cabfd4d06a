// Times kept beside transcripts, and subtitles made from them.
#include "ui/widget.h"

#include "ui/playerbar.h"

#include "asr/transcriptionjob.h"
#include "core/filenames.h"
#include "core/subtitlefiles.h"
#include "core/transcripttimes.h"
#include "core/wholefile.h"
#include "ui/dialogs.h"
#include "ui/transcripteditor.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QPushButton>
#include <QStandardPaths>
#include <QTextCodec>
#include <QTextEdit>
#include <QTimer>
#include <QListWidgetItem>
#include <QUrl>

void Widget::setupSubtitles()
{
    paneTimes = std::make_shared<TranscriptTimes>();
    TranscriptionJob *j = job.get();
    connect(j, &TranscriptionJob::fileStarted, this, [this] { *paneTimes = TranscriptTimes(); });
    // A segment's text comes first, its times right after it.
    connect(j, &TranscriptionJob::segmentRecognised, this,
        [this](int, int, int, int, const QString &text) {
            paneTimes->paragraphs.append(TimedParagraph { text, {} });
        });
    connect(j, &TranscriptionJob::utterancesRecognised, this,
        [this](int, const TimedUtterances &utterances) {
            if (!paneTimes->paragraphs.isEmpty())
                paneTimes->paragraphs.last().utterances = utterances;
        });
    connect(j, &TranscriptionJob::fileFinished, this,
        [this, j](const QString &, const QString &transcriptPath) {
            paneTimes->source = j->sourceFile();
            TranscriptTimesRules::save(transcriptPath, *paneTimes);
        });

    transcriptEditor = new TranscriptEditor(textEdit, playerBar, this);
    connect(transcriptEditor, &TranscriptEditor::timesChanged, this,
        [this](const TranscriptTimes &times) { *paneTimes = times; });
    // Edits an earlier run left unsaved are offered once the window is up.
    QTimer::singleShot(0, this, [this] {
        const QString path = transcriptEditor->offerAtStart(this);
        const QList<QListWidgetItem *> items = txtList->findItems(
            FileNames::fileName(path), Qt::MatchExactly);
        if (!path.isEmpty() && txtFiles.contains(path) && !items.isEmpty())
            slotWordOpen(items.first());
    });

    exportPaneSubtitlesAction = new QAction(QStringLiteral("导出字幕"), this);
    exportPaneSubtitlesAction->setObjectName(QStringLiteral("exportPaneSubtitlesAction"));
    connect(exportPaneSubtitlesAction, &QAction::triggered, this, [this] {
        exportSubtitles(textEdit->toPlainText(), *paneTimes, QStringLiteral("transcript"));
    });
    textEdit->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(textEdit, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        QMenu *menu = textEdit->createStandardContextMenu(pos);
        menu->setObjectName(QStringLiteral("textPaneMenu"));
        menu->addSeparator();
        menu->addAction(exportPaneSubtitlesAction);
        const int line = textEdit->cursorForPosition(pos).blockNumber();
        QAction *play = menu->addAction(QStringLiteral("从此处播放"));
        play->setObjectName(QStringLiteral("playFromLineAction"));
        connect(play, &QAction::triggered, this, [this, line] { playFromLine(line); });
        transcriptEditor->addMenuEntries(menu, pos);
        Dialogs::current().execMenu(menu, textEdit->viewport()->mapToGlobal(pos));
        menu->deleteLater();
    });
}

void Widget::loadPaneTimes(const QString &transcriptPath)
{
    // Whatever times the pane had belong to another text; a transcript without a sidecar
    // (or with one that cannot be read) has none.
    TranscriptTimes times;
    TranscriptTimesRules::load(transcriptPath, &times);
    *paneTimes = times;
}

void Widget::exportTranscriptSubtitles(const QString &name)
{
    const QString path = FileNames::firstPathNamed(txtFiles, name);
    QFile file(path);
    TranscriptTimes times;
    if (!file.open(QIODevice::ReadOnly) || !TranscriptTimesRules::load(path, &times)) {
        Dialogs::current().information(
            this, QStringLiteral("提示"), QStringLiteral("该转写文本没有时间信息，无法导出字幕！"));
        return;
    }
    exportSubtitles(QTextCodec::codecForLocale()->toUnicode(file.readAll()), times,
        FileNames::withoutSuffix(name));
}

void Widget::exportSubtitles(const QString &text, const TranscriptTimes &times, const QString &base)
{
    const MatchedTimes matched = TranscriptTimesRules::match(text, times.paragraphs);
    if (matched.utterances.isEmpty()) {
        Dialogs::current().information(
            this, QStringLiteral("提示"), QStringLiteral("该转写文本没有时间信息，无法导出字幕！"));
        return;
    }
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    const QString target = Dialogs::current().saveFileName(this, QStringLiteral("导出字幕"),
        desktop + QLatin1Char('/') + base + QStringLiteral(".srt"),
        QStringLiteral("SubRip(*.srt);;WebVTT(*.vtt)"));
    if (target.isEmpty())
        return;
    const QByteArray bytes = target.endsWith(QLatin1String(".vtt"), Qt::CaseInsensitive)
        ? SubtitleFiles::vtt(matched.utterances)
        : SubtitleFiles::srt(matched.utterances);
    if (!WholeFile::write(target, bytes)) {
        Dialogs::current().information(
            this, QStringLiteral("提示"), QStringLiteral("字幕保存失败，请检查文件夹是否可写！"));
        return;
    }
    // Edited lines have no time any more: they are left out, and the user is told how many.
    if (matched.linesWithoutTimes > 0)
        Dialogs::current().information(this, QStringLiteral("提示"),
            QStringLiteral("字幕已导出；%1行文字已修改，没有时间，未写入字幕。")
                .arg(matched.linesWithoutTimes));
}

void Widget::playFromLine(int line)
{
    const QVector<qint64> starts
        = TranscriptTimesRules::lineStarts(textEdit->toPlainText(), paneTimes->paragraphs);
    const qint64 startMs = line >= 0 && line < starts.size() ? starts[line] : -1;
    if (startMs < 0) {
        Dialogs::current().information(
            this, QStringLiteral("提示"), QStringLiteral("这一行没有时间信息！"));
        return;
    }
    if (!QFileInfo(paneTimes->source).isFile()) {
        Dialogs::current().information(
            this, QStringLiteral("提示"), QStringLiteral("音频文件已不在，无法播放！"));
        return;
    }
    playerBar->playFrom(paneTimes->source, startMs);
}
