#pragma once

#include <QString>
#include <QStringList>

// The capture part of the recording command for an input device as the device list names it.
namespace CaptureInput {

// True for a name of an ALSA PCM ("hw:CARD=PCH,DEV=0", "plughw:1,0", "sysdefault", ...);
// anything else is taken as a PulseAudio source ("alsa_input.pci-0000_00_1f.3.analog-stereo").
bool isAlsaDeviceName(const QString &deviceName);

// The ffmpeg input options that capture the named device, each a separate argument.
QStringList argumentsFor(const QString &deviceName);

} // namespace CaptureInput
