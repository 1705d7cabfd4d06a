#include <QtTest>

#include "asr/jobnotices.h"
#include "ui/jobstatustexts.h"

// The words the window makes of what a job reports; the steps themselves are the job's tests.
class TestJobTexts : public QObject
{
    Q_OBJECT

private slots:
    void buttonText_data();
    void buttonText();
    void noticesNameWhatTheyAreAbout();
};

void TestJobTexts::buttonText_data()
{
    using Kind = JobStatus::Kind;
    QTest::addColumn<JobStatus>("status");
    QTest::addColumn<QString>("text");
    QTest::newRow("idle") << JobStatus { Kind::Ready } << "开始转换";
    QTest::newRow("cut 1 of 3") << JobStatus { Kind::Cutting, 1, 3 } << "分割:33.3%";
    QTest::newRow("cut 3 of 3") << JobStatus { Kind::Cutting, 3, 3 } << "分割:100.0%";
    QTest::newRow("cut 1 of 64") << JobStatus { Kind::Cutting, 1, 64 } << "分割:1.6%";
    QTest::newRow("sent 0 of 3") << JobStatus { Kind::Uploading, 0, 3 } << "转写:0.0%";
    QTest::newRow("sent 2 of 3") << JobStatus { Kind::Uploading, 2, 3 } << "转写:66.7%";
    QTest::newRow("sent 1 of 7") << JobStatus { Kind::Uploading, 1, 7 } << "转写:14.3%";
    QTest::newRow("nothing to send") << JobStatus { Kind::Uploading, 0, 0 } << "转写:100.0%";
    QTest::newRow("busy") << JobStatus { Kind::Retrying, 0, 0, 7 } << "重申请: 7秒";
    // Two segments kept: the run goes on with the third.
    QTest::newRow("resumed") << JobStatus { Kind::Resuming, 2 } << "续转:第3段";
    QTest::newRow("not kept") << JobStatus { Kind::NotKeeping } << "不保存进度...";
}

void TestJobTexts::buttonText()
{
    QFETCH(JobStatus, status);
    QFETCH(QString, text);
    QCOMPARE(JobStatusTexts::buttonText(status), text);
}

void TestJobTexts::noticesNameWhatTheyAreAbout()
{
    using Kind = JobFailure::Kind;
    QCOMPARE(JobNotices::text({ Kind::CaFileUnreadable, QStringLiteral("/etc/ca.pem") }),
        QStringLiteral("无法读取证书文件 /etc/ca.pem，请在服务设置中检查！"));
    QCOMPARE(JobNotices::text({ Kind::TranscriptIsLink, QStringLiteral("/out/a.txt") }),
        QStringLiteral("转写文本/out/a.txt是符号链接，为安全起见不写入！"));
    QVERIFY(JobNotices::text({ Kind::CertificateRefused, QStringLiteral("https://asr.example"),
                                 QStringLiteral("expired") })
                .contains(QStringLiteral("https://asr.example")));
}

QTEST_GUILESS_MAIN(TestJobTexts)
#include "tst_jobtexts.moc"
