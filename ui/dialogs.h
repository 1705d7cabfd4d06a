#pragma once

#include <QString>
#include <QStringList>

class QAction;
class QDialog;
class QMenu;
class QPoint;
class QWidget;

// Every modal dialog the window opens goes through here, so that tests can answer them
// without a nested event loop waiting on a person.
class Dialogs
{
public:
    virtual ~Dialogs() = default;

    // Notice with the single button Ok.
    virtual void information(QWidget *parent, const QString &title, const QString &text);
    // Question with Yes and No and no default button; true when the answer is Yes.
    virtual bool question(QWidget *parent, const QString &title, const QString &text);
    // Question with Yes and No where Yes is the default button.
    virtual bool questionYesDefault(QWidget *parent, const QString &title, const QString &text);
    virtual QStringList openFileNames(QWidget *parent, const QString &caption, const QString &dir,
                                      const QString &filter);
    virtual QString saveFileName(QWidget *parent, const QString &caption, const QString &dir,
                                 const QString &filter);
    // Runs one of the program's own dialogs modally.
    virtual int execDialog(QDialog *dialog);
    // Runs a context menu modally; the chosen action or null.
    virtual QAction *execMenu(QMenu *menu, const QPoint &globalPos);

    static Dialogs &current();
    // Replaces the dialogs in use; null puts the real ones back. Not owned.
    static void install(Dialogs *dialogs);
};
