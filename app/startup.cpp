#include "app/startup.h"

#include "app/instancechannel.h"
#include "asr/transcriptionjob.h"
#include "audio/mediafiles.h"
#include "core/fontchoice.h"
#include "core/programlayout.h"
#include "platform/clientid.h"
#include "platform/instancelock.h"
#include "ui/appglobals.h"
#include "ui/deskmsgbar.h"
#include "ui/dialogs.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFontDatabase>
#include <QLibraryInfo>
#include <QLocale>
#include <QStandardPaths>
#include <QTranslator>

int checkSingleInstance(const QStringList &filesToHandOver)
{
    // Held until the process ends; the system lets go of it even when the process is killed.
    static InstanceLock guard;
    // And one per user wherever XDG_RUNTIME_DIR points: a start with it and one without
    // would otherwise each find their own guard free.
    static InstanceLock userGuard;
    QString error;
    const QString lockFile = InstanceChannel::defaultLockFile(&error);
    InstanceLock::Result held
        = lockFile.isEmpty() ? InstanceLock::Result::Failed : guard.acquire(lockFile, &error);
    const QString userLock = ProgramLayout::userLockFile();
    if (held == InstanceLock::Result::Acquired && !userLock.isEmpty()
        && userGuard.acquire(userLock) == InstanceLock::Result::HeldElsewhere) {
        guard.release();
        held = InstanceLock::Result::HeldElsewhere;
    }
    if (held == InstanceLock::Result::Acquired)
        return 0;

    // The running instance takes the files and comes to the front; this start ends quietly.
    if (held == InstanceLock::Result::HeldElsewhere && !filesToHandOver.isEmpty()
        && InstanceChannel::sendFiles(InstanceChannel::defaultName(), filesToHandOver))
        return 1;
    // A failure says where and why (a runtime folder another user made first, say).
    const QString text = held == InstanceLock::Result::HeldElsewhere
        ? QStringLiteral("程序已经启动！")
        : QStringLiteral("程序启动错误！")
            + (error.isEmpty() ? QString() : QLatin1Char('\n') + error);
    auto *notice = new deskMsgBar(nullptr, false, text);
    Dialogs::current().execDialog(notice);
    notice->deleteLater();
    return 1;
}

QStringList filesFromCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Tovarin 语音转写"));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("files"),
        QStringLiteral("Audio or video files to add to the task list "
                       "(put -- before names that start with a dash)."),
        QStringLiteral("[files...]"));
    parser.process(arguments);
    QStringList files;
    for (const QString &argument : parser.positionalArguments()) {
        const QString path = MediaFiles::localPath(argument, QDir::currentPath());
        if (!path.isEmpty())
            files.append(path);
    }
    return files;
}

bool workFoldersReady()
{
    const QString failed = ProgramLayout::createWorkFolders(AppGlobals::appDir());
    if (failed.isEmpty()) {
        // Converted copies and segments of a run that was killed; only this instance uses them.
        TranscriptionJob::clearFolder(ProgramLayout::segmentFolder(AppGlobals::appDir()));
        return true;
    }
    Dialogs::current().information(nullptr, QStringLiteral("提示"),
        QStringLiteral("无法创建或写入文件夹：%1\n录音和转写文本无处保存，程序将退出。")
            .arg(failed));
    return false;
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
    QFont font(FontChoice::appFontFamily(QFontDatabase().families()));
    QApplication::setFont(font);
    font.setPixelSize(font.pointSize() * 90 / 72);
    AppGlobals::setAppFont(font);
}
