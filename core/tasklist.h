#pragma once

#include <QAbstractListModel>
#include <QString>
#include <QStringList>
#include <QVector>

// The files queued for transcription, as paths. Two orders live here: the queue, whose front
// file is transcribed next (every addition goes to the front), and the rows a task box shows,
// one file name each (an addition goes to the end, a recording to the top). A file is listed
// once; a front end edits the list, a job reads its front and takes a finished file off.
class TaskList final : public QAbstractListModel
{
    Q_OBJECT
    Q_DISABLE_COPY(TaskList)

public:
    // The path behind a row (Qt::DisplayRole gives the name the row shows).
    static constexpr int PathRole = Qt::UserRole + 1;

    explicit TaskList(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    // The queue, front first.
    const QStringList &paths() const { return queue; }
    bool isEmpty() const { return queue.isEmpty(); }
    bool contains(const QString &path) const { return queue.contains(path); }
    // The file transcribed next; empty when the list is.
    QString front() const { return queue.value(0); }
    // The path shown in a row; empty outside the rows.
    QString pathAt(int row) const;

    // Puts a file at the front of the queue and at the end of the rows; false when it is
    // listed already (or empty).
    bool add(const QString &path);
    // A finished recording: the top row, and in the queue at queueAt (clamped). Returns the
    // recording's row, also when it was listed already.
    int addRecording(const QString &path, int queueAt);
    void clear();
    // Takes a file off the queue and the rows.
    void remove(const QString &path);
    // A file renamed on disk keeps its places under its new path.
    void rename(const QString &path, const QString &newPath);

    // While a job works on its converted copy, the file's row names the copy and moves to the
    // end, as the copy would have been added; showAsAdded names the file again, in place.
    void showConverted(const QString &path, const QString &convertedName);
    void showAsAdded(const QString &path);

private:
    struct Row
    {
        QString path;
        QString shownName; // empty: the path's file name
    };
    int rowOf(const QString &path) const;
    void appendRow(const Row &row);
    void removeRowAt(int row);

    QStringList queue;
    QVector<Row> rows;
};
