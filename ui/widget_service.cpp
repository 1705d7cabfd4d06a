#include "ui/widget.h"

#include "asr/speechservicestarter.h"
#include "core/programlayout.h"

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

bool Widget::usesLocalService(const QString &chosenUrl) const
{
    // Tests name their own service's address as the window's local one.
    if (serviceAutoStartOverride >= 0)
        return serviceAutoStartOverride == 1 && chosenUrl == jobDefaults.serviceBaseUrl;
    // Whatever the settings call it, the built-in address is only asked once proven.
    return SpeechServiceStarter::isBuiltInAddress(chosenUrl);
}

void Widget::setServiceBaseUrl(const QString &url)
{
    jobDefaults.serviceBaseUrl = url;
}

void Widget::setTokenTimeoutMs(int ms)
{
    jobDefaults.tokenTimeoutMs = ms;
}

void Widget::setRecognitionTimeoutMs(int ms)
{
    jobDefaults.recognitionTimeoutMs = ms;
}

void Widget::setSegmentSeconds(int seconds)
{
    jobDefaults.segmentSeconds = seconds;
}

void Widget::setBackoffScale(double scale)
{
    jobDefaults.backoffScale = scale;
}

SpeechServiceStarter *Widget::starterFor(const QString &chosenUrl)
{
    return usesLocalService(chosenUrl) ? serviceStarter() : nullptr;
}
