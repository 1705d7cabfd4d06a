#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

#include "asr/transcriptionjob.h"

class AccessToken;
class SpeechServiceStarter;
class QtHttpClass;
struct HttpReplyInfo;

// Which languages of the language box a service has a model for. Nothing in either protocol
// lists them, so each language is asked once with a fifth of a second of silence: a service
// without the model says so (the token protocol's 3300 naming the dev_pid, the transcription
// API's 400 naming the language); what was learnt is kept per service.
namespace ServiceLanguages {

// Whether a refusal names a missing model for this language (its dev_pid, its API code).
bool saysNoModel(const QString &message, int devPid, const QString &apiCode);

// One line a service: its kind, address and model.
QString serviceKey(const JobSettings &settings);

// "$XDG_CACHE_HOME/tovarin/languages.json" (or under ~/.cache).
QString cachePath();
// The languages kept for a service; false when none are.
bool cached(const QString &key, QStringList *offered, const QString &file = cachePath());
void keep(const QString &key, const QStringList &offered, const QString &file = cachePath());

// The notice of a job in a language the service has no model for.
QString notOfferedText(const QString &language, const QStringList &offered);

} // namespace ServiceLanguages

// Asks a service which languages it offers, one short request a language, one at a time.
class LanguageProbe final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(LanguageProbe)

public:
    explicit LanguageProbe(QObject *parent = nullptr);
    ~LanguageProbe() override;

    // Asks the service of settings (its address, kind, model, credentials and CA). At the
    // built-in address every request waits for the service's proof that it is the user's own.
    void start(const JobSettings &settings);
    // Lets the probe start the local service program when nothing listens at the built-in
    // address (by default it only proves one that runs).
    void setServiceProgram(const QString &program);
    // Proves (and starts) the local service through a front end's own starter, so that a
    // service started for the probe is the one its job goes on with; not owned.
    void useServiceStarter(SpeechServiceStarter *starter);

    // Runs then once the languages of the built-in local service are known: with nothing kept
    // for it they are asked first, through starter, and kept. Its first job in a language it
    // has no model for is then refused before any conversion. Other services are asked only
    // when the user tests them, and a null starter (the front end does not start the service)
    // asks nothing: then runs at once. Whatever the probe learns, then runs.
    static void learnBuiltIn(const JobSettings &settings, SpeechServiceStarter *starter,
        QObject *context, std::function<void()> then);

signals:
    // known: every language got an answer that says yes or no; offered lists the item texts
    // of the languages with a model, in the language box's order. Not known (no answer, a
    // refused token): offered is empty and nothing should be concluded.
    void finished(bool known, const QStringList &offered);

private:
    void followStarter();
    void askNext();
    void proveThen(std::function<void()> next);
    void send();
    void readToken();
    void readReply(int requestId, const QByteArray &body);
    void readError(int requestId);
    void readUpload(int requestId, const HttpReplyInfo &info);
    void answered(bool offered);
    void end(bool known);

    QtHttpClass *http = nullptr;
    AccessToken *token = nullptr;
    SpeechServiceStarter *owner = nullptr;
    std::function<void()> afterProof;
    bool local = false;
    JobSettings config;
    QStringList languages;
    QStringList offered;
    int next = 0;
    bool running = false;
};
