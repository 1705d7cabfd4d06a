#include "ui/widget.h"

#include "asr/transcriptionjob.h"
#include "audio/audiosteps.h"
#include "core/programlayout.h"
#include "ui/appglobals.h"
#include "ui/librarypane.h"
#include "ui/livetext.h"
#include "ui/recorderbar.h"
#include "ui/taskbar.h"
#include "ui/titlebar.h"
#include "ui/transcriptpane.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QFile>
#include <QMouseEvent>
#include <QTimer>
#include <QUrl>

namespace {

const char *const kHomePage = "https://tovarin.example.org/";

} // namespace

void Widget::placeStrips()
{
    const int width = rightPanel->width();
    toolBar->setGeometry(0, 0, width, 50);
    taskBar->place(width);
}

// Presses the window's children leave move the window, as the title bar says.
void Widget::mousePressEvent(QMouseEvent *event)
{
    titleBar->dragPressed(event);
}

void Widget::mouseReleaseEvent(QMouseEvent *event)
{
    titleBar->dragReleased(event);
}

void Widget::mouseMoveEvent(QMouseEvent *event)
{
    titleBar->dragMoved(event);
}

void Widget::slotShowMaxSize()
{
    const int screenW = AppGlobals::screenWidth();
    const int availableH = AppGlobals::availableHeight();
    if (width() == screenW) {
        setFixedSize(1024, 728);
        titleBar->place(1024, false);
        move((screenW - 1024) / 2, (AppGlobals::screenHeight() - 728) / 2);
        library->place(QRect(0, 30, 200, 698));
        rightPanel->setGeometry(200, 30, 824, 698);
        placeStrips();
        transcript->resize(824, 598);
    } else {
        setFixedSize(screenW, availableH);
        titleBar->place(screenW, true);
        move(0, 0);
        library->place(QRect(0, 30, 200, availableH - 30));
        rightPanel->setGeometry(200, 30, screenW - 200, availableH - 30);
        placeStrips();
        transcript->resize(screenW - 200, availableH - 130);
    }
}

void Widget::slotClose()
{
    QFile::remove(ProgramLayout::recordTestFile(AppGlobals::appDir()));
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
    // Live text that came so far is kept as the recording's transcript; nothing waits.
    live->saveQuietly();
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
