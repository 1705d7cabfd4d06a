#pragma once

#include <QDateTime>
#include <QString>

#include <functional>

// Texts and names of the audio steps: clocks and the name of a new recording.
namespace AudioTexts {

// "HH:MM:SS" of whole seconds, wrapping to "00:00:00" after 24 hours.
QString clockText(int seconds);

// "hh:mm:ss / hh:mm:ss" of the player's position and length in milliseconds; only the position
// while the length is unknown (0), and empty when both are 0. Milliseconds are dropped.
QString playPositionText(qint64 currentMs, qint64 totalMs);

// Full path of a new recording in folder: the local time as "yyMMdd_hhmmss.wav", or with "_1",
// "_2", ... before ".wav" while a name is taken, so that no recording overwrites another.
QString recordFilePath(const QString &folder, const QDateTime &now,
    const std::function<bool(const QString &path)> &isTaken);

} // namespace AudioTexts
