#include "ui/appglobals.h"
#include "app/instancechannel.h"
#include "core/programlayout.h"
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
    // Names the per-user data folder of an installed program: ~/.local/share/tovarin.
    QCoreApplication::setApplicationName(QStringLiteral("tovarin"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TOV_VERSION));
    // Lets the desktop match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.example.tovarin"));
    const QStringList files = filesFromCommandLine(QCoreApplication::arguments());

    // Qt 5 keeps only the locale codec; sources and literals are UTF-8 already.
    QTextCodec::setCodecForLocale(QTextCodec::codecForLocale());
    installQtTranslations();

    setUpAppFont();

    const QScreen *screen = QGuiApplication::primaryScreen();
    AppGlobals::setScreenWidth(screen->virtualGeometry().width());
    AppGlobals::setScreenHeight(screen->virtualGeometry().height());
    AppGlobals::setAvailableHeight(screen->availableGeometry().height());

    // Beside the executable when run from the build folder or a portable copy; the user's data
    // folder when installed.
    AppGlobals::setAppDir(ProgramLayout::workBaseForThisProgram());

    if (checkSingleInstance(files) == 0 && workFoldersReady()) {
        // Later starts hand their files over here instead of showing their notice.
        InstanceChannel channel(InstanceChannel::defaultName());
        channel.listen();

        AppGlobals::setClientId(getClientId());

        QIcon icon;
        icon.addPixmap(
            QPixmap(QStringLiteral(":/images/halvexLogo.png")), QIcon::Normal, QIcon::Off);
        QApplication::setWindowIcon(icon);

        auto *window = new Widget();
        window->move((AppGlobals::screenWidth() - 1024) / 2, (AppGlobals::screenHeight() - 728) / 2);
        window->addOutsideFiles(files);
        QObject::connect(
            &channel, &InstanceChannel::filesReceived, window, [window](const QStringList &handed) {
                window->addOutsideFiles(handed);
                window->bringToFront();
            });
        QApplication::exec();
        delete window;
    }

    delete app;
    return 0;
}
