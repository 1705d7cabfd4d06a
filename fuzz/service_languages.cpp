// What the program keeps and reads about a service's languages: the cache file, and a
// service's refusal that may name a missing model.
#include <QFile>
#include <QTemporaryDir>

#include "asr/servicelanguages.h"
#include "fuzzcheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    // A refusal names no model when nothing is asked about.
    const QString message = QString::fromUtf8(bytes);
    FUZZ_CHECK(!ServiceLanguages::saysNoModel(message, -1, QString()));
    (void)ServiceLanguages::saysNoModel(message, 1537, QStringLiteral("zh"));

    static QTemporaryDir folder;
    const QString file = folder.path() + QStringLiteral("/languages.json");
    const QString again = folder.path() + QStringLiteral("/again.json");
    QFile::remove(again);
    {
        QFile f(file);
        FUZZ_CHECK(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    const QString key = QStringLiteral("token http://127.0.0.1:18765");
    QStringList offered { QStringLiteral("sentinel") };
    if (!ServiceLanguages::cached(key, &offered, file)) {
        // Nothing kept is nothing learnt: the list is left alone.
        FUZZ_CHECK(offered == QStringList { QStringLiteral("sentinel") });
        return 0;
    }
    // What was read, kept again, reads back the same.
    ServiceLanguages::keep(key, offered, again);
    QStringList read;
    FUZZ_CHECK(ServiceLanguages::cached(key, &read, again));
    FUZZ_CHECK(read == offered);
    // Keeping another service's list keeps this one's.
    ServiceLanguages::keep(QStringLiteral("other"), {}, file);
    FUZZ_CHECK(ServiceLanguages::cached(key, &read, file) && read == offered);
    return 0;
}
