#include "app/startup.h"

#include "app/appglobals.h"
#include "app/fontchoice.h"
#include "platform/clientid.h"
#include "ui/deskmsgbar.h"
#include "ui/dialogs.h"

#include <QApplication>
#include <QFontDatabase>
#include <QLibraryInfo>
#include <QLocale>
#include <QSharedMemory>
#include <QStandardPaths>
#include <QTranslator>

int checkSingleInstance()
{
    QSharedMemory &guard = AppGlobals::instanceGuard;
    // A segment left by an instance that was killed has nobody attached any more: attaching
    // and detaching again removes it, while a running instance keeps its segment alive.
    if (guard.attach())
        guard.detach();
    if (guard.create(1, QSharedMemory::ReadWrite))
        return 0;

    const QString text = guard.error() == QSharedMemory::AlreadyExists
        ? QStringLiteral("程序已经启动！")
        : QStringLiteral("程序启动错误！");
    auto *notice = new deskMsgBar(nullptr, false, text);
    Dialogs::current().execDialog(notice);
    notice->deleteLater();
    return 1;
}

QString getClientId()
{
    return ClientId::fromAdapters(ClientId::systemAdapters());
}

void setUpHighDpi()
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    // Icons and style-sheet images take their @2x versions on scaled screens.
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    // A screen at 150 % gets 150 %, not a window rounded up to twice its size.
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(
        Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
}

int installQtTranslations()
{
    // Dates and sizes in Qt's dialogs (the file dialog's columns) follow the same language.
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    const QString qtCatalogue = QLibraryInfo::location(QLibraryInfo::TranslationsPath)
        + QStringLiteral("/qtbase_zh_CN.qm");
    // Phonon keeps its catalogues in the shared locale tree, as KDE libraries do.
    const QString phononCatalogue = QStandardPaths::locate(QStandardPaths::GenericDataLocation,
        QStringLiteral("locale/zh_CN/LC_MESSAGES/libphonon_qt.qm"));

    int installed = 0;
    for (const QString &file : { qtCatalogue, phononCatalogue }) {
        auto *translator = new QTranslator(QCoreApplication::instance());
        if (!file.isEmpty() && translator->load(file)
            && QCoreApplication::installTranslator(translator)) {
            ++installed;
        } else {
            delete translator;
        }
    }
    return installed;
}

void setUpAppFont()
{
    AppGlobals::appFont = QFont(FontChoice::appFontFamily(QFontDatabase().families()));
    QApplication::setFont(AppGlobals::appFont);
    AppGlobals::appFont.setPixelSize(AppGlobals::appFont.pointSize() * 90 / 72);
}
