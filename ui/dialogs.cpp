#include "ui/dialogs.h"

#include <QDialog>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>

namespace {
Dialogs realDialogs;
Dialogs *installed = nullptr;
} // namespace

void Dialogs::information(QWidget *parent, const QString &title, const QString &text)
{
    QMessageBox::information(parent, title, text, QMessageBox::Ok);
}

bool Dialogs::question(QWidget *parent, const QString &title, const QString &text)
{
    return QMessageBox::question(
               parent, title, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::NoButton)
        == QMessageBox::Yes;
}

bool Dialogs::questionYesDefault(QWidget *parent, const QString &title, const QString &text)
{
    return QMessageBox::question(
               parent, title, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes)
        == QMessageBox::Yes;
}

QStringList Dialogs::openFileNames(QWidget *parent, const QString &caption, const QString &dir,
                                   const QString &filter)
{
    return QFileDialog::getOpenFileNames(parent, caption, dir, filter);
}

QString Dialogs::saveFileName(
    QWidget *parent, const QString &caption, const QString &dir, const QString &filter)
{
    return QFileDialog::getSaveFileName(parent, caption, dir, filter);
}

int Dialogs::execDialog(QDialog *dialog)
{
    return dialog->exec();
}

QAction *Dialogs::execMenu(QMenu *menu, const QPoint &globalPos)
{
    return menu->exec(globalPos);
}

Dialogs &Dialogs::current()
{
    return installed ? *installed : realDialogs;
}

void Dialogs::install(Dialogs *dialogs)
{
    installed = dialogs;
}
