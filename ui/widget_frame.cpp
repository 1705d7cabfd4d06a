#include "ui/widget.h"

#include "asr/transcriptionjob.h"
#include "audio/audiosteps.h"
#include "ui/appglobals.h"
#include "ui/librarypane.h"
#include "ui/recorderbar.h"
#include "ui/taskbar.h"
#include "ui/transcriptpane.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QFile>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>
#include <QUrl>

namespace {

const char *const kHomePage = "https://tovarin.example.org/";

} // namespace

void Widget::placeTitleButtons(int firstX)
{
    QPushButton *buttons[] = { homeButton, minButton, maxButton, closeButton };
    for (int i = 0; i < 4; ++i)
        buttons[i]->setGeometry(firstX + 25 * i, 2, 26, 26);
}

void Widget::placeStrips()
{
    const int width = rightPanel->width();
    toolBar->setGeometry(0, 0, width, 50);
    taskBar->place(width);
}

void Widget::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        dragPos = event->pos();
        dragging = true;
    }
}

void Widget::mouseReleaseEvent(QMouseEvent *event)
{
    dragging = false;
    event->accept();
}

void Widget::mouseMoveEvent(QMouseEvent *event)
{
    // A maximised window (as wide as the desktop) stays where it is.
    if (event->buttons() == Qt::LeftButton && dragging && width() != AppGlobals::screenWidth())
        move(event->globalPos() - dragPos);
}

void Widget::slotShowMaxSize()
{
    const int screenW = AppGlobals::screenWidth();
    const int availableH = AppGlobals::availableHeight();
    if (width() == screenW) {
        maxButton->setStyleSheet(QStringLiteral(
            "QPushButton{border:0px solid black;border-image:url(:/images/maxBtn_p.png);}"));
        maxButton->setToolTip(QStringLiteral("最大化"));
        setFixedSize(1024, 728);
        titleBar->resize(1024, 30);
        move((screenW - 1024) / 2, (AppGlobals::screenHeight() - 728) / 2);
        placeTitleButtons(919);
        library->place(QRect(0, 30, 200, 698));
        rightPanel->setGeometry(200, 30, 824, 698);
        placeStrips();
        transcript->resize(824, 598);
    } else {
        maxButton->setStyleSheet(QStringLiteral(
            "QPushButton{border:0px solid black;border-image:url(:/images/normal_p.png);}"));
        maxButton->setToolTip(QStringLiteral("还原"));
        setFixedSize(screenW, availableH);
        titleBar->resize(screenW, 30);
        move(0, 0);
        placeTitleButtons(screenW - 105);
        library->place(QRect(0, 30, 200, availableH - 30));
        rightPanel->setGeometry(200, 30, screenW - 200, availableH - 30);
        placeStrips();
        transcript->resize(screenW - 200, availableH - 130);
    }
}

void Widget::slotClose()
{
    QFile::remove(AppGlobals::appDir() + QStringLiteral("/recordTest.wav"));
    close();
}

void Widget::closeEvent(QCloseEvent *event)
{
    endWork();
    QLabel::closeEvent(event);
}

void Widget::endWork()
{
    // The job stops first, so that no step handler starts another run during the exit; only
    // the audio runs this window started end, other programs' are left alone.
    job->stop();
    job->audioSteps()->stop();
    recorderBar->endQuietly();
}

void Widget::showHomePage()
{
    QDesktopServices::openUrl(QUrl(QString::fromUtf8(kHomePage)));
}

void Widget::bringToFront()
{
    if (isMinimized())
        showNormal();
    show();
    raise();
    activateWindow();
}
