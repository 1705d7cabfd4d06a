// The settings file an administrator may hand out: read, written back, read again.
#include "asr/servicesettings.h"
#include "fuzzcheck.h"

#include <QDir>
#include <QFile>

#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // A new name each time: QSettings keeps files it read in a cache of its own.
    static int run = 0;
    ++run;
    const QString base
        = QDir::tempPath() + QStringLiteral("/fuzz-settings-%1-%2").arg(::getpid()).arg(run);
    const QString given = base + QStringLiteral(".conf");
    const QString written = base + QStringLiteral("-again.conf");
    QFile file(given);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly));
    file.write(reinterpret_cast<const char *>(data), qint64(size));
    file.close();

    const ServiceSettings read = ServiceSettingsFile::load(given);
    FUZZ_CHECK(!read.model.isEmpty());
    FUZZ_CHECK(read.url == read.url.trimmed() && read.clientId == read.clientId.trimmed());
    FUZZ_CHECK(ServiceSettingsFile::save(read, written));
    const ServiceSettings again = ServiceSettingsFile::load(written);
    FUZZ_CHECK(again.kind == read.kind);
    FUZZ_CHECK(again.url == read.url);
    FUZZ_CHECK(again.model == read.model);
    FUZZ_CHECK(again.clientId == read.clientId);
    FUZZ_CHECK(again.caFile == read.caFile);
    isPlainRemoteAddress(read.url);
    QFile::remove(given);
    QFile::remove(written);
    return 0;
}
