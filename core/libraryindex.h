#pragma once

#include "core/transcriptindex.h"

#include <QObject>
#include <QThread>

#include <memory>

// The transcript library's search index for the window: a worker thread with its own
// connection keeps it (the start's catching up with other programs' changes, then each change
// of the program's own, one after the other), while searches read it on the caller's thread
// through another connection, so neither waits on the other. A fault of the index found by
// either side makes it anew in the background.
class LibraryIndex : public QObject
{
    Q_OBJECT

public:
    LibraryIndex(const QString &indexFile, const QString &libraryFolder, QObject *parent = nullptr);
    ~LibraryIndex() override;

    // Opens the index and catches up with the folder in the background.
    void start();
    bool isBuilding() const { return m_building; }

    // The program's own changes to a transcript (and its times).
    void transcriptWritten(const QString &path);
    void transcriptRenamed(const QString &oldPath, const QString &newPath);
    void transcriptRemoved(const QString &path);

    // What the index holds so far; nothing before the worker has opened it.
    SearchResults search(const QString &query, int limit = 500);

signals:
    void buildingChanged(bool building);
    void buildProgress(int done, int count);
    // The worker finished a change; searches now see it.
    void updated();

private:
    class Worker;
    void workerOpened();
    void setBuilding(bool building);

    QString m_file;
    QString m_folder;
    QThread m_thread;
    Worker *m_worker = nullptr;
    TranscriptIndex m_reader;
    bool m_readerWanted = false;
    bool m_building = false;
};
