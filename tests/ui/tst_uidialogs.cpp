#include "ui/appglobals.h"
#include "ui/deskmsgbar.h"
#include "ui/myinput.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

namespace {

void sendMouse(QWidget *target, QEvent::Type type, const QPoint &pos, Qt::MouseButton button,
    Qt::MouseButtons buttons)
{
    QMouseEvent event(type, pos, target->mapToGlobal(pos), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

} // namespace

class TestUiDialogs : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        AppGlobals::setScreenWidth(1920);
        AppGlobals::setScreenHeight(1080);
    }

    void noticeLayout()
    {
        deskMsgBar one(nullptr, false, QStringLiteral("程序已经启动！"));
        QCOMPARE(
            one.windowFlags(), Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
        QVERIFY(one.testAttribute(Qt::WA_TranslucentBackground));
        QVERIFY(!one.testAttribute(Qt::WA_QuitOnClose));
        QCOMPARE(one.size(), QSize(320, 220));
        QCOMPARE(one.pos(), QPoint(800, 430));
        QCOMPARE(one.messageLabel->text(), QStringLiteral("程序已经启动！"));
        QCOMPARE(one.messageLabel->geometry(), QRect(20, 70, 280, 70));
        QVERIFY(one.messageLabel->wordWrap());
        QCOMPARE(one.okButton->pos(), QPoint(120, 170));
        QVERIFY(one.cancelButton->isHidden());
        QCOMPARE(one.closeButton->pos(), QPoint(285, 5));

        // The second button is placed by the size of the first.
        deskMsgBar two(nullptr, true, QStringLiteral("x"));
        QCOMPARE(two.cancelButton->size(), QSize(96, 38));
        QCOMPARE(two.okButton->pos(), QPoint(114, 160));
        QCOMPARE(two.cancelButton->pos(), QPoint(210, 160));
        QVERIFY(!two.cancelButton->isHidden());
    }

    void noticeIgnoresKeyboardAndClosesOnButtons()
    {
        deskMsgBar notice(nullptr, false, QStringLiteral("程序启动错误！"));
        notice.show();
        QVERIFY(QTest::qWaitForWindowExposed(&notice));
        QTest::keyClick(&notice, Qt::Key_Escape);
        QTest::keyClick(&notice, Qt::Key_Return);
        QVERIFY(notice.isVisible());
        QTest::mouseClick(notice.okButton, Qt::LeftButton);
        QVERIFY(!notice.isVisible());

        notice.show();
        QTest::mouseClick(notice.closeButton, Qt::LeftButton);
        QVERIFY(!notice.isVisible());
    }

    void noticeDragsWithLeftButtonOnly()
    {
        deskMsgBar notice(nullptr, false, QStringLiteral("x"));
        notice.show();
        QVERIFY(QTest::qWaitForWindowExposed(&notice));
        const QPoint start = notice.pos();

        sendMouse(
            &notice, QEvent::MouseButtonPress, QPoint(50, 20), Qt::RightButton, Qt::RightButton);
        sendMouse(&notice, QEvent::MouseMove, QPoint(90, 60), Qt::NoButton, Qt::RightButton);
        QCOMPARE(notice.pos(), start);
        sendMouse(
            &notice, QEvent::MouseButtonRelease, QPoint(90, 60), Qt::RightButton, Qt::NoButton);

        sendMouse(
            &notice, QEvent::MouseButtonPress, QPoint(50, 20), Qt::LeftButton, Qt::LeftButton);
        QVERIFY(notice.dragging);
        QMouseEvent move(QEvent::MouseMove, QPoint(0, 0), start + QPoint(90, 60), Qt::NoButton,
            Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&notice, &move);
        QCOMPARE(notice.pos(), start + QPoint(40, 40));
        sendMouse(&notice, QEvent::MouseButtonRelease, QPoint(0, 0), Qt::LeftButton, Qt::NoButton);
        QVERIFY(!notice.dragging);
    }

    void nameDialogAcceptsOnlyThroughOk()
    {
        MyInput byClose(nullptr);
        QCOMPARE(byClose.size(), QSize(320, 180));
        byClose.show();
        byClose.nameEdit->setText(QStringLiteral("typed"));
        QTest::mouseClick(byClose.closeButton, Qt::LeftButton);
        QVERIFY(!byClose.isVisible());
        QVERIFY(!byClose.accepted());

        MyInput byEscape(nullptr);
        byEscape.show();
        QVERIFY(QTest::qWaitForWindowExposed(&byEscape));
        byEscape.nameEdit->setText(QStringLiteral("typed"));
        QTest::keyClick(byEscape.nameEdit, Qt::Key_Escape);
        QVERIFY(!byEscape.isVisible());
        QVERIFY(!byEscape.accepted());

        MyInput emptyOk(nullptr);
        emptyOk.show();
        QTest::mouseClick(emptyOk.okButton, Qt::LeftButton);
        QVERIFY(!emptyOk.isVisible());
        QVERIFY(emptyOk.accepted());
        QVERIFY(emptyOk.nameEdit->text().isEmpty());
    }
};

QTEST_MAIN(TestUiDialogs)
#include "tst_uidialogs.moc"
