// "服务设置" as a user meets it: opened from the window's title bar, tested against a scripted
// service, saved to the settings file with the secret kept out of it.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include "asr/servicelanguages.h"
#include "asr/servicesettings.h"
#include "asr/transcriptionjob.h"
#include "common/scripteddialogs.h"
#include "common/scriptedhttppeer.h"
#include "common/testtime.h"
#include "ui/appglobals.h"
#include "ui/servicesettingsdialog.h"
#include "ui/widget.h"

class TestServiceSettings : public QObject
{
    Q_OBJECT

private slots:
    void setUpTestConnectionAndSave();
};

void TestServiceSettings::setUpTestConnectionAndSave()
{
    QTemporaryDir home;
    QVERIFY(home.isValid());
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("XDG_CACHE_HOME", home.filePath(QStringLiteral("cache")).toLocal8Bit());
    // No session bus: the secret goes to the private file, and the dialog says so.
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    qunsetenv("TOVARIN_SERVICE_SECRET");
    AppGlobals::setAppDir(home.path());
    ScriptedHttpPeer peer;
    QVERIFY(peer.start());
    // whisper.cpp's server, chosen from the presets: its own path.
    peer.enqueue("/inference", ScriptedHttpPeer::Reply::json("{}", 401));
    peer.enqueue("/inference", ScriptedHttpPeer::Reply::json(R"({"text":""})"));

    ScriptedDialogs dialogs;
    Widget window;
    QStringList results;
    QString warning;
    bool saved = false;
    dialogs.onDialog = [&](QDialog *dialog) {
        auto *kind = dialog->findChild<QComboBox *>(QStringLiteral("serviceKindBox"));
        auto *url = dialog->findChild<QLineEdit *>(QStringLiteral("serviceUrlEdit"));
        auto *secret = dialog->findChild<QLineEdit *>(QStringLiteral("serviceSecretEdit"));
        auto *test = dialog->findChild<QPushButton *>(QStringLiteral("serviceTestButton"));
        auto *result = dialog->findChild<QLabel *>(QStringLiteral("serviceTestResult"));
        auto *save = dialog->findChild<QPushButton *>(QStringLiteral("serviceSaveButton"));
        if (!kind || !url || !secret || !test || !result || !save)
            return;
        kind->setCurrentIndex(kind->findData(QStringLiteral("transcriptions")));
        // The secret is hidden as it is typed.
        QCOMPARE(secret->echoMode(), QLineEdit::Password);
        auto *preset = dialog->findChild<QComboBox *>(QStringLiteral("servicePresetBox"));
        preset->setCurrentIndex(
            preset->findText(QStringLiteral("whisper.cpp"), Qt::MatchStartsWith));
        emit preset->activated(preset->currentIndex());
        auto *script = dialog->findChild<QComboBox *>(QStringLiteral("textScriptBox"));
        script->setCurrentIndex(script->findText(QStringLiteral("繁體（台灣）")));
        dialog->findChild<QCheckBox *>(QStringLiteral("arabicNumbersBox"))->setChecked(true);
        dialog->findChild<QPlainTextEdit *>(QStringLiteral("termsEdit"))
            ->setPlainText(QStringLiteral("托瓦林 => Tovarin"));
        url->setText(QStringLiteral("http://10.1.2.3:8080"));
        warning = dialog->findChild<QLabel *>(QStringLiteral("serviceWarningLabel"))->text();
        url->setText(peer.baseUrl() + QLatin1Char('/'));
        QTest::keyClicks(secret, QStringLiteral("key-42"));
        for (int i = 0; i < 2; ++i) {
            test->click();
            if (!QTest::qWaitFor([&] { return test->isEnabled(); }, scaledMs(30000)))
                break;
            results << result->text();
        }
        save->click();
        saved = QTest::qWaitFor(
            [&] { return dialog->result() == QDialog::Accepted; }, scaledMs(30000));
        results << dialog->findChild<QLabel *>(QStringLiteral("secretPlaceLabel"))->text();
    };
    auto *button = window.findChild<QPushButton *>(QStringLiteral("serviceSettingsButton"));
    QVERIFY(button);
    button->click();

    QVERIFY2(warning.contains(QStringLiteral("明文")), qPrintable(warning));
    QCOMPARE(results.size(), 3);
    QVERIFY2(results[0].contains(QStringLiteral("拒绝了凭据")), qPrintable(results[0]));
    QVERIFY2(results[1].contains(QStringLiteral("连接成功")), qPrintable(results[1]));
    QCOMPARE(peer.requests.last().headers.value("authorization"), QByteArray("Bearer key-42"));
    QVERIFY(saved);
    QVERIFY2(results[2].contains(QStringLiteral("仅限本人读取")), qPrintable(results[2]));

    const ServiceSettings stored = ServiceSettingsFile::load();
    QCOMPARE(stored.kind, ServiceSettings::Kind::Transcriptions);
    QCOMPARE(stored.url, peer.baseUrl());
    QFile file(ServiceSettingsFile::path());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(!file.readAll().contains("key-42"));
    QCOMPARE(stored.requestPath, QStringLiteral("/inference"));
    QCOMPARE(stored.script, ChineseScript::Target::TraditionalTaiwan);
    QVERIFY(stored.chinesePunctuation && stored.arabicNumbers && !stored.spaceBetween);

    // A job of the window takes all of it, the terms from their file beside the settings.
    JobSettings base;
    base.serviceBaseUrl = QStringLiteral("http://127.0.0.1:18765");
    base.language = QStringLiteral("中文近场");
    JobSettings chosen;
    bool prepared = false;
    const auto noStarter = [](const QString &) -> SpeechServiceStarter * { return nullptr; };
    ServiceSettingsDialog::prepareJob(
        base, base.serviceBaseUrl, &window, noStarter, [&](const JobSettings &s) {
            chosen = s;
            prepared = true;
        });
    QTRY_VERIFY_WITH_TIMEOUT(prepared, scaledMs(30000));
    QCOMPARE(chosen.serviceBaseUrl, peer.baseUrl());
    QCOMPARE(chosen.requestPath, QStringLiteral("/inference"));
    QCOMPARE(chosen.serviceSecret, QStringLiteral("key-42"));
    QCOMPARE(chosen.textRules.apply(QStringLiteral("托瓦林有十五个版本,")),
        QStringLiteral("Tovarin有15個版本，"));

    // Once the service is known to lack a language, a job in it ends before it starts, with a
    // notice naming what the service has, and the language box greys it.
    ServiceLanguages::keep(ServiceLanguages::serviceKey(chosen), { QStringLiteral("英文") });
    prepared = false;
    ServiceSettingsDialog::prepareJob(base, base.serviceBaseUrl, &window, noStarter,
        [&](const JobSettings &) { prepared = true; });
    QTRY_VERIFY_WITH_TIMEOUT(!dialogs.notices.isEmpty(), scaledMs(30000));
    QVERIFY(!prepared);
    QCOMPARE(dialogs.notices.last().text,
        QStringLiteral("该语音服务没有“中文近场”的模型，它提供的语言：英文。"));
    auto *languages = window.findChild<QComboBox *>(QStringLiteral("languageCombo"));
    QVERIFY(languages->itemData(0, Qt::ToolTipRole).isValid());
    QVERIFY(!languages->itemData(languages->findText(QStringLiteral("英文")), Qt::ToolTipRole)
                 .isValid());
}

QTEST_MAIN(TestServiceSettings)
#include "tst_servicesettings.moc"
