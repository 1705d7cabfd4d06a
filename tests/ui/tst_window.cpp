#include "ui/appglobals.h"
#include "asr/qthttpclass.h"
#include "common/scripteddialogs.h"
#include "ui/myinput.h"
#include "ui/mylistwidget.h"
#include "common/windowview.h"
#include "ui/widget.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSignalSpy>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    file.write(bytes);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList comboTexts(const QComboBox *combo)
{
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i)
        texts << combo->itemText(i);
    return texts;
}

// Answers the name dialog as a person would: types a name and presses OK.
std::function<void(QDialog *)> typeName(const QString &name, QString *prefilled = nullptr)
{
    return [name, prefilled](QDialog *dialog) {
        auto *input = qobject_cast<MyInput *>(dialog);
        QVERIFY(input);
        if (prefilled)
            *prefilled = input->nameEdit->text();
        input->nameEdit->setText(name);
        input->slotOK();
    };
}

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<Widget> window;

    QString wavDir() const { return dir->path() + QStringLiteral("/myWAVFiles"); }
    QString wordDir() const { return dir->path() + QStringLiteral("/myWordFiles"); }

    // A window over a fresh application folder holding the given library files.
    void build(const QStringList &wavNames = {}, const QStringList &wordNames = {})
    {
        window.reset();
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
        AppGlobals::setAppDir(dir->path());
        QVERIFY(QDir().mkdir(wavDir()) && QDir().mkdir(wordDir()));
        for (const QString &name : wavNames)
            writeFile(wavDir() + QLatin1Char('/') + name, name.toUtf8());
        for (const QString &name : wordNames)
            writeFile(wordDir() + QLatin1Char('/') + name, name.toUtf8());
        window = std::make_unique<Widget>();
    }

    // A real job that waits for its token from a peer that never answers, and its stop.
    QTcpServer silentService;
    void setJobRunning(bool running)
    {
        if (!running) {
            View::button(*window, "stopConvertButton")->click();
            QVERIFY(!View::button(*window, "stopConvertButton")->isEnabled());
            return;
        }
        QVERIFY(silentService.isListening() || silentService.listen(QHostAddress::LocalHost));
        window->setServiceBaseUrl(
            QStringLiteral("http://127.0.0.1:%1").arg(silentService.serverPort()));
        window->setTokenTimeoutMs(600000);
        if (View::taskQueue(*window).isEmpty()) {
            const QString queued = dir->path() + QStringLiteral("/queued.wav");
            writeFile(queued, "RIFF");
            window->addOutsideFiles({ queued });
        }
        View::button(*window, "startConvertButton")->click();
        QVERIFY(View::button(*window, "stopConvertButton")->isEnabled());
    }

private slots:
    void init()
    {
        AppGlobals::setScreenWidth(1920);
        AppGlobals::setScreenHeight(1080);
        AppGlobals::setAvailableHeight(1040);
    }

    void cleanup()
    {
        window.reset();
        dir.reset();
    }

    void constructedState()
    {
        build();
        Widget &w = *window;
        QVERIFY(w.isVisible());
        QCOMPARE(w.size(), QSize(1024, 728));
        QVERIFY(w.windowFlags() & Qt::FramelessWindowHint);
        for (const char *folder : { "/myWAVFiles", "/myWordFiles", "/myTmpWAVFiles" })
            QVERIFY(QDir(dir->path() + QLatin1String(folder)).exists());

        QVERIFY(!View::button(w, "wavListButton")->isChecked() && !View::button(w, "txtListButton")->isChecked());
        QVERIFY(View::list(w, "wavList")->isHidden() && View::list(w, "txtList")->isHidden());
        QVERIFY(View::button(w, "pauseButton")->isHidden() && View::button(w, "backwardButton")->isHidden());
        QVERIFY(View::textPane(w)->isHidden());
        QCOMPARE(View::textPane(w)->geometry(), QRect(200, 120, 824, 608));
        QVERIFY(!View::button(w, "stopConvertButton")->isEnabled());
        QVERIFY(View::button(w, "startConvertButton")->isEnabled() && View::button(w, "closeDocButton")->isEnabled());
        QCOMPARE(View::button(w, "closeDocButton")->geometry(), QRect(739, 5, 80, 30));
        QCOMPARE(comboTexts(View::combo(w, "languageCombo")),
            QStringList({ QStringLiteral("中文近场"), QStringLiteral("中文远场"),
                QStringLiteral("英文"), QStringLiteral("粤语"), QStringLiteral("四川话") }));
        QCOMPARE(View::combo(w, "languageCombo")->currentIndex(), 0);
        QVERIFY(View::combo(w, "taskFileCombo")->lineEdit()->isReadOnly());
        QCOMPARE(View::probeProcess(w)->processChannelMode(), QProcess::MergedChannels);
        // The client ends with the job that made it, not lost with the window.
        QVERIFY(View::http(w) && View::http(w)->parent() == w.transcriptionJob());
        QVERIFY(View::recordClock(w) && !View::recordClock(w)->isActive());
        QVERIFY(w.transcriptionJob()->accessToken()->timer() && !w.transcriptionJob()->accessToken()->timer()->isActive());

        // Every button points, and every image a style sheet names is compiled in.
        const QRegularExpression url(QStringLiteral("url\\((:/images/[^)]+)\\)"));
        const QList<QWidget *> children = w.findChildren<QWidget *>();
        int images = 0;
        for (QWidget *child : children) {
            if (qobject_cast<QPushButton *>(child))
                QCOMPARE(child->cursor().shape(), Qt::PointingHandCursor);
            auto matches = url.globalMatch(child->styleSheet());
            while (matches.hasNext()) {
                const QString image = matches.next().captured(1);
                QVERIFY2(!QPixmap(image).isNull(), qPrintable(image));
                ++images;
            }
        }
        QCOMPARE(images, 10);
        // The "+" is an icon, so that it is drawn greyed out when disabled.
        QVERIFY(!View::button(w, "addTaskButton")->icon().isNull());
    }

    void listHeightsFollowPaneAndMaximise()
    {
        build();
        Widget &w = *window;
        View::button(w, "wavListButton")->setChecked(true);
        QVERIFY(!View::list(w, "wavList")->isHidden());
        QCOMPARE(View::list(w, "wavList")->height(), 597);
        View::button(w, "txtListButton")->setChecked(true);
        // The transcript search comes with the transcript list and shares its space.
        const int search = View::find<QWidget>(w, "transcriptSearch")->height();
        QVERIFY(search > 0);
        QCOMPARE(View::list(w, "wavList")->height(), (598 - search) / 2 - 1);
        QCOMPARE(View::list(w, "txtList")->height(), (598 - search) / 2);

        View::button(w, "maxButton")->click();
        QCOMPARE(w.size(), QSize(1920, 1040));
        QCOMPARE(w.pos(), QPoint(0, 0));
        QCOMPARE(View::button(w, "maxButton")->toolTip(), QStringLiteral("还原"));
        QCOMPARE(View::button(w, "closeButton")->geometry(), QRect(1890, 2, 26, 26));
        QCOMPARE(View::button(w, "homeButton")->geometry(), QRect(1815, 2, 26, 26));
        QCOMPARE(View::label(w, "leftPanel")->height(), 1010);
        QCOMPARE(View::label(w, "rightPanel")->geometry(), QRect(200, 30, 1720, 1010));
        QCOMPARE(View::button(w, "closeDocButton")->x(), 1720 - 85);
        QCOMPARE(View::textPane(w)->size(), QSize(1720, 910));
        QCOMPARE(View::list(w, "wavList")->height(), (910 - search) / 2 - 1);
        QCOMPARE(View::list(w, "txtList")->height(), (910 - search) / 2);

        View::button(w, "wavListButton")->setChecked(false);
        QVERIFY(View::list(w, "wavList")->isHidden());
        QCOMPARE(View::list(w, "txtList")->height(), 909 - search);

        View::button(w, "maxButton")->click();
        QCOMPARE(w.size(), QSize(1024, 728));
        QCOMPARE(w.pos(), QPoint(448, 176));
        QCOMPARE(View::button(w, "maxButton")->toolTip(), QStringLiteral("最大化"));
        QCOMPARE(View::button(w, "closeButton")->geometry(), QRect(994, 2, 26, 26));
        QCOMPARE(View::textPane(w)->size(), QSize(824, 598));
        QCOMPARE(View::list(w, "txtList")->height(), 597 - search);
    }

    void dragRules()
    {
        build();
        Widget &w = *window;
        w.move(100, 100);
        auto press = [&](Qt::MouseButton button) {
            QMouseEvent e(QEvent::MouseButtonPress, QPoint(300, 10), w.mapToGlobal(QPoint(300, 10)),
                button, button, Qt::NoModifier);
            QApplication::sendEvent(&w, &e);
        };
        auto moveTo = [&](const QPoint &global, Qt::MouseButtons buttons) {
            QMouseEvent e(
                QEvent::MouseMove, QPoint(), global, Qt::NoButton, buttons, Qt::NoModifier);
            QApplication::sendEvent(&w, &e);
        };
        press(Qt::RightButton);
        moveTo(QPoint(700, 500), Qt::RightButton);
        QCOMPARE(w.pos(), QPoint(100, 100));

        press(Qt::LeftButton);
        moveTo(QPoint(700, 500), Qt::LeftButton);
        QCOMPARE(w.pos(), QPoint(400, 490));
        QMouseEvent release(QEvent::MouseButtonRelease, QPoint(), QPoint(), Qt::LeftButton,
            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&w, &release);
        moveTo(QPoint(900, 900), Qt::LeftButton);
        QCOMPARE(w.pos(), QPoint(400, 490));

        // On a desktop as wide as the window it always counts as maximised: no drag, and the
        // maximise button restores.
        AppGlobals::setScreenWidth(1024);
        press(Qt::LeftButton);
        moveTo(QPoint(10, 10), Qt::LeftButton);
        QCOMPARE(w.pos(), QPoint(400, 490));
        View::button(w, "maxButton")->click();
        QCOMPARE(w.size(), QSize(1024, 728));
        QCOMPARE(View::button(w, "maxButton")->toolTip(), QStringLiteral("最大化"));
    }

    // The exit ends the window's own audio runs only, and removes the test recording.
    void closeEndsOnlyOwnProcesses()
    {
        build();
        const QStringList endless = { QStringLiteral("-nostdin"), QStringLiteral("-f"),
            QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("anullsrc"),
            QStringLiteral("-f"), QStringLiteral("null"), QStringLiteral("-") };
        QProcess foreign;
        foreign.start(QStringLiteral("ffmpeg"), endless);
        QVERIFY(foreign.waitForStarted());
        View::cutProcess(*window)->start(QStringLiteral("ffmpeg"), endless);
        QVERIFY(View::cutProcess(*window)->waitForStarted());
        const QString recordTest = dir->path() + QStringLiteral("/recordTest.wav");
        writeFile(recordTest, "RIFF");

        View::button(*window, "closeButton")->click();
        QCOMPARE(View::cutProcess(*window)->state(), QProcess::NotRunning);
        QCOMPARE(foreign.state(), QProcess::Running);
        QVERIFY(!QFile::exists(recordTest));
        QVERIFY(!window->isVisible());
        foreign.kill();
        foreign.waitForFinished();
    }

    void loadingListsAndDeletesNothing()
    {
        build({ QStringLiteral("b.wav"), QStringLiteral("A.mp3"), QStringLiteral("c.WAV"),
                  QStringLiteral("会议 记录.wav") },
            { QStringLiteral("a.txt"), QStringLiteral("b.TXT"), QStringLiteral("c.doc"),
                QStringLiteral("noext") });
        QDir(wavDir()).mkdir(QStringLiteral("sub"));
        writeFile(wavDir() + QStringLiteral("/.hidden"), "x");
        window = std::make_unique<Widget>();

        QCOMPARE(View::itemTexts(View::list(*window, "wavList")),
            QStringList({ QStringLiteral("A.mp3"), QStringLiteral("b.wav"), QStringLiteral("c.WAV"),
                QStringLiteral("会议 记录.wav") }));
        QCOMPARE(window->audioPaths().first(), wavDir() + QStringLiteral("/A.mp3"));
        QCOMPARE(View::itemTexts(View::list(*window, "txtList")), QStringList({ QStringLiteral("a.txt") }));
        QCOMPARE(window->transcriptPaths(), QStringList({ wordDir() + QStringLiteral("/a.txt") }));
        for (const char *name : { "b.TXT", "c.doc", "noext" })
            QVERIFY(QFile::exists(wordDir() + QLatin1Char('/') + QLatin1String(name)));
    }

    void searchOpensTheTranscriptAtItsLine()
    {
        build();
        window.reset();
        writeFile(wordDir() + QStringLiteral("/notes.txt"),
            QStringLiteral("开场\n\n今天的会议讨论预算\n").toUtf8());
        window = std::make_unique<Widget>();
        Widget &w = *window;
        ScriptedDialogs dialogs;
        QTRY_VERIFY_WITH_TIMEOUT(View::find<QLabel>(w, "searchState")->isHidden(), 60000);
        auto *search = View::find<QWidget>(w, "transcriptSearch");
        QSignalSpy shown(search, SIGNAL(resultsShown(int)));
        View::find<QLineEdit>(w, "searchField")->setText(QStringLiteral("會議"));
        QVERIFY(shown.wait(30000));
        QCOMPARE(shown.last().at(0).toInt(), 1);
        auto *results = View::find<QListWidget>(w, "searchResults");
        QCOMPARE(results->count(), 1);

        // Refused while a job runs, as opening from the list is.
        setJobRunning(true);
        emit results->itemActivated(results->item(0));
        QCOMPARE(dialogs.noticeTexts(), QStringList { QStringLiteral("正在转换，请稍后再打开文档！") });
        setJobRunning(false);
        QVERIFY(w.openTranscript() != wordDir() + QStringLiteral("/notes.txt"));

        emit results->itemActivated(results->item(0));
        QCOMPARE(w.openTranscript(), wordDir() + QStringLiteral("/notes.txt"));
        QCOMPARE(View::textPane(w)->textCursor().blockNumber(), 2);
    }

    void contextMenuOffersActionsOnItemsOnly()
    {
        build({ QStringLiteral("a.wav") });
        ScriptedDialogs dialogs;
        MyListWidget *list = View::list(*window, "wavList");
        View::button(*window, "wavListButton")->setChecked(true);
        const QPoint onItem = list->visualItemRect(list->item(0)).center();
        for (const QPoint &pos : { onItem, QPoint(10, 500) }) {
            QCursor::setPos(list->viewport()->mapToGlobal(pos));
            QContextMenuEvent event(QContextMenuEvent::Mouse, pos);
            QApplication::sendEvent(list->viewport(), &event);
        }
        QCOMPARE(dialogs.menus.size(), 2);
        QCOMPARE(dialogs.menus.at(0)->actions().size(), 3);
        QCOMPARE(dialogs.menus.at(0)->actions().at(0)->text(), QStringLiteral("删除"));
        QVERIFY(dialogs.menus.at(1)->actions().isEmpty());
        QCOMPARE(list->itemUnderMenu(), list->item(0));
    }

    void deleteAudio()
    {
        build({ QStringLiteral("a.wav"), QStringLiteral("b.wav") });
        ScriptedDialogs dialogs;
        Widget &w = *window;
        const QString a = wavDir() + QStringLiteral("/a.wav");
        dialogs.openResults.enqueue({ a });
        View::button(w, "uploadButton")->click();

        dialogs.answers.enqueue(false);
        w.delFile(QStringLiteral("wav"), QStringLiteral("a.wav"));
        QCOMPARE(dialogs.questions.last().text, QStringLiteral("确定要删除该录音文件吗？"));
        QVERIFY(QFile::exists(a));
        QCOMPARE(View::list(w, "wavList")->count(), 2);

        // While a job runs the task files stay where they are.
        setJobRunning(true);
        w.delFile(QStringLiteral("wav"), QStringLiteral("a.wav"));
        QCOMPARE(dialogs.noticeTexts().last(), QStringLiteral("正在转换，请稍后再修改音频文件！"));
        QCOMPARE(dialogs.questions.size(), 1);
        QVERIFY(QFile::exists(a));
        setJobRunning(false);

        dialogs.answers.enqueue(true);
        w.delFile(QStringLiteral("wav"), QStringLiteral("a.wav"));
        QVERIFY(!QFile::exists(a));
        QCOMPARE(View::itemTexts(View::list(w, "wavList")), QStringList({ QStringLiteral("b.wav") }));
        QCOMPARE(w.audioPaths(), QStringList({ wavDir() + QStringLiteral("/b.wav") }));
        QVERIFY(View::taskQueue(w).isEmpty());
        QCOMPARE(View::combo(w, "taskFileCombo")->count(), 0);
    }

    void renameAudio()
    {
        build(
            { QStringLiteral("talk.2024.wav"), QStringLiteral("m.wav"), QStringLiteral("x.wav") });
        ScriptedDialogs dialogs;
        Widget &w = *window;
        const QString talk = wavDir() + QStringLiteral("/talk.2024.wav");
        const QString m = wavDir() + QStringLiteral("/m.wav");
        // Queued talk first, listed second.
        dialogs.openResults.enqueue({ m, talk });
        View::button(w, "uploadButton")->click();

        // Failures: an existing name, the same name, a folder in the name; nothing changes.
        const QStringList before = w.audioPaths();
        QString prefilled;
        for (const QString &typed :
            { QStringLiteral("x"), QStringLiteral("talk.2024"), QStringLiteral("../escaped") }) {
            dialogs.onDialog = typeName(typed, &prefilled);
            w.renameFile(QStringLiteral("wav"), QStringLiteral("talk.2024.wav"));
            QCOMPARE(prefilled, QStringLiteral("talk"));
        }
        QCOMPARE(dialogs.notices.size(), 3);
        QCOMPARE(dialogs.notices.at(0).text, QStringLiteral("重命名失败，文件正在被使用！"));
        QCOMPARE(dialogs.notices.at(1).text, QStringLiteral("重命名失败，文件正在被使用！"));
        QVERIFY(!QFile::exists(dir->path() + QStringLiteral("/escaped.wav")));
        QCOMPARE(w.audioPaths(), before);
        QVERIFY(QFile::exists(talk));

        // Closing the dialog or leaving it empty changes nothing either.
        dialogs.onDialog = [](QDialog *d) { qobject_cast<MyInput *>(d)->slotClose(); };
        w.renameFile(QStringLiteral("wav"), QStringLiteral("talk.2024.wav"));
        dialogs.onDialog = typeName(QString());
        w.renameFile(QStringLiteral("wav"), QStringLiteral("talk.2024.wav"));
        QCOMPARE(w.audioPaths(), before);
        QCOMPARE(dialogs.notices.size(), 3);

        dialogs.onDialog = typeName(QStringLiteral("讲话 \"一\""));
        w.renameFile(QStringLiteral("wav"), QStringLiteral("talk.2024.wav"));
        const QString renamed = wavDir() + QStringLiteral("/讲话 \"一\".wav");
        QVERIFY(QFile::exists(renamed) && !QFile::exists(talk));
        QCOMPARE(View::list(w, "wavList")->item(2)->text(), QStringLiteral("讲话 \"一\".wav"));
        QCOMPARE(w.audioPaths().at(1), renamed);
        QCOMPARE(View::taskQueue(w), QStringList({ renamed, m }));
        QCOMPARE(View::combo(w, "taskFileCombo")->itemText(1), QStringLiteral("讲话 \"一\".wav"));
    }

    void saveAs()
    {
        build({ QStringLiteral("a.wav") });
        ScriptedDialogs dialogs;
        const QString source = wavDir() + QStringLiteral("/a.wav");
        const QString target = dir->path() + QStringLiteral("/copy of a.wav");
        writeFile(target, "old content");

        dialogs.saveResults.enqueue(target);
        window->saveAsFile(QStringLiteral("wav"), QStringLiteral("a.wav"));
        QCOMPARE(dialogs.fileDialogs.last().at(0), QStringLiteral("另存为"));
        QVERIFY(dialogs.fileDialogs.last().at(1).endsWith(QStringLiteral("/a.wav")));
        QCOMPARE(readFile(target), QByteArray("a.wav"));

        // Saving onto the source itself must not lose it.
        dialogs.saveResults.enqueue(source);
        window->saveAsFile(QStringLiteral("wav"), QStringLiteral("a.wav"));
        QCOMPARE(readFile(source), QByteArray("a.wav"));
        QCOMPARE(window->audioPaths(), QStringList({ source }));
    }

    void transcriptRoundTripAndZeroByte()
    {
        build({}, { QStringLiteral("a.txt"), QStringLiteral("z.txt") });
        ScriptedDialogs dialogs;
        Widget &w = *window;
        const QString a = wordDir() + QStringLiteral("/a.txt");
        QTextCodec *codec = QTextCodec::codecForLocale();
        writeFile(a, codec->fromUnicode(QStringLiteral("第一段 <b>\n第二段")));
        writeFile(wordDir() + QStringLiteral("/z.txt"), QByteArray("before\0after", 12));

        // Nothing opened yet: closing only hides. Text that looks like markup stays text, so
        // opening and closing never changes a transcript.
        View::button(w, "closeDocButton")->click();
        QVERIFY(View::textPane(w)->isHidden());

        emit View::list(w, "txtList")->itemDoubleClicked(View::list(w, "txtList")->item(0));
        QVERIFY(View::textPane(w)->isVisible());
        QCOMPARE(w.openTranscript(), a);
        QCOMPARE(View::textPane(w)->toPlainText(), QStringLiteral("第一段 <b>\n第二段"));
        View::textPane(w)->setPlainText(QStringLiteral("改过的\n第二行"));
        QTest::mouseClick(View::button(w, "closeDocButton"), Qt::LeftButton);
        QVERIFY(View::textPane(w)->isHidden());
        QCOMPARE(readFile(a), codec->fromUnicode(QStringLiteral("改过的\n第二行")));

        emit View::list(w, "txtList")->itemDoubleClicked(View::list(w, "txtList")->item(1));
        QCOMPARE(View::textPane(w)->toPlainText(), QStringLiteral("before"));

        // A vanished file neither replaces the text nor takes the binding.
        QFile::remove(a);
        emit View::list(w, "txtList")->itemDoubleClicked(View::list(w, "txtList")->item(0));
        QCOMPARE(w.openTranscript(), wordDir() + QStringLiteral("/z.txt"));
        QCOMPARE(View::textPane(w)->toPlainText(), QStringLiteral("before"));

        // While a job runs its pane stays bound to its own transcript.
        writeFile(a, "a");
        setJobRunning(true);
        emit View::list(w, "txtList")->itemDoubleClicked(View::list(w, "txtList")->item(0));
        QCOMPARE(
            dialogs.noticeTexts(), QStringList({ QStringLiteral("正在转换，请稍后再打开文档！") }));
        QCOMPARE(w.openTranscript(), wordDir() + QStringLiteral("/z.txt"));
    }

    void closeDocumentThatCannotBeSaved()
    {
        build({}, { QStringLiteral("a.txt") });
        ScriptedDialogs dialogs;
        Widget &w = *window;
        emit View::list(w, "txtList")->itemDoubleClicked(View::list(w, "txtList")->item(0));
        View::textPane(w)->setPlainText(QStringLiteral("the user's edits"));
        // The folder went away and a file took its name: nothing can be written there.
        QVERIFY(QDir(wordDir()).removeRecursively());
        writeFile(wordDir(), "not a folder");

        View::button(w, "closeDocButton")->click();
        QCOMPARE(dialogs.noticeTexts(),
            QStringList({ QStringLiteral("转写文本保存失败，请检查文件夹是否可写！") }));
        QVERIFY(View::textPane(w)->isVisible());
        QCOMPARE(View::textPane(w)->toPlainText(), QStringLiteral("the user's edits"));
    }

    void renameRefusesControlCharacters()
    {
        build({ QStringLiteral("a.wav"), QStringLiteral("b.wav") });
        ScriptedDialogs dialogs;
        Widget &w = *window;
        // A NUL would cut the name to "b" + ".wav" behind the check for an existing file.
        const QString typed = QStringLiteral("b") + QChar(0) + QStringLiteral("x");
        for (const QString &name :
            { typed, QStringLiteral("tab\tname"), QStringLiteral("line\n") }) {
            dialogs.onDialog = typeName(name);
            w.renameFile(QStringLiteral("wav"), QStringLiteral("a.wav"));
        }
        const QString refused = QStringLiteral("文件名不能包含路径分隔符！");
        QCOMPARE(dialogs.noticeTexts(), QStringList({ refused, refused, refused }));
        QCOMPARE(readFile(wavDir() + QStringLiteral("/a.wav")), QByteArray("a.wav"));
        QCOMPARE(readFile(wavDir() + QStringLiteral("/b.wav")), QByteArray("b.wav"));
        QCOMPARE(QDir(wavDir()).entryList(QDir::Files).size(), 2);
    }

    void renameAndDeleteOfOpenTranscript()
    {
        build({}, { QStringLiteral("a.txt") });
        ScriptedDialogs dialogs;
        Widget &w = *window;
        emit View::list(w, "txtList")->itemDoubleClicked(View::list(w, "txtList")->item(0));
        View::textPane(w)->setPlainText(QStringLiteral("edited"));

        dialogs.onDialog = typeName(QStringLiteral("b"));
        w.renameFile(QStringLiteral("word"), QStringLiteral("a.txt"));
        const QString b = wordDir() + QStringLiteral("/b.txt");
        QCOMPARE(w.openTranscript(), b);
        View::button(w, "closeDocButton")->click();
        QCOMPARE(readFile(b), QByteArray("edited"));
        QVERIFY(!QFile::exists(wordDir() + QStringLiteral("/a.txt")));

        emit View::list(w, "txtList")->itemDoubleClicked(View::list(w, "txtList")->item(0));
        // The transcript a running job writes into stays in place.
        setJobRunning(true);
        w.delFile(QStringLiteral("word"), QStringLiteral("b.txt"));
        QCOMPARE(dialogs.noticeTexts().last(), QStringLiteral("正在转换，请稍后再修改文本文件！"));
        QVERIFY(QFile::exists(b));
        setJobRunning(false);

        dialogs.answers.enqueue(true);
        w.delFile(QStringLiteral("word"), QStringLiteral("b.txt"));
        QCOMPARE(dialogs.questions.last().text, QStringLiteral("确定要删除该文本文件吗？"));
        QVERIFY(View::textPane(w)->isHidden());
        QVERIFY(w.openTranscript().isEmpty());
        View::button(w, "closeDocButton")->click();
        QVERIFY(!QFile::exists(b));
        QCOMPARE(View::list(w, "txtList")->count(), 0);
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
