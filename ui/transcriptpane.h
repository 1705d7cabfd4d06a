#pragma once

#include <QObject>
#include <QString>

#include "core/timedtext.h"
#include "core/transcripttimes.h"

class QAction;
class TranscriptEditor;
class QPoint;
class QRect;
class QTextEdit;
class QWidget;

// The text pane: the transcript it is bound to, that transcript's times, its right-click menu
// (the editor's own items, "导出字幕", "从此处播放"), and saving it back. It tells its owner
// what the user asks for by its signals and never reaches back into the window.
class TranscriptPane final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(TranscriptPane)

public:
    // Builds the editor ("textEdit", hidden) as a child of window.
    explicit TranscriptPane(QWidget *window);

    QTextEdit *editor() const { return edit; }
    void setGeometry(const QRect &geometry);
    void resize(int width, int height);

    // The transcript the pane is bound to ("关闭文档" saves there); empty when none.
    const QString &transcriptPath() const { return boundPath; }
    // Its recognised paragraphs, their times and the audio they were said in.
    const TranscriptTimes &times() const { return paneTimes; }
    QString text() const;

    // Shows the transcript at path with the times kept beside it, bound to it, the cursor at
    // the start of line (counted from 0; the start when out of range). False, and nothing
    // changes, when the file is gone.
    bool open(const QString &path, int line = 0);
    // Saves the text to the bound transcript (whole, never through a link) and hides the pane.
    // False, with a notice and the pane left open, when it could not be written.
    bool saveAndClose();
    // Hides the pane and forgets the transcript without writing (it was deleted).
    void closeWithoutSaving();
    // The bound transcript or the times' audio was renamed: the pane follows.
    void followRename(const QString &oldPath, const QString &newPath);

    // A new transcript begins at path: empty, bound, shown, without times.
    void beginTranscript(const QString &path);
    // A paragraph of plain text at the end, parted from the text before by an empty line.
    void appendText(const QString &text);
    // The times of what is recognised into the pane: a paragraph, then its utterances; once the
    // transcript is written, they are kept beside it with the audio they came from.
    void addTimedParagraph(const QString &text);
    void setLastUtterances(const TimedUtterances &utterances);
    void keepTimes(const QString &source, const QString &transcriptPath);

    // The timed editing of the text (follow along, keys, recovery): its times become the pane's.
    void attach(TranscriptEditor *timedEditor);
    TranscriptEditor *timedEditor() const { return timed; }

    // "导出字幕" of a transcript in the library: its text with the times kept beside it.
    void exportSubtitlesOf(const QString &path);

signals:
    // "从此处播放": the user asks to play source from startMs on.
    void playRequested(const QString &source, qint64 startMs);
    // The pane is bound to another transcript (empty: none).
    void transcriptChanged(const QString &path);

private:
    void showMenu(const QPoint &pos);
    void playFromLine(int line);
    void exportSubtitles(const QString &text, const TranscriptTimes &times, const QString &base);
    void notify(const QString &message);
    void bind(const QString &path);

    QTextEdit *edit = nullptr;
    QAction *exportAction = nullptr;
    QString boundPath;
    TranscriptTimes paneTimes;
    TranscriptEditor *timed = nullptr;
    bool appending = false;
};
