#pragma once

#include <QListWidget>
#include <QString>

class QAction;
class QContextMenuEvent;

// A library list whose context menu offers delete, save as and rename (and, for transcripts,
// subtitles). It only asks: whoever owns the library carries the operations out, because they
// also keep the path lists and the task list in step.
class MyListWidget : public QListWidget
{
    Q_OBJECT
    Q_DISABLE_COPY(MyListWidget)

public:
    enum class Kind { Audio, Transcripts };

    MyListWidget(Kind kind, QWidget *parent);

    Kind kind() const { return listKind; }
    // The item the last menu opened on; none once a delete or rename was asked for it.
    QListWidgetItem *itemUnderMenu() const { return menuItem; }

signals:
    // The entry's name, as the list shows it.
    void deleteRequested(MyListWidget::Kind kind, const QString &name);
    void saveAsRequested(MyListWidget::Kind kind, const QString &name);
    void renameRequested(MyListWidget::Kind kind, const QString &name);
    void exportSubtitlesRequested(const QString &name);

protected:
    void contextMenuEvent(QContextMenuEvent *event) override;

public slots:
    void slotDelFile();
    void slotSaveAs();
    void slotRename();
    void slotExportSubtitles();

private:
    QAction *delAction = nullptr;
    QAction *saveAsAction = nullptr;
    QAction *renameAction = nullptr;
    QAction *exportSubtitlesAction = nullptr; // transcripts only
    QListWidgetItem *menuItem = nullptr;
    Kind listKind;
};
