#pragma once

#include <QStringList>

namespace InputDevices {

// The capture devices the machine offers now, by the names the recording command takes, the
// one to choose first at the front (see CaptureInput::usableNames).
QStringList names();

} // namespace InputDevices
