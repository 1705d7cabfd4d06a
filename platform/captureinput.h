#pragma once

#include <QString>
#include <QStringList>

// The capture part of the recording command for an input device as the device list names it.
namespace CaptureInput {

// True for a name of an ALSA PCM ("hw:CARD=PCH,DEV=0", "plughw:1,0", "sysdefault", ...);
// anything else is taken as a PulseAudio source ("alsa_input.pci-0000_00_1f.3.analog-stereo").
bool isAlsaDeviceName(const QString &deviceName);

// An input device as Qt's audio plug-ins list it: the sound server's sources, or ALSA's PCMs.
struct ListedDevice
{
    QString name;
    bool alsa = false;
};

// The names the device list offers, the first the one chosen at start. The sound server's sources
// come first, its default source ahead of them (a monitor of the speakers is often listed first);
// then ALSA's PCMs bound to a card ("sysdefault:CARD=PCH"). ALSA's bare names other than those
// (rate converters and mixers such as "lavrate" or "upmix", routes to servers that may not run)
// capture nothing by themselves, and are listed only when there is nothing else. The system's
// alias "default" is never listed.
QStringList usableNames(const QList<ListedDevice> &devices, const QString &serverDefault);

// The ffmpeg input options that capture the named device, each a separate argument.
QStringList argumentsFor(const QString &deviceName);

} // namespace CaptureInput
