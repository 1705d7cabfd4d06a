#include "ui/mylistwidget.h"

#include "ui/dialogs.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QCursor>
#include <QFont>
#include <QMenu>

MyListWidget::MyListWidget(Kind kind, QWidget *parent)
    : QListWidget(parent)
    , listKind(kind)
{
    delAction = new QAction(QStringLiteral("删除"), this);
    saveAsAction = new QAction(QStringLiteral("另存为"), this);
    renameAction = new QAction(QStringLiteral("重命名"), this);
    exportSubtitlesAction = new QAction(QStringLiteral("导出字幕"), this);
    exportSubtitlesAction->setObjectName(QStringLiteral("exportSubtitlesAction"));

    QFont listFont;
    listFont.setPointSize(11);
    setFont(listFont);

    connect(delAction, &QAction::triggered, this, &MyListWidget::slotDelFile);
    connect(saveAsAction, &QAction::triggered, this, &MyListWidget::slotSaveAs);
    connect(renameAction, &QAction::triggered, this, &MyListWidget::slotRename);
    connect(exportSubtitlesAction, &QAction::triggered, this, &MyListWidget::slotExportSubtitles);
}

void MyListWidget::contextMenuEvent(QContextMenuEvent *event)
{
    Q_UNUSED(event)
    QMenu *menu = new QMenu(this);
    // The cursor, not the event, decides: a keyboard-invoked menu still targets the pointed item.
    const QPoint globalPos = QCursor::pos();
    QListWidgetItem *item = itemAt(viewport()->mapFromGlobal(globalPos));
    if (item) {
        menuItem = item;
        menu->addAction(delAction);
        menu->addAction(saveAsAction);
        menu->addAction(renameAction);
        if (listKind == Kind::Transcripts)
            menu->addAction(exportSubtitlesAction);
    }
    Dialogs::current().execMenu(menu, globalPos);
    menu->deleteLater();
}

void MyListWidget::slotDelFile()
{
    if (!menuItem)
        return;
    const QString name = menuItem->text();
    // The window may destroy the item; the next menu that opens sets it afresh.
    menuItem = nullptr;
    emit deleteRequested(listKind, name);
}

void MyListWidget::slotSaveAs()
{
    if (menuItem)
        emit saveAsRequested(listKind, menuItem->text());
}

void MyListWidget::slotRename()
{
    if (!menuItem)
        return;
    const QString name = menuItem->text();
    menuItem = nullptr;
    emit renameRequested(listKind, name);
}

void MyListWidget::slotExportSubtitles()
{
    if (menuItem)
        emit exportSubtitlesRequested(menuItem->text());
}
