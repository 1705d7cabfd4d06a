#include "core/libraryindex.h"

#include <QFile>

// Lives on the worker thread: its index connection is made, used and closed there.
class LibraryIndex::Worker : public QObject
{
public:
    Worker(LibraryIndex *owner, QString file, QString folder)
        : m_owner(owner)
        , m_file(std::move(file))
        , m_folder(std::move(folder))
    { }

    // Opens (making anew what cannot be used) and catches up with the folder; once more
    // from nothing when the index turns out damaged on the way.
    void openAndSync()
    {
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (!m_index.open(m_file, m_folder))
                break;
            opened();
            if (m_index.sync([this](int done, int count) {
                    QMetaObject::invokeMethod(m_owner,
                        [owner = m_owner, done, count] { emit owner->buildProgress(done, count); });
                }))
                break;
            remake();
        }
        QMetaObject::invokeMethod(m_owner, [owner = m_owner] {
            owner->setBuilding(false);
            emit owner->updated();
        });
    }

    void apply(const std::function<bool(TranscriptIndex &)> &change)
    {
        if (!m_index.isOpen())
            return;
        if (!change(m_index)) {
            // Damaged meanwhile: made anew from the transcripts, which hold everything.
            QMetaObject::invokeMethod(m_owner, [owner = m_owner] { owner->setBuilding(true); });
            remake();
            openAndSync();
            return;
        }
        QMetaObject::invokeMethod(m_owner, [owner = m_owner] { emit owner->updated(); });
    }

    void finish() { m_index.close(); }

private:
    void opened()
    {
        QMetaObject::invokeMethod(m_owner, [owner = m_owner] { owner->workerOpened(); });
    }
    void remake()
    {
        m_index.close();
        for (const char *suffix : { "", "-wal", "-shm", "-journal" })
            QFile::remove(m_file + QLatin1String(suffix));
    }

    LibraryIndex *m_owner;
    QString m_file;
    QString m_folder;
    TranscriptIndex m_index;
};

LibraryIndex::LibraryIndex(const QString &indexFile, const QString &libraryFolder, QObject *parent)
    : QObject(parent)
    , m_file(indexFile)
    , m_folder(libraryFolder)
{
    m_thread.setObjectName(QStringLiteral("transcript index"));
    m_worker = new Worker(this, m_file, m_folder);
    m_worker->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
}

LibraryIndex::~LibraryIndex()
{
    if (m_thread.isRunning()) {
        // The worker ends what it is doing; its connection closes on its own thread.
        Worker *worker = m_worker;
        QMetaObject::invokeMethod(worker, [worker] { worker->finish(); });
        m_thread.quit();
        m_thread.wait();
    } else {
        delete m_worker;
    }
    m_reader.close();
}

void LibraryIndex::setBuilding(bool building)
{
    if (m_building == building)
        return;
    m_building = building;
    emit buildingChanged(building);
}

void LibraryIndex::start()
{
    if (m_thread.isRunning())
        return;
    m_thread.start(QThread::LowPriority);
    setBuilding(true);
    Worker *worker = m_worker;
    QMetaObject::invokeMethod(worker, [worker] { worker->openAndSync(); });
}

void LibraryIndex::workerOpened()
{
    // The worker's file is the one to read: it may have just been made anew.
    m_reader.close();
    m_readerWanted = true;
}

void LibraryIndex::transcriptWritten(const QString &path)
{
    Worker *worker = m_worker;
    QMetaObject::invokeMethod(worker,
        [worker, path] { worker->apply([path](TranscriptIndex &i) { return i.update(path); }); });
}

void LibraryIndex::transcriptRenamed(const QString &oldPath, const QString &newPath)
{
    Worker *worker = m_worker;
    QMetaObject::invokeMethod(worker, [worker, oldPath, newPath] {
        worker->apply(
            [oldPath, newPath](TranscriptIndex &i) { return i.rename(oldPath, newPath); });
    });
}

void LibraryIndex::transcriptRemoved(const QString &path)
{
    Worker *worker = m_worker;
    QMetaObject::invokeMethod(worker,
        [worker, path] { worker->apply([path](TranscriptIndex &i) { return i.remove(path); }); });
}

SearchResults LibraryIndex::search(const QString &query, int limit)
{
    if (!m_reader.isOpen()) {
        if (!m_readerWanted || !m_reader.openToRead(m_file, m_folder))
            return SearchResults();
    }
    bool ok = true;
    SearchResults results = m_reader.search(query, limit, &ok);
    if (!ok) {
        // Damaged, or made anew under this connection: read again next time, and the worker
        // checks the file, making it anew when it is damaged.
        m_reader.close();
        Worker *worker = m_worker;
        QMetaObject::invokeMethod(worker, [worker] {
            worker->apply([](TranscriptIndex &i) {
                bool fine = true;
                i.search(QStringLiteral("abc"), 1, &fine);
                return fine;
            });
        });
    }
    return results;
}
