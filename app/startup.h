#pragma once

#include <QString>
#include <QStringList>

// 0 when this process is the only instance and may go on; 1 when the process must end: a notice
// was shown, or the files it was given were handed over to the running instance (no notice then).
int checkSingleInstance(const QStringList &filesToHandOver = QStringList());

// The files given on the command line ("Open with" of a file manager), as absolute paths; exits
// with a message for --help, --version and an unknown option.
QStringList filesFromCommandLine(const QStringList &arguments);

// Creates the working folders under AppGlobals::appDir(); false after a notice naming the folder
// that could not be created or written.
bool workFoldersReady();

// The client identifier of this machine, possibly empty.
QString getClientId();

// Qt's high-DPI scaling, so the window keeps its proportions at any scale factor. Qt reads these
// settings when the application object is built: call before it exists.
void setUpHighDpi();

// Qt's and Phonon's own texts (standard buttons, file dialogs, context menus) in Chinese,
// whatever the system locale, as the program has one language; Chinese is also the default
// locale. A missing catalogue leaves that part in English. Returns the number of catalogues
// installed.
int installQtTranslations();

// The application font: a Chinese face installed here, chosen by name rather than left to the
// font fallback. Stored in AppGlobals::appFont() with a pixel size for the notice dialog.
void setUpAppFont();
