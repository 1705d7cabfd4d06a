#include "ui/transcripteditor.h"

#include "core/programlayout.h"
#include "ui/dialogs.h"
#include "ui/findreplacedialog.h"
#include "ui/playerbar.h"

#include <QAbstractTextDocumentLayout>
#include <QAction>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>

#include <utility>

// A change of times alone (a line's start set to the player's) in the text's own undo history,
// so that undo and redo go through text and times in the order they were made.
class LinesUndo final : public QAbstractUndoItem
{
public:
    LinesUndo(TranscriptEditor *editor, TimedLines before, TimedLines after)
        : editor(editor)
        , before(std::move(before))
        , after(std::move(after))
    { }
    void undo() override
    {
        if (editor)
            editor->setLines(before);
    }
    void redo() override
    {
        if (editor)
            editor->setLines(after);
    }

private:
    QPointer<TranscriptEditor> editor;
    TimedLines before;
    TimedLines after;
};

namespace {

const QString noticeTitle = QStringLiteral("提示");

} // namespace

TranscriptEditor::TranscriptEditor(QTextEdit *edit, PlayerBar *player, QObject *parent)
    : QObject(parent)
    , edit(edit)
    , player(player)
    , recoveryFolder(ProgramLayout::recoveryFolder())
{
    edit->installEventFilter(this);
    editViewport = edit->viewport();
    editViewport->installEventFilter(this);
    connect(
        edit->document(), &QTextDocument::contentsChanged, this, &TranscriptEditor::textChanged);
    connect(player, &PlayerBar::positionChanged, this, &TranscriptEditor::follow);
    // Every few seconds while the text changes: the timer is not restarted by each key, so
    // steady typing is kept too.
    keepTimer.setSingleShot(true);
    keepTimer.setInterval(3000);
    connect(&keepTimer, &QTimer::timeout, this, &TranscriptEditor::keepEdits);
}

void TranscriptEditor::open(const QString &path, const TranscriptTimes &times)
{
    close();
    transcriptPath = path;
    source = times.source;
    stamp = RecoveryFiles::stampOf(path);
    setLines(TimedDocument::fromTimes(edit->toPlainText(), times.paragraphs));
    edit->document()->setModified(false);
    dirty = false;

    Recovery recovery;
    const QString recoveryPath = RecoveryFiles::pathFor(recoveryFolder, path);
    if (!QFileInfo::exists(recoveryPath))
        return;
    if (!RecoveryFiles::load(recoveryPath, &recovery) || recovery.transcriptPath != path) {
        RecoveryFiles::remove(recoveryFolder, path);
        return;
    }
    const bool asked = restoreApproved == path;
    restoreApproved.clear();
    const bool changed = RecoveryFiles::changedSince(recovery);
    const QString question = changed
        ? QStringLiteral("“%1”有上次未保存的修改，但此后该文件已被改动。是否恢复上次的修改？")
        : QStringLiteral("“%1”有上次未保存的修改，是否恢复？");
    // Asked at the start already, unless the transcript changed since then.
    if ((!asked || changed)
        && !Dialogs::current().questionYesDefault(
            edit, noticeTitle, question.arg(QFileInfo(path).fileName()))) {
        RecoveryFiles::remove(recoveryFolder, path);
        return;
    }
    // One edit: undo brings back the transcript as it was saved.
    QTextCursor cursor(edit->document());
    cursor.beginEditBlock();
    cursor.select(QTextCursor::Document);
    cursor.insertText(recovery.text);
    cursor.endEditBlock();
    if (!recovery.times.source.isEmpty())
        source = recovery.times.source;
    setLines(TimedDocument::fromTimes(recovery.text, recovery.times.paragraphs));
    dirty = true;
    keepEdits();
}

void TranscriptEditor::close()
{
    if (dirty)
        keepEdits();
    keepTimer.stop();
    transcriptPath.clear();
    dirty = false;
}

bool TranscriptEditor::saved()
{
    if (transcriptPath.isEmpty())
        return true;
    bool ok = true;
    const TranscriptTimes now = times();
    bool anyTimes = false;
    for (const TimedLine &line : timedLines)
        anyTimes = anyTimes || line.timed();
    // A transcript that never had times gets no times file.
    if (anyTimes || !source.isEmpty())
        ok = TranscriptTimesRules::save(transcriptPath, now);
    RecoveryFiles::remove(recoveryFolder, transcriptPath);
    keepTimer.stop();
    stamp = RecoveryFiles::stampOf(transcriptPath);
    edit->document()->setModified(false);
    dirty = false;
    return ok;
}

void TranscriptEditor::discard()
{
    if (!transcriptPath.isEmpty())
        RecoveryFiles::remove(recoveryFolder, transcriptPath);
    keepTimer.stop();
    dirty = false;
    transcriptPath.clear();
}

TranscriptTimes TranscriptEditor::times() const
{
    return TranscriptTimes { source, TimedDocument::toParagraphs(timedLines) };
}

bool TranscriptEditor::keepEdits()
{
    if (transcriptPath.isEmpty() || !dirty)
        return false;
    // The lines' text is the pane's as of its last change, even once other text replaced it.
    const Recovery recovery { transcriptPath, stamp, TimedDocument::text(timedLines), times() };
    if (!RecoveryFiles::save(recoveryFolder, recovery))
        return false;
    emit editsKept(RecoveryFiles::pathFor(recoveryFolder, transcriptPath));
    return true;
}

QString TranscriptEditor::offerAtStart(QWidget *parent)
{
    for (const Recovery &recovery : RecoveryFiles::pending(recoveryFolder)) {
        if (!QFileInfo(recovery.transcriptPath).isFile())
            continue;
        if (Dialogs::current().questionYesDefault(parent, noticeTitle,
                QStringLiteral("程序上次未正常退出，“%1”有未保存的修改，是否恢复？")
                    .arg(QFileInfo(recovery.transcriptPath).fileName()))) {
            restoreApproved = recovery.transcriptPath;
            return recovery.transcriptPath;
        }
        RecoveryFiles::remove(recoveryFolder, recovery.transcriptPath);
        return QString();
    }
    return QString();
}

void TranscriptEditor::setLines(const TimedLines &lines)
{
    timedLines = lines;
    index = TimedDocument::Index(timedLines);
    shown = {};
    if (player->file() == source)
        follow(player->position());
    emit timesChanged(times());
}

void TranscriptEditor::textChanged()
{
    // Text set whole (another transcript opened, a job's output) is not an edit of the user's;
    // the edits it replaced are kept first (the lines still hold their text).
    const bool byUser = edit->document()->isModified();
    if (!byUser && dirty)
        close();
    setLines(TimedDocument::follow(timedLines, edit->toPlainText()));
    if (transcriptPath.isEmpty() || !byUser)
        return;
    dirty = true;
    if (!keepTimer.isActive())
        keepTimer.start();
}

void TranscriptEditor::follow(qint64 ms)
{
    if (source.isEmpty() || player->file() != source)
        return;
    const TimedDocument::Spoken spoken = index.at(ms);
    if (spoken.line == shown.line && spoken.utterance == shown.utterance)
        return;
    highlight(spoken.line, spoken.utterance);
}

void TranscriptEditor::highlight(int line, int utterance)
{
    shown = TimedDocument::Spoken { line, utterance };
    if (line < 0 || line >= timedLines.size()) {
        edit->setExtraSelections({});
        return;
    }
    const QTextBlock block = edit->document()->findBlockByNumber(line);
    if (!block.isValid())
        return;
    const QVector<TextSpan> spans = TimedDocument::utteranceSpans(timedLines[line]);
    const TextSpan span = spans.value(utterance);
    QTextEdit::ExtraSelection selection;
    selection.cursor = QTextCursor(block);
    selection.cursor.setPosition(block.position() + span.start);
    selection.cursor.setPosition(
        block.position() + std::min(span.start + span.length, block.length() - 1),
        QTextCursor::KeepAnchor);
    selection.format.setBackground(QColor(255, 226, 130));
    edit->setExtraSelections({ selection });

    // In view, by scrolling alone: the user's cursor and selection stay where they are.
    const QRectF rect = edit->document()->documentLayout()->blockBoundingRect(block);
    QScrollBar *bar = edit->verticalScrollBar();
    const int height = edit->viewport()->height();
    if (rect.top() < bar->value() || rect.bottom() > bar->value() + height)
        bar->setValue(int(rect.top()) - height / 3);
}

bool TranscriptEditor::sourcePlayable()
{
    if (QFileInfo(source).isFile())
        return true;
    Dialogs::current().information(edit, noticeTitle,
        source.isEmpty() ? QStringLiteral("这一行没有时间信息！")
                         : QStringLiteral("音频文件已不在，无法播放！"));
    return false;
}

void TranscriptEditor::seekTo(qint64 ms)
{
    if (!sourcePlayable())
        return;
    if (player->loaded() && player->file() == source)
        player->seek(ms);
    else
        player->playFrom(source, ms);
    follow(ms);
}

void TranscriptEditor::playAtCursor()
{
    const QTextCursor cursor = edit->textCursor();
    const int line = cursor.blockNumber();
    const qint64 at = line < timedLines.size()
        ? TimedDocument::timeAt(timedLines[line], cursor.positionInBlock())
        : -1;
    if (at < 0) {
        Dialogs::current().information(edit, noticeTitle, QStringLiteral("这一行没有时间信息！"));
        return;
    }
    seekTo(at);
}

void TranscriptEditor::playPause()
{
    if (player->playing()) {
        player->pause();
        return;
    }
    if (player->loaded() && player->file() == source) {
        player->play(QString());
        return;
    }
    const QTextCursor cursor = edit->textCursor();
    const int line = cursor.blockNumber();
    const qint64 at = line < timedLines.size()
        ? TimedDocument::timeAt(timedLines[line], cursor.positionInBlock())
        : -1;
    seekTo(std::max<qint64>(0, at));
}

void TranscriptEditor::skip(qint64 deltaMs)
{
    if (!player->loaded() || player->file() != source) {
        playPause();
        return;
    }
    player->seek(std::max<qint64>(0, player->position() + deltaMs), player->playing());
}

void TranscriptEditor::setLineStartToPlayer()
{
    const int line = edit->textCursor().blockNumber();
    if (line >= timedLines.size() || !timedLines[line].timed()) {
        Dialogs::current().information(edit, noticeTitle, QStringLiteral("这一行没有时间信息！"));
        return;
    }
    if (!player->loaded() || player->file() != source) {
        Dialogs::current().information(
            edit, noticeTitle, QStringLiteral("请先播放这篇转写文本的音频！"));
        return;
    }
    const TimedLines before = timedLines;
    const TimedLines after = TimedDocument::setStart(before, line, player->position());
    edit->document()->appendUndoItem(new LinesUndo(this, before, after));
    setLines(after);
    dirty = !transcriptPath.isEmpty();
    if (dirty && !keepTimer.isActive())
        keepTimer.start();
}

void TranscriptEditor::showFind(bool withReplace)
{
    if (!findDialog)
        findDialog = new FindReplaceDialog(edit, edit->window());
    findDialog->showFor(withReplace);
}

FindReplaceDialog *TranscriptEditor::finder()
{
    if (!findDialog)
        findDialog = new FindReplaceDialog(edit, edit->window());
    return findDialog;
}

namespace {

// The utterances the pane's selection touches.
TimedDocument::Passage selectedPassage(const QTextEdit *edit, const TimedLines &lines)
{
    const QTextCursor cursor = edit->textCursor();
    if (!cursor.hasSelection())
        return {};
    QTextCursor start(edit->document());
    start.setPosition(cursor.selectionStart());
    QTextCursor end(edit->document());
    end.setPosition(cursor.selectionEnd());
    return TimedDocument::passageIn(lines, start.blockNumber(), start.positionInBlock(),
        end.blockNumber(), end.positionInBlock());
}

} // namespace

void TranscriptEditor::recogniseSelection()
{
    if (passageHeld)
        return;
    const TimedDocument::Passage chosen = selectedPassage(edit, timedLines);
    if (!chosen.valid()) {
        Dialogs::current().information(edit, noticeTitle, QStringLiteral("所选内容没有时间信息！"));
        return;
    }
    if (!QFileInfo(source).isFile()) {
        Dialogs::current().information(
            edit, noticeTitle, QStringLiteral("音频文件“%1”已不在，无法重新识别！").arg(source));
        return;
    }
    passage = chosen;
    passageText = edit->toPlainText();
    // A little of the audio around it, so that a word cut at a bound is heard whole; ffmpeg
    // stops at the file's end by itself.
    const qint64 margin = 300;
    emit passageRequested(
        source, std::max<qint64>(0, chosen.startMs - margin), chosen.endMs + margin);
}

bool TranscriptEditor::holdPassage()
{
    if (!passage.valid() || passageHeld || edit->toPlainText() != passageText)
        return false;
    passageHeld = true;
    // Nothing is typed into what is being replaced; the player still works.
    edit->setReadOnly(true);
    return true;
}

void TranscriptEditor::endPassage()
{
    passage = {};
    passageText.clear();
    if (std::exchange(passageHeld, false))
        edit->setReadOnly(false);
}

bool TranscriptEditor::takePassage(const QString &text, const TimedUtterances &utterances)
{
    const TimedDocument::Passage chosen = passage;
    const bool unchanged = passageHeld && edit->toPlainText() == passageText;
    endPassage();
    if (!unchanged)
        return false;
    const TimedLines before = timedLines;
    const TimedLines after = TimedDocument::replacePassage(before, chosen, text, utterances);
    const QTextBlock first = edit->document()->findBlockByNumber(chosen.firstLine);
    const QTextBlock last = edit->document()->findBlockByNumber(chosen.lastLine);
    QTextCursor cursor(edit->document());
    cursor.beginEditBlock();
    cursor.setPosition(first.position() + chosen.textStart);
    cursor.setPosition(last.position() + chosen.textEnd, QTextCursor::KeepAnchor);
    cursor.insertText(text);
    // The times with the text in one step: undo gives both back.
    edit->document()->appendUndoItem(new LinesUndo(this, before, after));
    cursor.endEditBlock();
    setLines(after);
    return true;
}

void TranscriptEditor::addMenuEntries(QMenu *menu, const QPoint &)
{
    menu->addSeparator();
    const auto entry = [this, menu](const QString &text, const QKeySequence &keys, const char *name,
                           std::function<void()> run) {
        QAction *action = menu->addAction(text);
        action->setObjectName(QString::fromLatin1(name));
        // Shown beside the entry; the keys themselves are the pane's (eventFilter).
        action->setShortcut(keys);
        action->setShortcutContext(Qt::WidgetShortcut);
        connect(action, &QAction::triggered, this, std::move(run));
    };
    entry(QStringLiteral("播放/暂停"), QKeySequence(Qt::Key_Escape), "playPauseAction",
        [this] { playPause(); });
    entry(
        QStringLiteral("后退5秒"), QKeySequence(Qt::Key_F3), "backAction", [this] { skip(-5000); });
    entry(QStringLiteral("前进5秒"), QKeySequence(Qt::Key_F4), "forwardAction",
        [this] { skip(5000); });
    entry(QStringLiteral("从光标处播放"), QKeySequence(Qt::CTRL + Qt::Key_J), "playAtCursorAction",
        [this] { playAtCursor(); });
    entry(QStringLiteral("设为当前播放位置"), QKeySequence(), "setStartAction",
        [this] { setLineStartToPlayer(); });
    entry(QStringLiteral("查找"), QKeySequence(Qt::CTRL + Qt::Key_F), "findAction",
        [this] { showFind(false); });
    entry(QStringLiteral("查找和替换"), QKeySequence(Qt::CTRL + Qt::Key_H), "replaceAction",
        [this] { showFind(true); });
    entry(QStringLiteral("重新识别所选内容"), QKeySequence(), "recogniseAgainAction",
        [this] { recogniseSelection(); });
    menu->actions().last()->setEnabled(!passageHeld && selectedPassage(edit, timedLines).valid());
}

bool TranscriptEditor::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == edit
        && (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride)) {
        auto *key = static_cast<QKeyEvent *>(event);
        const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
        std::function<void()> run;
        if (mods == Qt::NoModifier && key->key() == Qt::Key_Escape)
            run = [this] { playPause(); };
        else if (mods == Qt::NoModifier && key->key() == Qt::Key_F3)
            run = [this] { skip(-5000); };
        else if (mods == Qt::NoModifier && key->key() == Qt::Key_F4)
            run = [this] { skip(5000); };
        else if (mods == Qt::ControlModifier && key->key() == Qt::Key_J)
            run = [this] { playAtCursor(); };
        else if (mods == Qt::ControlModifier && key->key() == Qt::Key_F)
            run = [this] { showFind(false); };
        else if (mods == Qt::ControlModifier && key->key() == Qt::Key_H)
            run = [this] { showFind(true); };
        if (!run)
            return false;
        // Claimed before any shortcut of the window's, then done on the key press itself.
        event->accept();
        if (event->type() == QEvent::KeyPress)
            run();
        return true;
    }
    // Compared, not asked of the edit: events still come while the edit is being destroyed.
    if (watched == editViewport && event->type() == QEvent::MouseButtonPress) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton && (mouse->modifiers() & Qt::ControlModifier)) {
            const QTextCursor at = edit->cursorForPosition(mouse->pos());
            const int line = at.blockNumber();
            const qint64 ms = line < timedLines.size()
                ? TimedDocument::timeAt(timedLines[line], at.positionInBlock())
                : -1;
            if (ms < 0)
                Dialogs::current().information(
                    edit, noticeTitle, QStringLiteral("这一行没有时间信息！"));
            else
                seekTo(ms);
            return true;
        }
    }
    return false;
}
