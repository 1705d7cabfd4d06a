#pragma once

#include <QObject>
#include <QString>

#include <functional>

namespace QKeychain {
class Job;
}

// The service's secret (the token protocol's client secret or the transcription API's key):
// in the desktop's keyring through QtKeychain, or, where no keyring answers, in a file only
// the user can read beside the settings. TOVARIN_SERVICE_SECRET in the environment overrides
// whatever is stored. The keyring answers asynchronously; each call ends in one signal.
class SecretStore final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(SecretStore)

public:
    enum class Place { None, Environment, Keyring, File };
    Q_ENUM(Place)

    explicit SecretStore(QObject *parent = nullptr);
    ~SecretStore() override;

    // Folder of the fallback file; the settings folder unless set.
    void setFolder(const QString &folder) { fileFolder = folder; }
    QString filePath() const;
    // How long the keyring may take to answer before the file is used instead.
    void setKeyringTimeoutMs(int ms) { keyringTimeoutMs = ms; }

    // Ends in readDone: the secret and where it came from (None and empty when nowhere).
    void read();
    // Ends in written: the place it went to, None when neither keyring nor file took it. An
    // empty secret removes the stored one from both.
    void write(const QString &secret);

    static QString environmentSecret();
    // Words for the settings dialog: where the secret is kept.
    static QString placeText(Place place, const QString &file);

signals:
    void readDone(const QString &secret, SecretStore::Place place);
    void written(SecretStore::Place place);

private:
    void keyringRead();
    void keyringWrite(const QString &secret);
    void keyringRemove();
    void runKeyringJob(QKeychain::Job *job, std::function<void(QKeychain::Job *)> answered,
        std::function<void()> timedOut);
    void fallBackRead();
    void fallBackWrite(const QString &secret);
    // A keyring answer belongs to the newest call only; an older one is dropped.
    int startCall();

    QString fileFolder;
    int keyringTimeoutMs = 5000;
    int call = 0;
};

// The fallback file: made afresh with mode 600 and renamed over the old one, so that no other
// user can read it at any moment.
namespace SecretFile {

bool write(const QString &path, const QString &secret);
// The file's text without its line end; false when it cannot be read (or is over 64 KiB).
bool read(const QString &path, QString *secret);
// Whether users other than the file's owner may read or change it.
bool othersMayAccess(const QString &path);

} // namespace SecretFile
