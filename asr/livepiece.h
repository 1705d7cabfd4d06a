#pragma once

#include <QByteArray>
#include <QString>

#include "asr/recognitionrequest.h"

// The local service's live route: an utterance sent in pieces while it is said, each piece a
// recognition request (the same members, the same token) with the session it belongs to, how
// many samples of the utterance came before it and whether it is the last.
namespace LivePiece {

QString url(const QString &serviceBaseUrl);
QByteArray body(
    const RecognitionRequest &request, const QString &session, qint64 offsetSamples, bool last);
// The session a reply names; empty when it names none.
QString sessionOf(const QByteArray &replyBody);

} // namespace LivePiece
