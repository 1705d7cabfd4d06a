#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <signal.h>

// Real processes: the program and a probe of its single-instance guard. The program keeps its
// working folders next to its executable, so each start runs from a copy in a temporary folder.
class TestStartup : public QObject
{
    Q_OBJECT

    static QString copyProgram(const QTemporaryDir &dir)
    {
        const QString target = dir.filePath(QStringLiteral("tovarin"));
        QFile::copy(QStringLiteral(TOVARIN_PATH), target);
        return target;
    }

    // The guard and the socket live in the user's runtime folder: this test's own.
    QTemporaryDir runtime;

    void start(QProcess &process, const QString &program, const QString &runtimeDir = QString())
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        // The per-user guard lives in the home folder: this test's own too.
        env.insert(QStringLiteral("HOME"), runtime.filePath(QStringLiteral("home")));
        if (runtimeDir == QLatin1String("-"))
            env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        else
            env.insert(QStringLiteral("XDG_RUNTIME_DIR"),
                runtimeDir.isEmpty() ? runtime.path() : runtimeDir);
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(program, QStringList());
        QVERIFY(process.waitForStarted());
    }

    // runtimeDir: the probe's XDG_RUNTIME_DIR; empty is this test's own, "-" none at all.
    QString probeGuard(const QString &runtimeDir = QString())
    {
        QProcess probe;
        start(probe, QStringLiteral(GUARDPROBE_PATH), runtimeDir);
        probe.waitForFinished(20000);
        return QString::fromUtf8(probe.readAllStandardOutput()).trimmed();
    }

    static bool windowBuilt(const QTemporaryDir &dir)
    {
        return QDir(dir.filePath(QStringLiteral("myWAVFiles"))).exists()
            && QDir(dir.filePath(QStringLiteral("myWordFiles"))).exists()
            && QDir(dir.filePath(QStringLiteral("myTmpWAVFiles"))).exists();
    }

    static void stop(QProcess &process, int signal)
    {
        ::kill(static_cast<pid_t>(process.processId()), signal);
        QVERIFY(process.waitForFinished(10000));
    }

private slots:
    void secondInstanceRefusedAndKilledInstanceDoesNotLockOut()
    {
        QTemporaryDir first, second;
        QVERIFY(first.isValid() && second.isValid());
        const QString firstProgram = copyProgram(first);
        const QString secondProgram = copyProgram(second);
        QVERIFY(QFile::exists(firstProgram) && QFile::exists(secondProgram));

        // Nothing holds the guard: the probe may go on.
        QCOMPARE(probeGuard(), QStringLiteral("0"));

        // A converted copy left by a run that was killed is cleared at the next start.
        const QString leftOver = first.filePath(QStringLiteral("myTmpWAVFiles/talk_16k.wav"));
        QVERIFY(QDir(first.path()).mkpath(QStringLiteral("myTmpWAVFiles")));
        QFile left(leftOver);
        QVERIFY(left.open(QIODevice::WriteOnly) && left.write("RIFF") == 4);
        left.close();

        QProcess running;
        start(running, firstProgram);
        QTRY_VERIFY_WITH_TIMEOUT(windowBuilt(first), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(leftOver), 20000);
        QCOMPARE(probeGuard(), QStringLiteral("1 程序已经启动！"));
        // One guard per user, wherever XDG_RUNTIME_DIR points or whether it is set.
        QTemporaryDir otherRuntime;
        QCOMPARE(probeGuard(otherRuntime.path()), QStringLiteral("1 程序已经启动！"));
        QCOMPARE(probeGuard(QStringLiteral("-")), QStringLiteral("1 程序已经启动！"));
        // A runtime folder that is not ours to use is named in the notice.
        QTemporaryDir shared;
        QFile taken(shared.filePath(QStringLiteral("tovarin")));
        QVERIFY(taken.open(QIODevice::WriteOnly));
        const QString refusedText = probeGuard(shared.path());
        QVERIFY2(refusedText.startsWith(QStringLiteral("1 程序启动错误！"))
                && refusedText.contains(taken.fileName()),
            qPrintable(refusedText));

        // A real second start waits on its notice and never builds a window.
        QProcess refused;
        start(refused, secondProgram);
        // Given time to build one, it must not, nor end.
        QVERIFY(!QTest::qWaitFor(
            [&] { return windowBuilt(second) || refused.state() != QProcess::Running; }, 1500));
        QCOMPARE(refused.state(), QProcess::Running);
        QVERIFY(!windowBuilt(second));
        stop(refused, SIGKILL);

        // The first instance dies without any clean-up; the next start must still succeed.
        stop(running, SIGKILL);
        QProcess restarted;
        start(restarted, secondProgram);
        QTRY_VERIFY_WITH_TIMEOUT(windowBuilt(second), 20000);
        QCOMPARE(restarted.state(), QProcess::Running);
        QCOMPARE(probeGuard(), QStringLiteral("1 程序已经启动！"));
        stop(restarted, SIGTERM);
        QCOMPARE(probeGuard(), QStringLiteral("0"));
    }

    // Installed (the service in ../libexec/tovarin beside it), the program keeps the folders in
    // the user's data folder. A second start given a file hands it over and ends at once, with no
    // notice. Guard and hand-over live in this case's own temporary folder, apart from the rest.
    void installedProgramAndSecondStartWithAFile()
    {
        QTemporaryDir root;
        QVERIFY(root.isValid());
        for (const char *folder : { "usr/bin", "usr/libexec/tovarin", "home", "tmp" })
            QVERIFY(QDir(root.path()).mkpath(QString::fromUtf8(folder)));
        const QString program = root.filePath(QStringLiteral("usr/bin/tovarin"));
        QVERIFY(QFile::copy(QStringLiteral(TOVARIN_PATH), program));
        QVERIFY(QFile::link(QStringLiteral(TOV_BINARY_DIR "/service/speech-service"),
            root.filePath(QStringLiteral("usr/libexec/tovarin/speech-service"))));
        const QString file = root.filePath(QStringLiteral("会议 记录.mp3"));
        QFile media(file);
        QVERIFY(media.open(QIODevice::WriteOnly) && media.write("x") == 1);
        media.close();

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("HOME"), root.filePath(QStringLiteral("home")));
        env.insert(QStringLiteral("TMPDIR"), root.filePath(QStringLiteral("tmp")));
        env.remove(QStringLiteral("XDG_DATA_HOME"));
        // Without a runtime folder the guard and the socket go to the user's data folder.
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        QProcess first;
        first.setProcessEnvironment(env);
        first.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        first.start(program, { file });
        QVERIFY(first.waitForStarted());

        QDir data(root.filePath(QStringLiteral("home/.local/share/tovarin")));
        QTRY_VERIFY_WITH_TIMEOUT(data.exists(QStringLiteral("myWAVFiles"))
                && data.exists(QStringLiteral("myWordFiles"))
                && data.exists(QStringLiteral("myTmpWAVFiles")),
            20000);
        QVERIFY(!QDir(root.filePath(QStringLiteral("usr/bin/myWAVFiles"))).exists());

        QProcess second;
        second.setProcessEnvironment(env);
        second.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        second.start(program, { file });
        QVERIFY(second.waitForStarted());
        // It ends by itself; with no one to take the file it would wait on its notice instead.
        QVERIFY(second.waitForFinished(30000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(first.state(), QProcess::Running);
        const QFileInfo folder(data.path());
        QVERIFY(!(folder.permissions()
            & (QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther
                | QFile::WriteOther | QFile::ExeOther)));
        QVERIFY(QFileInfo::exists(data.filePath(QStringLiteral("instance"))));
        stop(first, SIGTERM);
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
