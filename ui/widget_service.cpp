#include "ui/widget.h"

#include "core/programlayout.h"
#include "asr/speechservicestarter.h"

#include <QCoreApplication>

SpeechServiceStarter *Widget::serviceStarter()
{
    if (!speechServiceStarter) {
        // A child: destroyed with the window, it ends the service it started. The job asks it
        // before each token request and reports its failure like any other.
        speechServiceStarter = new SpeechServiceStarter(this);
        speechServiceStarter->setProgram(
            ProgramLayout::findServiceProgram(QCoreApplication::applicationDirPath()));
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
