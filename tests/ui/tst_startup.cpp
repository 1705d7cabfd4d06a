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

    static void start(QProcess &process, const QString &program)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(program, QStringList());
        QVERIFY(process.waitForStarted());
    }

    static QString probeGuard()
    {
        QProcess probe;
        start(probe, QStringLiteral(GUARDPROBE_PATH));
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

        QProcess running;
        start(running, firstProgram);
        QTRY_VERIFY_WITH_TIMEOUT(windowBuilt(first), 20000);
        QCOMPARE(probeGuard(), QStringLiteral("1 程序已经启动！"));

        // A real second start waits on its notice and never builds a window.
        QProcess refused;
        start(refused, secondProgram);
        QTest::qWait(1500);
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
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
