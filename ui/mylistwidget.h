#pragma once

#include <QListWidget>
#include <QString>

class QAction;
class QContextMenuEvent;
class Widget;

// A library list whose context menu offers delete, save as and rename; the window carries
// them out, because it also keeps the path lists and the task list in step.
class MyListWidget : public QListWidget
{
    Q_OBJECT
    Q_DISABLE_COPY(MyListWidget)

public:
    MyListWidget(const QString &kind, Widget *window, QWidget *parent);

    QAction *delAction = nullptr;
    QAction *saveAsAction = nullptr;
    QAction *renameAction = nullptr;
    QAction *exportSubtitlesAction = nullptr; // transcripts only
    Widget *mainWindow = nullptr;
    QListWidgetItem *menuItem = nullptr;
    QString listKind;

protected:
    void contextMenuEvent(QContextMenuEvent *event) override;

public slots:
    void slotDelFile();
    void slotSaveAs();
    void slotRename();
    void slotExportSubtitles();
};
