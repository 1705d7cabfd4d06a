#pragma once

#include <QString>

#include <optional>

// A time of day on a recording as people write it: hh:mm:ss with an optional fraction of up
// to three digits ("1:02:03.5", "00:00:07.250"). Hours take any number of digits; minutes and
// seconds are two digits below 60.
namespace ClockTime {

// Milliseconds from the start, or nothing when text is not such a time.
std::optional<qint64> parseMs(const QString &text);

} // namespace ClockTime
