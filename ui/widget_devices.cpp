#include "ui/widget.h"

#include <QAudioDeviceInfo>
#include <QComboBox>

void Widget::slotAudioDeviceChanged(QString name)
{
    audioDevice = name;
}

void Widget::getAudioDev()
{
    const QList<QAudioDeviceInfo> devices = QAudioDeviceInfo::availableDevices(QAudio::AudioInput);
    for (const QAudioDeviceInfo &device : devices) {
        const QString name = device.deviceName();
        // Only the exact name "default" is the system's alias; everything else is a device.
        if (name == QLatin1String("default"))
            continue;
        deviceCombo->insertItem(deviceCombo->count(), name, QVariant());
    }
}
