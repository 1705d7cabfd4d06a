#include "wholefile.h"

#include <QSaveFile>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace WholeFile {

bool write(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return commit(file);
}

bool commit(QSaveFile &file)
{
    bool ok = file.flush();
#ifdef Q_OS_UNIX
    // On disk before the rename, so a power loss cannot leave the new name on empty blocks.
    ok = ok && ::fsync(file.handle()) == 0;
#endif
    if (!ok) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace WholeFile
