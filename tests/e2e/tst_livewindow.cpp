// Live text in the window: the recorder's ffmpeg reads spoken sentences at real-time speed (the
// test's stand-in for a microphone) into the real local service; the text shows while it is
// said, the stop comes in the middle of a sentence, and the live text is the recording's
// transcript with its times.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QTextEdit>
#include <QtTest>

#include "asr/livetranscriber.h"
#include "audio/wavinfo.h"
#include "common/paddedspeech.h"
#include "common/scripteddialogs.h"
#include "common/speechservice.h"
#include "common/windowview.h"
#include "common/wordrate.h"
#include "core/transcripttimes.h"
#include "ui/appglobals.h"
#include "ui/widget.h"

namespace {
const QStringList Sentences = {
    QStringLiteral("The weather was cold this morning, so we stayed inside."),
    QStringLiteral("My brother wants to study history at the university."),
    QStringLiteral("Our teacher said that the best way to learn a language is to speak it."),
};
} // namespace

class LiveWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void showsTextAsSaidAndKeepsItAsTheTranscript();
    void serviceKilledAndStartedAgainMidRecording();
    void closingMidRecordingKeepsWhatCame();
};

namespace {

// A home of the test's own, the sentences spoken into a file (each followed by silence to the
// next 6 s mark; the last by lastSeconds of it), and the real service.
struct Room
{
    QTemporaryDir home;
    QString speech;
    SpeechServiceProcess service;

    bool prepare(int lastSeconds = 0)
    {
        if (!home.isValid())
            return false;
        AppGlobals::setAppDir(home.path());
        qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toLocal8Bit());
        speech = home.filePath(QStringLiteral("speech.wav"));
        return makePaddedSpeech(speech, Sentences, 6, lastSeconds) && service.start();
    }
};

// Starts recording with live text from speech (read at real-time speed for the microphone).
bool startLive(Widget &window, const QString &serviceUrl, const QString &speech)
{
    window.setServiceBaseUrl(serviceUrl);
    window.setServiceAutoStart(false);
    View::combo(window, "languageCombo")->setCurrentText(QStringLiteral("英文"));
    window.setCaptureInputOverride({ QStringLiteral("-i"), speech });
    View::chooseDevice(window, QStringLiteral("Test Mic"));
    auto *liveCheck = window.findChild<QCheckBox *>(QStringLiteral("liveCheck"));
    if (!liveCheck || !liveCheck->isEnabled())
        return false;
    liveCheck->setChecked(true);
    View::button(window, "recordButton")->setChecked(true);
    return true;
}

QString liveStatusText(Widget &window)
{
    auto *status = window.findChild<QLabel *>(QStringLiteral("liveStatusLabel"));
    return status && status->isVisible() ? status->text() : QString();
}

} // namespace

void LiveWindowTest::showsTextAsSaidAndKeepsItAsTheTranscript()
{
    Room room;
    QVERIFY2(room.prepare(), qPrintable(room.service.logText()));

    ScriptedDialogs dialogs;
    Widget window;
    QVERIFY(startLive(window, room.service.baseUrl(), room.speech));
    auto *liveCheck = window.findChild<QCheckBox *>(QStringLiteral("liveCheck"));
    QVERIFY(!liveCheck->isEnabled());

    // The first sentence's text is in the pane while the second is still being said.
    QTextEdit *pane = window.findChild<QTextEdit *>(QStringLiteral("textEdit"));
    QTRY_VERIFY_WITH_TIMEOUT(!pane->toPlainText().trimmed().isEmpty(), 60000);
    QVERIFY(View::recordProcess(window)->state() == QProcess::Running);
    QVERIFY(window.liveTranscriber()->audioMs() < 12000);
    // The pane is the live text's: a job may not take it meanwhile.
    View::button(window, "startConvertButton")->click();
    QCOMPARE(dialogs.notices.size(), 1);

    // Stopped while the third sentence is said (from 12 s on).
    QTRY_VERIFY_WITH_TIMEOUT(window.liveTranscriber()->audioMs() >= 13500, 60000);
    View::button(window, "recordButton")->setChecked(false);
    auto *status = window.findChild<QLabel *>(QStringLiteral("liveStatusLabel"));
    QVERIFY(status->isVisible());
    QVERIFY2(status->text().contains(QStringLiteral("正在识别")), qPrintable(status->text()));
    const QString recording = window.recordingFile();
    QVERIFY(window.audioPaths().contains(recording));
    QTRY_VERIFY_WITH_TIMEOUT(!status->isVisible(), 60000);
    QCOMPARE(dialogs.notices.size(), 1);
    QVERIFY(liveCheck->isEnabled());

    // Saved as the recording's transcript, listed, and open in the pane with its times.
    const QString transcriptPath = window.openTranscript();
    QVERIFY(window.transcriptPaths().contains(transcriptPath));
    QFile file(transcriptPath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QTextCodec::codecForLocale()->toUnicode(file.readAll());
    QCOMPARE(text, pane->toPlainText());
    TranscriptTimes times;
    QVERIFY(TranscriptTimesRules::load(transcriptPath, &times));
    QCOMPARE(times.source, recording);
    QCOMPARE(times.paragraphs.size(), 3);
    for (int k = 0; k < 2; ++k) {
        const TimedParagraph &said = times.paragraphs[k];
        QVERIFY2(WordRate::errorRate(Sentences[k], said.text) < 0.35, qPrintable(said.text));
        QCOMPARE(said.utterances.size(), 1);
        QVERIFY(said.utterances[0].startMs >= k * 6000 - 300);
        QVERIFY(said.utterances[0].endMs <= (k + 1) * 6000);
    }
    // The sentence cut off by the stop keeps its first words.
    QVERIFY2(times.paragraphs[2].text.startsWith(QLatin1String("our")),
        qPrintable(times.paragraphs[2].text));
    // Each of them plays from its own line, and subtitles have a cue for each.
    const QVector<qint64> starts = TranscriptTimesRules::lineStarts(text, times.paragraphs);
    QCOMPARE(std::count_if(starts.begin(), starts.end(), [](qint64 ms) { return ms >= 0; }), 3);
    QCOMPARE(TranscriptTimesRules::match(text, times.paragraphs).utterances.size(), 3);
    QVERIFY(WavInfo::fromFile(recording).isPcm16kMono());
}

// The service goes away after the first sentence and comes back on its port while the second
// is said: the pane says it waits, and every sentence's text still comes, in order.
void LiveWindowTest::serviceKilledAndStartedAgainMidRecording()
{
    // The last sentence is followed by silence, so that its end is heard before the stop.
    Room room;
    QVERIFY2(room.prepare(10), qPrintable(room.service.logText()));
    const int port = room.service.port();

    ScriptedDialogs dialogs;
    Widget window;
    QVERIFY(startLive(window, room.service.baseUrl(), room.speech));
    QTextEdit *pane = window.findChild<QTextEdit *>(QStringLiteral("textEdit"));
    QTRY_VERIFY_WITH_TIMEOUT(!pane->toPlainText().trimmed().isEmpty(), 60000);
    room.service.kill();
    QTRY_VERIFY_WITH_TIMEOUT(
        liveStatusText(window).contains(QStringLiteral("识别服务暂无响应")), 60000);
    SpeechServiceProcess again;
    QVERIFY2(again.start(port), qPrintable(again.logText()));

    QTRY_VERIFY_WITH_TIMEOUT(window.liveTranscriber()->audioMs() >= 20000, 60000);
    View::button(window, "recordButton")->setChecked(false);
    QTRY_VERIFY_WITH_TIMEOUT(liveStatusText(window).isEmpty(), 120000);
    QVERIFY2(dialogs.notices.isEmpty(), qPrintable(dialogs.noticeTexts().join(QLatin1Char('|'))));
    TranscriptTimes times;
    QVERIFY(TranscriptTimesRules::load(window.openTranscript(), &times));
    QCOMPARE(times.paragraphs.size(), Sentences.size());
    for (int k = 0; k < Sentences.size(); ++k) {
        QVERIFY2(WordRate::errorRate(Sentences[k], times.paragraphs[k].text) < 0.35,
            qPrintable(times.paragraphs[k].text));
    }
    QVERIFY(WavInfo::fromFile(window.recordingFile()).isPcm16kMono());
}

// Closing the window while it records with live text ends the recorder and keeps the text
// that came as the recording's transcript.
void LiveWindowTest::closingMidRecordingKeepsWhatCame()
{
    // A minute of silence after the sentences: still recording however late the text comes.
    Room room;
    QVERIFY2(room.prepare(60), qPrintable(room.service.logText()));

    ScriptedDialogs dialogs;
    auto window = std::make_unique<Widget>();
    QVERIFY(startLive(*window, room.service.baseUrl(), room.speech));
    QTextEdit *pane = window->findChild<QTextEdit *>(QStringLiteral("textEdit"));
    QTRY_VERIFY_WITH_TIMEOUT(!pane->toPlainText().trimmed().isEmpty(), 60000);
    const QString recording = window->recordingFile();
    QProcess *recorder = View::recordProcess(*window);
    QVERIFY(recorder->state() == QProcess::Running);
    const qint64 recorderPid = recorder->processId();

    window->close();
    QVERIFY(recorder->state() == QProcess::NotRunning);
    QVERIFY(!QFile::exists(QStringLiteral("/proc/%1/cmdline").arg(recorderPid)));
    window.reset();
    QVERIFY(dialogs.notices.isEmpty());
    const QString transcript = QFileInfo(recording).completeBaseName();
    QFile file(room.home.filePath(QStringLiteral("myWordFiles/%1.txt").arg(transcript)));
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
    const QString text = QTextCodec::codecForLocale()->toUnicode(file.readAll());
    QVERIFY2(WordRate::errorRate(Sentences[0], text.section(QLatin1Char('\n'), 0, 0)) < 0.35,
        qPrintable(text));
    // The audio that was recorded, up to the close, is there to run as a job.
    QVERIFY(QFileInfo(recording).size() > 44);
}

QTEST_MAIN(LiveWindowTest)
#include "tst_livewindow.moc"
