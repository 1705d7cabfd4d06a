#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QtTest>

#include "core/tasklist.h"

// The task list the window's task box shows and a job reads: paths in, names shown, two orders.
class TestTaskList : public QObject
{
    Q_OBJECT

private:
    static QStringList shown(const TaskList &list)
    {
        QStringList names;
        for (int row = 0; row < list.rowCount(); ++row)
            names << list.index(row).data().toString();
        return names;
    }

private slots:
    void queueAndRowsKeepTheirOwnOrders()
    {
        TaskList list;
        QAbstractItemModelTester tester(
            &list, QAbstractItemModelTester::FailureReportingMode::QtTest);
        const QString a = QStringLiteral("/m/a.mp3"), b = QStringLiteral("/n/a.mp3"),
                      rec = QStringLiteral("/w/录音 1.wav");
        QVERIFY(list.add(a));
        QVERIFY(list.add(b));
        QVERIFY(!list.add(a) && !list.add(QString()));
        // The newest file goes first; the box lists them as they came, each by its own path.
        QCOMPARE(list.paths(), (QStringList { b, a }));
        QCOMPARE(shown(list), (QStringList { QStringLiteral("a.mp3"), QStringLiteral("a.mp3") }));
        QCOMPARE(list.pathAt(1), b);
        QCOMPARE(list.index(1).data(TaskList::PathRole).toString(), b);

        // A recording behind the running front file, at the top of the box; listed once.
        QCOMPARE(list.addRecording(rec, 1), 0);
        QCOMPARE(list.addRecording(rec, 0), 0);
        QCOMPARE(list.paths(), (QStringList { b, rec, a }));
        QCOMPARE(list.pathAt(0), rec);

        // Renamed and removed by path: the other file of the same name keeps its places.
        const QString renamed = QStringLiteral("/n/c.mp3");
        list.rename(b, renamed);
        QCOMPARE(list.paths(), (QStringList { renamed, rec, a }));
        QCOMPARE(list.pathAt(2), renamed);
        list.remove(a);
        QCOMPARE(list.paths(), (QStringList { renamed, rec }));
        QCOMPARE(
            shown(list), (QStringList { QStringLiteral("录音 1.wav"), QStringLiteral("c.mp3") }));
        list.clear();
        QVERIFY(list.isEmpty() && list.rowCount() == 0 && list.front().isEmpty());
    }

    void convertedCopyIsOnlyShown()
    {
        TaskList list;
        QAbstractItemModelTester tester(
            &list, QAbstractItemModelTester::FailureReportingMode::QtTest);
        const QString a = QStringLiteral("/m/a.mp3"), b = QStringLiteral("/m/b.mp3");
        list.add(a);
        list.add(b);
        list.showConverted(b, QStringLiteral("b_16k.wav"));
        list.showConverted(QStringLiteral("/m/none.mp3"), QStringLiteral("none_16k.wav"));
        // The job's copy is named at the end of the box; the queue keeps the user's file.
        QCOMPARE(
            shown(list), (QStringList { QStringLiteral("a.mp3"), QStringLiteral("b_16k.wav") }));
        QCOMPARE(list.paths(), (QStringList { b, a }));
        QCOMPARE(list.pathAt(1), b);
        QSignalSpy changed(&list, &QAbstractItemModel::dataChanged);
        list.showAsAdded(b);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(shown(list), (QStringList { QStringLiteral("a.mp3"), QStringLiteral("b.mp3") }));
    }
};

QTEST_APPLESS_MAIN(TestTaskList)
#include "tst_tasklist.moc"
