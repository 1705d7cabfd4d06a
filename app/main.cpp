#include "app/appglobals.h"
#include "app/filenames.h"
#include "app/startup.h"
#include "ui/widget.h"

#include <QApplication>
#include <QIcon>
#include <QPixmap>
#include <QScreen>
#include <QTextCodec>

int main(int argc, char *argv[])
{
    setUpHighDpi();
    auto *app = new QApplication(argc, argv);

    // Qt 5 keeps only the locale codec; sources and literals are UTF-8 already.
    QTextCodec::setCodecForLocale(QTextCodec::codecForLocale());
    installQtTranslations();

    setUpAppFont();

    const QScreen *screen = QGuiApplication::primaryScreen();
    AppGlobals::screenWidth = screen->virtualGeometry().width();
    AppGlobals::screenHeight = screen->virtualGeometry().height();
    AppGlobals::availableHeight = screen->availableGeometry().height();

    AppGlobals::appDir = FileNames::withSlashes(QCoreApplication::applicationDirPath());

    if (checkSingleInstance() == 0) {
        AppGlobals::clientId = getClientId();

        QIcon icon;
        icon.addPixmap(
            QPixmap(QStringLiteral(":/images/halvexLogo.png")), QIcon::Normal, QIcon::Off);
        QApplication::setWindowIcon(icon);

        auto *window = new Widget();
        window->move((AppGlobals::screenWidth - 1024) / 2, (AppGlobals::screenHeight - 728) / 2);
        QApplication::exec();
        delete window;
    }

    delete app;
    return 0;
}
