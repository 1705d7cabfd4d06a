#pragma once

// One job run by the real window in a program of its own, so that a test can kill it mid-job:
// the test program starts itself with the arguments of DrivenJob::arguments, and its main()
// hands such a call to DrivenJob::run.
#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QStringList>

#include "ui/appglobals.h"
#include "common/scripteddialogs.h"
#include "common/windowview.h"
#include "ui/widget.h"

namespace DrivenJob {

// segmentSeconds: the job's segment length (0: the users' 59 s).
inline QStringList arguments(const QString &appDir, const QString &source,
    const QString &serviceUrl, int segmentSeconds = 0)
{
    return { QStringLiteral("--drive-job"), appDir, source, serviceUrl,
        QString::number(segmentSeconds) };
}

inline bool requested(int argc, char *argv[])
{
    return argc == 6 && qstrcmp(argv[1], "--drive-job") == 0;
}

// Transcribes the source in English until the program is killed.
inline int run(int argc, char *argv[])
{
    QApplication app(argc, argv);
    AppGlobals::setAppDir(QString::fromLocal8Bit(argv[2]));
    ScriptedDialogs dialogs;
    Widget window;
    window.setServiceBaseUrl(QString::fromLocal8Bit(argv[4]));
    if (const int seconds = QByteArray(argv[5]).toInt())
        window.setSegmentSeconds(seconds);
    View::combo(window, "languageCombo")->setCurrentText(QStringLiteral("英文"));
    dialogs.openResults.enqueue({ QString::fromLocal8Bit(argv[3]) });
    View::button(window, "uploadButton")->click();
    View::button(window, "startConvertButton")->click();
    return app.exec();
}

} // namespace DrivenJob
