#include "platform/inputdevices.h"

#include "platform/captureinput.h"

#include <QAudioDeviceInfo>

namespace InputDevices {

QStringList names()
{
    QList<CaptureInput::ListedDevice> listed;
    for (const QAudioDeviceInfo &device : QAudioDeviceInfo::availableDevices(QAudio::AudioInput))
        listed.append({ device.deviceName(), device.realm() == QLatin1String("alsa") });
    // Without a sound server this is ALSA's alias, which is never listed anyway.
    const QAudioDeviceInfo preferred = QAudioDeviceInfo::defaultInputDevice();
    const QString serverDefault
        = preferred.realm() == QLatin1String("alsa") ? QString() : preferred.deviceName();
    return CaptureInput::usableNames(listed, serverDefault);
}

} // namespace InputDevices
