// A job that ended early goes on where it ended: real window (offscreen), real ffmpeg, the real
// speech service, on three short segments of flite speech. Each case interrupts a job after its
// first recognised segment, starts it again, counts the requests of the new run, and compares the
// transcript with that of an uninterrupted run.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QTextEdit>
#include <QtTest>

#include <memory>

#include "ui/appglobals.h"
#include "asr/qthttpclass.h"
#include "asr/resumestore.h"
#include "asr/transcriptionjob.h"
#include "common/drivenjob.h"
#include "common/paddedspeech.h"
#include "common/scripteddialogs.h"
#include "common/speechservice.h"
#include "common/testfiles.h"
#include "common/windowview.h"
#include "ui/widget.h"

namespace {
const int segments = 3;
// Far shorter than the users' 59 s: what is proved is where the job goes on, not the length.
const int segmentSeconds = 5;
// About three seconds each when spoken, with different words for each segment.
const QStringList sentences { QStringLiteral(
                                  "The children played in the park until the sun went down."),
    QStringLiteral("My grandmother grows vegetables in her garden."),
    QStringLiteral("We took the train to visit our grandparents in the country.") };
const int jobLimitMs = 300000;

QString done()
{
    return QStringLiteral("文件已经全部转换完成！");
}

int requestsIn(const QString &log)
{
    // Request lines only: the service's start-up lines name the path too, with its limits.
    return log.count(QRegularExpression(QStringLiteral("^POST /server_api "),
        QRegularExpression::MultilineOption));
}
} // namespace

class ResumeTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void resumesAfterStopAndAfterServiceFailure();
    void resumesAfterNetworkFailure();
    void resumesAfterTheProgramIsKilled();
    void changedSourceOrLanguageOrTornStateStartsOver();

private:
    void newWindow();
    void addSource();
    void startJob();
    bool runToNotice(const QString &text);
    // The segments kept for the source now (-1: no state that reads).
    int keptSegments() const;
    // Waits until the first segment's state is on disk; false when the job (or the program
    // that runs it) ended first.
    bool waitForKeptSegment(const QProcess *program = nullptr);
    // Resumes the job, and checks that it sends only the missing segments and writes the
    // transcript of an uninterrupted run.
    void resumeAndCompare(int kept);
    QString transcript() const;
    bool startService(const QString &key, int port = 0);

    QTemporaryDir media;
    QString sourceMedia;
    QString reference;
    std::unique_ptr<SpeechServiceProcess> service;
    QString serviceKey; // the service's tokens stay valid across its restarts with this key
    std::unique_ptr<QTemporaryDir> home;
    std::unique_ptr<ScriptedDialogs> dialogs;
    std::unique_ptr<Widget> window;
    QString source;
};

bool ResumeTest::startService(const QString &key, int port)
{
    service.reset();
    serviceKey = key;
    // One decoder: the window sends one request at a time, and it loads in half the time.
    service.reset(new SpeechServiceProcess(
        { QStringLiteral("--key"), key, QStringLiteral("--threads"), QStringLiteral("1") }));
    return service->start(port);
}

void ResumeTest::initTestCase()
{
    QVERIFY(media.isValid());
    // Three sentences, each at the start of its own segment, the rest silence: three
    // requests with different texts, quick to decode. The last segment is shorter, so that
    // no sliver of a fourth one is cut.
    sourceMedia = media.filePath(QStringLiteral("talk.mp3"));
    QVERIFY(makePaddedSpeech(sourceMedia, sentences, segmentSeconds, 4));

    QVERIFY2(startService(QStringLiteral("first key")), qPrintable(service->logText()));

    // The uninterrupted run every resumed transcript must equal.
    init();
    startJob();
    QVERIFY(runToNotice(done()));
    QTRY_COMPARE(requestsIn(service->logText()), segments);
    reference = transcript();
    QCOMPARE(reference.count(QStringLiteral("\n\n")), segments - 1);
    QCOMPARE(keptSegments(), -1); // removed once the transcript is written
    cleanup();
}

void ResumeTest::init()
{
    home.reset(new QTemporaryDir);
    QVERIFY(home->isValid());
    AppGlobals::setAppDir(home->path());
    source = home->filePath(QStringLiteral("会议 talk.mp3"));
    QVERIFY(QFile::copy(sourceMedia, source));
    newWindow();
    addSource();
}

void ResumeTest::cleanup()
{
    window.reset();
    dialogs.reset();
    home.reset();
}

void ResumeTest::newWindow()
{
    window.reset();
    dialogs.reset(); // before the next one installs itself
    dialogs.reset(new ScriptedDialogs);
    window.reset(new Widget);
    window->setServiceBaseUrl(service->baseUrl());
    window->setSegmentSeconds(segmentSeconds);
    View::combo(*window, "languageCombo")->setCurrentText(QStringLiteral("英文"));
}

void ResumeTest::addSource()
{
    dialogs->openResults.enqueue({ source });
    View::button(*window, "uploadButton")->click();
}

void ResumeTest::startJob()
{
    dialogs->notices.clear();
    View::button(*window, "startConvertButton")->click();
}

bool ResumeTest::runToNotice(const QString &text)
{
    // The state is checked below, whether or not it came in time.
    static_cast<void>(QTest::qWaitFor([&] { return !dialogs->notices.isEmpty(); }, jobLimitMs));
    if (dialogs->noticeTexts() != QStringList { text }) {
        qWarning() << "notices:" << dialogs->noticeTexts();
        return false;
    }
    return true;
}

int ResumeTest::keptSegments() const
{
    ResumeState state;
    const ResumeStore store(ResumeStore::defaultFolder(home->path()));
    return store.load(source, &state) ? state.segments.size() : -1;
}

bool ResumeTest::waitForKeptSegment(const QProcess *program)
{
    // The state is checked below, whether or not it came in time.
    static_cast<void>(QTest::qWaitFor(
        [&] {
            return keptSegments() >= 1 || !dialogs->notices.isEmpty()
                || (program && program->state() != QProcess::Running);
        },
        jobLimitMs));
    if (keptSegments() >= 1)
        return true;
    qWarning() << "no segment kept; notices:" << dialogs->noticeTexts();
    return false;
}

QString ResumeTest::transcript() const
{
    return QTextCodec::codecForLocale()->toUnicode(
        TestFiles::readAll(home->filePath(QStringLiteral("myWordFiles/会议 talk.txt"))));
}

void ResumeTest::resumeAndCompare(int kept)
{
    QVERIFY(kept >= 1 && kept < segments);
    // Counted as the client sends them: a request an interrupted run left with the service
    // may still be logged there meanwhile.
    int requests = 0;
    QString paneAtFirstReply;
    auto count = [&](int id) {
        if (id != 2)
            return;
        if (++requests == 1)
            paneAtFirstReply = View::textPane(*window)->toPlainText();
    };
    const QMetaObject::Connection replies = connect(View::http(*window), &QtHttpClass::sigReplyFinish,
        window.get(), [&](int id, const QByteArray &) { count(id); });
    const QMetaObject::Connection errors = connect(View::http(*window), &QtHttpClass::sigReplyError,
        window.get(), [&](int id, const QByteArray &) { count(id); });
    // What the start button says at each step of the job (the window hears the step first),
    // and every segment the job reports, kept ones included (a front end that lists segments
    // with their times must see the same as after an uninterrupted run).
    QStringList statusTexts;
    QList<int> starts;
    TranscriptionJob *job = window->transcriptionJob();
    const QMetaObject::Connection status = connect(job, &TranscriptionJob::progressed, window.get(),
        [&] { statusTexts << View::button(*window, "startConvertButton")->text(); });
    const QMetaObject::Connection segmentsSeen
        = connect(job, &TranscriptionJob::segmentRecognised, window.get(),
            [&](int, int, int startSecond, int, const QString &) { starts << startSecond; });
    startJob();
    QVERIFY(runToNotice(done()));
    for (const QMetaObject::Connection &c : { replies, errors, status, segmentsSeen })
        disconnect(c);

    // The user saw where it resumed; only the missing segments were sent, and the kept text
    // was shown before any new one.
    QVERIFY2(statusTexts.contains(QStringLiteral("续转:第%1段").arg(kept + 1)),
        qPrintable(statusTexts.join(QLatin1Char(' '))));
    QCOMPARE(starts, (QList<int> { 0, segmentSeconds, 2 * segmentSeconds }));
    QCOMPARE(requests, segments - kept);
    const QStringList paragraphs = reference.split(QStringLiteral("\n\n"));
    const QString keptAndNext = paragraphs.mid(0, kept + 1).join(QStringLiteral("\n\n"));
    QVERIFY2(paneAtFirstReply.startsWith(keptAndNext) && reference.startsWith(paneAtFirstReply),
        qPrintable(paneAtFirstReply));
    QCOMPARE(transcript(), reference);
    QCOMPARE(keptSegments(), -1);
    QVERIFY(QDir(ResumeStore::defaultFolder(home->path())).entryList(QDir::Files).isEmpty());
}

void ResumeTest::resumesAfterStopAndAfterServiceFailure()
{
    startJob();
    QVERIFY(waitForKeptSegment());
    const int kept = keptSegments();
    View::button(*window, "stopConvertButton")->click();
    QVERIFY(dialogs->notices.isEmpty());
    QCOMPARE(keptSegments(), kept);

    // A new service at the same address that no longer takes the stored token: its refusal
    // ends the resumed run and keeps what was recognised.
    const int port = service->port();
    QVERIFY2(startService(serviceKey + QStringLiteral(" changed"), port),
        qPrintable(service->logText()));
    startJob();
    QVERIFY(runToNotice(QStringLiteral("鉴权失败！")));
    QCOMPARE(keptSegments(), kept);
    QCOMPARE(View::button(*window, "startConvertButton")->text(), QStringLiteral("开始转换"));

    resumeAndCompare(kept);
}

void ResumeTest::resumesAfterNetworkFailure()
{
    startJob();
    QVERIFY(waitForKeptSegment());
    const int kept = keptSegments();
    const int port = service->port();
    service->kill(); // the request for the next segment is out: its connection breaks
    QVERIFY(runToNotice(QStringLiteral("转换失败，请检查网络信号是否充足！")));
    QCOMPARE(keptSegments(), kept);

    QVERIFY2(startService(serviceKey, port), qPrintable(service->logText()));
    resumeAndCompare(kept);
}

void ResumeTest::resumesAfterTheProgramIsKilled()
{
    window.reset(); // the job runs in a program of its own
    QProcess program;
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(QCoreApplication::applicationFilePath(),
        DrivenJob::arguments(home->path(), source, service->baseUrl(), segmentSeconds));
    QVERIFY(program.waitForStarted());
    QVERIFY(waitForKeptSegment(&program));
    program.kill();
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitStatus(), QProcess::CrashExit);
    const int kept = keptSegments();
    QVERIFY(!QFile::exists(home->filePath(QStringLiteral("myWordFiles/会议 talk.txt"))));

    // Started again: the kept state is no transcript and shows in no list.
    newWindow();
    for (const QString &path : window->transcriptPaths() + window->audioPaths())
        QVERIFY2(!path.contains(QStringLiteral("myResumeFiles")), qPrintable(path));
    addSource();
    resumeAndCompare(kept);
}

void ResumeTest::changedSourceOrLanguageOrTornStateStartsOver()
{
    const QString states = ResumeStore::defaultFolder(home->path());
    int replies = 0;
    connect(View::http(*window), &QtHttpClass::sigReplyFinish, window.get(),
        [&](int id, const QByteArray &) { replies += id == 2 ? 1 : 0; });
    // Stopped once its first request is out, a run that started over has kept nothing but
    // its own replies, and shows nothing before them.
    auto startAndStop = [&](const char *what) {
        replies = 0;
        startJob();
        QTRY_VERIFY_WITH_TIMEOUT(
            View::http(*window)->outstandingRequests(2) == 1 || replies > 0, jobLimitMs);
        View::button(*window, "stopConvertButton")->click();
        QVERIFY2(keptSegments() <= replies, what);
        QVERIFY2(View::textPane(*window)->toPlainText().isEmpty() || replies > 0, what);
    };

    startJob();
    QVERIFY(waitForKeptSegment());
    View::button(*window, "stopConvertButton")->click();

    // The same bytes written again: a changed modification time is a changed source.
    const QByteArray bytes = TestFiles::readAll(source);
    QVERIFY(QFile::remove(source));
    QFile rewritten(source);
    QVERIFY(rewritten.open(QIODevice::WriteOnly));
    QCOMPARE(rewritten.write(bytes), qint64(bytes.size()));
    rewritten.close();
    startAndStop("changed source");

    // A state cut off by a crash is ignored and replaced.
    QFile torn(states + QLatin1Char('/') + ResumeRules::stateFileName(source));
    QVERIFY(torn.open(QIODevice::WriteOnly));
    torn.write("{\n \"version\" : 1,\n \"source\" : \"");
    torn.close();
    startAndStop("torn state");

    // A state of another language is not this run's.
    startJob();
    QVERIFY(waitForKeptSegment());
    View::button(*window, "stopConvertButton")->click();
    View::combo(*window, "languageCombo")->setCurrentText(QStringLiteral("中文近场"));
    startJob();
    QVERIFY(runToNotice(QStringLiteral("语音识别出错（错误码：3300）！")));
    QCOMPARE(keptSegments(), -1);
}

int main(int argc, char *argv[])
{
    if (DrivenJob::requested(argc, argv))
        return DrivenJob::run(argc, argv);
    QApplication app(argc, argv);
    ResumeTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_resume.moc"
