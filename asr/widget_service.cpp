#include "ui/widget.h"

#include "app/programlayout.h"
#include "asr/speechservicestarter.h"
#include "ui/dialogs.h"

#include <QCoreApplication>

SpeechServiceStarter *Widget::serviceStarter()
{
    if (!speechServiceStarter) {
        // A child: destroyed with the window, it ends the service it started.
        speechServiceStarter = new SpeechServiceStarter(this);
        speechServiceStarter->setProgram(
            ProgramLayout::findServiceProgram(QCoreApplication::applicationDirPath()));
        connect(speechServiceStarter, &SpeechServiceStarter::ready, this, [this] {
            // Stopped meanwhile, or a token arrived another way: nothing to ask for.
            if (jobRunning() && accessToken.isEmpty())
                requestAccessToken();
        });
        connect(speechServiceStarter, &SpeechServiceStarter::failed, this,
            [this](const QString &message) {
                if (!jobRunning())
                    return;
                Dialogs::current().information(this, QStringLiteral("提示"), message);
                setIdleButtons();
            });
    }
    return speechServiceStarter;
}

bool Widget::serviceAutoStart() const
{
    if (serviceAutoStartOverride >= 0)
        return serviceAutoStartOverride == 1;
    return serviceBaseUrl == QStringLiteral(SPEECH_SERVICE_URL)
        && SpeechServiceStarter::isLocalAddress(serviceBaseUrl);
}

void Widget::requestAccessTokenWhenServiceAnswers()
{
    if (!serviceAutoStart()) {
        requestAccessToken();
        return;
    }
    serviceStarter()->ensureRunning(serviceBaseUrl);
}
