#pragma once

#include <QDialog>
#include <QQueue>
#include <QStringList>
#include <functional>

#include "ui/dialogs.h"

// Stands in for the person at the screen: records every notice and answers every dialog
// from a script instead of opening a modal window.
class ScriptedDialogs : public Dialogs
{
public:
    struct Notice
    {
        QString title;
        QString text;
    };

    ScriptedDialogs() { Dialogs::install(this); }
    ~ScriptedDialogs() override { Dialogs::install(nullptr); }

    void information(QWidget *, const QString &title, const QString &text) override
    {
        notices.append({title, text});
        if (onInformation)
            onInformation(text);
    }
    bool question(QWidget *, const QString &title, const QString &text) override
    {
        questions.append({title, text});
        return answers.isEmpty() ? false : answers.dequeue();
    }
    bool questionYesDefault(QWidget *parent, const QString &title, const QString &text) override
    {
        return question(parent, title, text);
    }
    QStringList openFileNames(QWidget *, const QString &caption, const QString &dir,
                              const QString &filter) override
    {
        fileDialogs.append({caption, dir, filter});
        return openResults.isEmpty() ? QStringList() : openResults.dequeue();
    }
    QString saveFileName(QWidget *, const QString &caption, const QString &dir,
                         const QString &filter) override
    {
        fileDialogs.append({caption, dir, filter});
        return saveResults.isEmpty() ? QString() : saveResults.dequeue();
    }
    int execDialog(QDialog *dialog) override
    {
        if (onDialog)
            onDialog(dialog);
        return QDialog::Rejected;
    }
    QAction *execMenu(QMenu *menu, const QPoint &) override
    {
        menus.append(menu);
        return nullptr;
    }

    QStringList noticeTexts() const
    {
        QStringList texts;
        for (const Notice &n : notices)
            texts << n.text;
        return texts;
    }

    QList<Notice> notices;
    QList<Notice> questions;
    QList<QStringList> fileDialogs;
    QList<QMenu *> menus;
    QQueue<bool> answers;
    QQueue<QStringList> openResults;
    QQueue<QString> saveResults;
    std::function<void(QDialog *)> onDialog;
    // Runs while a notice is "open", like the nested event loop of a real message box would.
    std::function<void(const QString &)> onInformation;
};
