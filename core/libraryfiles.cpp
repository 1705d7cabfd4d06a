#include "core/libraryfiles.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "core/filenames.h"
#include "core/logging.h"
#include "core/wholefile.h"

namespace {
bool sameFile(const QString &a, const QString &b)
{
    const QString canonicalA = QFileInfo(a).canonicalFilePath();
    return !canonicalA.isEmpty() && canonicalA == QFileInfo(b).canonicalFilePath();
}
} // namespace

namespace LibraryFiles {

QString nameProblem(const QString &typed)
{
    for (const QChar c : typed) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.unicode() < 0x20
            || c.unicode() == 0x7f)
            return QStringLiteral("文件名不能包含路径分隔符！");
    }
    return QString();
}

RenameResult rename(const QString &path, const QString &typed, const QString &suffix)
{
    RenameResult result;
    result.message = nameProblem(typed);
    if (!result.message.isEmpty())
        return result;
    result.newPath = FileNames::folderOf(path) + QLatin1Char('/') + typed + suffix;
    // QFile::rename refuses an existing target itself; the check says why in every case.
    QFile file(path);
    if (QFileInfo::exists(result.newPath) || !file.rename(result.newPath)) {
        qCWarning(lcCore).noquote()
            << "cannot rename" << path << "to" << result.newPath << ":"
            << (file.error() == QFileDevice::NoError ? QStringLiteral("the name is taken")
                                                     : file.errorString());
        result.message = QStringLiteral("重命名失败，文件正在被使用！");
        return result;
    }
    result.ok = true;
    return result;
}

bool saveAs(const QString &source, const QString &target)
{
    if (!QFileInfo(source).isFile() || sameFile(source, target))
        return false;
    QFile in(source);
    QSaveFile out(target);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly)) {
        qCWarning(lcCore).noquote() << "cannot copy" << source << "to" << target << ":"
                                    << in.errorString() << "/" << out.errorString();
        return false;
    }
    while (!in.atEnd()) {
        const QByteArray chunk = in.read(1 << 20);
        if (chunk.isEmpty() || out.write(chunk) != chunk.size()) {
            out.cancelWriting();
            break;
        }
    }
    return WholeFile::commit(out);
}

} // namespace LibraryFiles
