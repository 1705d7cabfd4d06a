#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include "core/recoveryfile.h"
#include "core/timeddocument.h"
#include "core/transcripttimes.h"

class FindReplaceDialog;
class PlayerBar;
class QMenu;
class QPoint;
class QTextEdit;
class QWidget;

// The transcript pane as a timed document: the text follows the player, the player follows
// the text, edits keep their times, and unsaved edits are kept in a recovery file until the
// transcript is saved or they are discarded. Attached to the pane's editor and the player bar.
class TranscriptEditor final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(TranscriptEditor)

public:
    TranscriptEditor(QTextEdit *edit, PlayerBar *player, QObject *parent);

    // The recovery files' folder (tests put it in a temporary one).
    void setRecoveryFolder(const QString &folder) { recoveryFolder = folder; }
    const QString &folder() const { return recoveryFolder; }

    // The pane now shows transcriptPath's text (already set) with these times: edits left from
    // an earlier session are offered back (Yes restores them).
    void open(const QString &transcriptPath, const TranscriptTimes &times);
    // The transcript was written: its times go beside it and the recovery file goes.
    // False when the times could not be written.
    bool saved();
    // The pane was closed without its edits.
    void discard();

    TranscriptTimes times() const;
    const TimedLines &lines() const { return timedLines; }
    const QString &transcript() const { return transcriptPath; }

    // Adds the editor's entries (and the keys that do them) to the pane's context menu.
    void addMenuEntries(QMenu *menu, const QPoint &pos);

    // Seeks to the utterance (or word) at the cursor and plays.
    void playAtCursor();
    void playPause();
    void skip(qint64 deltaMs);
    // The cursor's line starts at the player's position.
    void setLineStartToPlayer();
    void showFind(bool withReplace);

    // "重新识别所选内容": the selected utterances' span of the source, with a margin, is asked
    // for by passageRequested.
    void recogniseSelection();
    // The passage asked for is being recognised: the pane is read-only until endPassage or
    // takePassage. False when none was asked for or the text changed since.
    bool holdPassage();
    bool passageRunning() const { return passageHeld; }
    // The passage heard again: its text and times replace the selection's utterances as one
    // undo step. False, and nothing changes, when no passage waits or the text changed since.
    bool takePassage(const QString &text, const TimedUtterances &utterances);
    // The passage was refused or failed: the pane is editable again, its text as it was.
    void endPassage();

    // The player is at ms of the file it plays: the utterance said there is shown.
    void follow(qint64 ms);

    // Writes the recovery file now (the timer does this a few seconds after a change).
    bool keepEdits();

    // Newest edits left unsaved by an earlier run whose transcript still exists; asked at a
    // start: the transcript's path when the user chose to restore them, else empty.
    QString offerAtStart(QWidget *parent);
    // The pane no longer shows the transcript (a job took it): edits not yet kept are kept.
    void close();
    FindReplaceDialog *finder();

signals:
    // The lines' times changed (an edit, a restore, a new start).
    void timesChanged(const TranscriptTimes &times);
    // The recovery file was written.
    void editsKept(const QString &recoveryPath);
    // "重新识别所选内容": source is to be recognised from fromMs to toMs (its file time).
    void passageRequested(const QString &source, qint64 fromMs, qint64 toMs);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void textChanged();
    void highlight(int line, int utterance);
    void seekTo(qint64 ms);
    void setLines(const TimedLines &lines);
    bool sourcePlayable();

    QTextEdit *edit;
    QWidget *editViewport = nullptr;
    PlayerBar *player;
    QString recoveryFolder;
    QString transcriptPath;
    QString source;
    TranscriptStamp stamp;
    TimedLines timedLines;
    TimedDocument::Index index;
    QTimer keepTimer;
    bool loading = false;
    bool dirty = false;
    TimedDocument::Spoken shown;
    QString restoreApproved;
    QPointer<FindReplaceDialog> findDialog;
    // The passage being recognised again, and the text it was chosen in.
    TimedDocument::Passage passage;
    QString passageText;
    bool passageHeld = false;

    friend class LinesUndo;
};
