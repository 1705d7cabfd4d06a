#include "ui/appglobals.h"
#include "core/fontchoice.h"
#include "app/startup.h"
#include "common/windowview.h"
#include "ui/widget.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDirIterator>
#include <QFontDatabase>
#include <QFontInfo>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>

#include <memory>

namespace {
int cataloguesInstalled = 0;
} // namespace

// Qt's own texts, the font and the scaling as the program sets them up at start. CTest runs the
// scaling case once more for a desktop at 150 % and one at 200 %.
class TestDesktop : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<Widget> window;

    Widget &build()
    {
        dir = std::make_unique<QTemporaryDir>();
        AppGlobals::setAppDir(dir->path());
        window = std::make_unique<Widget>();
        return *window;
    }

private slots:
    void cleanup()
    {
        window.reset();
        dir.reset();
    }

    void qtTextsInChinese()
    {
        // Debian's catalogues of Qt and of Phonon.
        QCOMPARE(cataloguesInstalled, 2);

        QMessageBox notice(QMessageBox::Information, QStringLiteral("提示"),
            QStringLiteral("文件已经全部转换完成！"), QMessageBox::Ok);
        QCOMPARE(notice.button(QMessageBox::Ok)->text(), QStringLiteral("确定"));
        QMessageBox question(QMessageBox::Question, QStringLiteral("提示"), QStringLiteral("?"),
            QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        // Shown as "是(Y)" and "否(N)": Qt's catalogue keeps the keyboard hints, as Chinese
        // Windows does.
        QCOMPARE(question.button(QMessageBox::Yes)->text(), QStringLiteral("是(&Y)"));
        QCOMPARE(question.button(QMessageBox::No)->text(), QStringLiteral("否(&N)"));
        QCOMPARE(question.button(QMessageBox::Cancel)->text(), QStringLiteral("取消"));

        QTextEdit pane;
        const std::unique_ptr<QMenu> menu(pane.createStandardContextMenu());
        QStringList texts;
        for (const QAction *action : menu->actions())
            texts << action->text().section(QLatin1Char('\t'), 0, 0);
        QVERIFY2(texts.contains(QStringLiteral("复制(&C)")), qPrintable(texts.join(u'|')));
        QVERIFY2(texts.contains(QStringLiteral("粘贴(&P)")), qPrintable(texts.join(u'|')));
    }

    void fontFamilyRule_data()
    {
        QTest::addColumn<QStringList>("installed");
        QTest::addColumn<QString>("family");
        const QString yahei = QStringLiteral("微软雅黑");
        const QString noto = QStringLiteral("Noto Sans CJK SC");
        QTest::newRow("yahei first") << QStringList { noto, yahei } << yahei;
        QTest::newRow("english name") << QStringList { QStringLiteral("microsoft yahei"), noto }
                                      << QStringLiteral("Microsoft YaHei");
        QTest::newRow("noto, not the japanese one")
            << QStringList { QStringLiteral("Noto Sans CJK JP"), noto } << noto;
        QTest::newRow("neither") << QStringList { QStringLiteral("DejaVu Sans") } << yahei;
    }

    void fontFamilyRule()
    {
        QFETCH(QStringList, installed);
        QFETCH(QString, family);
        QCOMPARE(FontChoice::appFontFamily(installed), family);
    }

    void windowFontIsAnInstalledChineseFace()
    {
        const QStringList families = QFontDatabase().families();
        if (families.contains(QStringLiteral("微软雅黑"))
            || families.contains(QStringLiteral("Microsoft YaHei")))
            QSKIP("微软雅黑 is installed here; the case is for desktops without it");
        const QString expected = QStringLiteral("Noto Sans CJK SC");
        const Widget &w = build();
        // The face actually drawn, not only the name asked for.
        QCOMPARE(QFontInfo(w.font()).family(), expected);
        QCOMPARE(QFontInfo(View::button(w, "uploadButton")->font()).family(), expected);
        QCOMPARE(AppGlobals::appFont().family(), expected);
    }

    void geometryAtScaleFactor()
    {
        Widget &w = build();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        // QT_FONT_DPI stands for the desktop's setting (Xft.dpi on X11): 96 at 100 %.
        const int dpi = qEnvironmentVariableIntValue("QT_FONT_DPI");
        const qreal factor = dpi > 0 ? dpi / 96.0 : w.devicePixelRatioF();
        QCOMPARE(w.devicePixelRatioF(), factor);

        // The layout stays in device-independent pixels; the screen gets factor times as many.
        QCOMPARE(w.geometry().size(), QSize(1024, 728));
        QCOMPARE(View::button(w, "uploadButton")->geometry(), QRect(5, 5, 80, 30));
        QCOMPARE(View::button(w, "uploadButton")->mapTo(&w, QPoint(0, 0)), QPoint(205, 85));
        const QPixmap shot = w.grab();
        QCOMPARE(shot.size(), QSize(1024, 728) * factor);

        // The logo is drawn from the double-size image at the screen's resolution.
        const QPixmap *logo = View::label(w, "logoLabel")->pixmap();
        QVERIFY(logo);
        QCOMPARE(logo->devicePixelRatio(), factor);
        QCOMPARE(logo->size(), QSize(30, 30) * factor);

        // Every double-size image stands beside its normal one at exactly twice its size.
        int pairs = 0;
        QDirIterator images(QStringLiteral(":/images"), { QStringLiteral("*@2x.png") });
        while (images.hasNext()) {
            const QString big = images.next();
            const QString normal = QString(big).replace(QStringLiteral("@2x"), QString());
            QCOMPARE(QImage(big).size(), QImage(normal).size() * 2);
            ++pairs;
        }
        QCOMPARE(pairs, 15);
    }
};

// Starts up as the program does: scaling before the application object, translations and font
// after it.
int main(int argc, char *argv[])
{
    setUpHighDpi();
    QApplication app(argc, argv);
    cataloguesInstalled = installQtTranslations();
    setUpAppFont();
    TestDesktop test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_desktop.moc"
