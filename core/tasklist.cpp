#include "core/tasklist.h"

#include "core/filenames.h"

TaskList::TaskList(QObject *parent)
    : QAbstractListModel(parent)
{ }

int TaskList::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : rows.size();
}

QVariant TaskList::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rows.size())
        return QVariant();
    const Row &row = rows.at(index.row());
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return row.shownName.isEmpty() ? FileNames::fileName(row.path) : row.shownName;
    if (role == PathRole)
        return row.path;
    return QVariant();
}

QString TaskList::pathAt(int row) const
{
    return row >= 0 && row < rows.size() ? rows.at(row).path : QString();
}

int TaskList::rowOf(const QString &path) const
{
    for (int row = 0; row < rows.size(); ++row) {
        if (rows.at(row).path == path)
            return row;
    }
    return -1;
}

void TaskList::appendRow(const Row &row)
{
    beginInsertRows(QModelIndex(), rows.size(), rows.size());
    rows.append(row);
    endInsertRows();
}

void TaskList::removeRowAt(int row)
{
    beginRemoveRows(QModelIndex(), row, row);
    rows.removeAt(row);
    endRemoveRows();
}

bool TaskList::add(const QString &path)
{
    if (path.isEmpty() || queue.contains(path))
        return false;
    queue.prepend(path);
    appendRow({ path, QString() });
    return true;
}

int TaskList::addRecording(const QString &path, int queueAt)
{
    const int listed = rowOf(path);
    if (listed >= 0)
        return listed;
    queue.insert(qBound(0, queueAt, queue.size()), path);
    beginInsertRows(QModelIndex(), 0, 0);
    rows.prepend({ path, QString() });
    endInsertRows();
    return 0;
}

void TaskList::clear()
{
    beginResetModel();
    queue.clear();
    rows.clear();
    endResetModel();
}

void TaskList::remove(const QString &path)
{
    queue.removeAll(path);
    const int row = rowOf(path);
    if (row >= 0)
        removeRowAt(row);
}

void TaskList::rename(const QString &path, const QString &newPath)
{
    if (path == newPath || queue.contains(newPath))
        return;
    const int place = queue.indexOf(path);
    if (place >= 0)
        queue[place] = newPath;
    const int row = rowOf(path);
    if (row >= 0) {
        rows[row] = { newPath, QString() };
        emit dataChanged(index(row), index(row));
    }
}

void TaskList::showConverted(const QString &path, const QString &convertedName)
{
    const int row = rowOf(path);
    if (row < 0)
        return;
    // Taken out and added again, as the box has always shown it.
    removeRowAt(row);
    appendRow({ path, convertedName });
}

void TaskList::showAsAdded(const QString &path)
{
    const int row = rowOf(path);
    if (row < 0 || rows.at(row).shownName.isEmpty())
        return;
    rows[row].shownName.clear();
    emit dataChanged(index(row), index(row));
}
