#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include "asr/servicesettings.h"

class QtHttpClass;
class SpeechServiceStarter;
struct HttpReplyInfo;

// "测试连接": asks the service once with the given settings and secret whether it answers and
// takes the credentials (a token request, or a half-second of silence through the
// transcription API), and says so in plain words within the time limit. At the built-in
// address the service must first prove it is the user's own: nothing is sent to another.
class ConnectionTest final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(ConnectionTest)

public:
    enum class Outcome { Accepted, Refused, NotTheService, Unreachable };
    Q_ENUM(Outcome)

    explicit ConnectionTest(QObject *parent = nullptr);
    ~ConnectionTest() override;

    void setTimeoutMs(int ms) { timeoutMs = ms; }
    // A test under way is dropped for the new one.
    void start(const ServiceSettings &settings, const QString &secret);
    bool isRunning() const { return limit.isActive(); }

signals:
    void finished(ConnectionTest::Outcome outcome, const QString &text);

private:
    void send();
    void replied(int requestId, const HttpReplyInfo &info);
    void end(Outcome outcome, const QString &text);

    QtHttpClass *http = nullptr;
    SpeechServiceStarter *owner = nullptr;
    QTimer limit;
    ServiceSettings tested;
    QString testedSecret;
    int timeoutMs = 8000;
};
