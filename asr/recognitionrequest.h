#pragma once

#include <QByteArray>
#include <QString>

// The recognition request of one segment.
struct RecognitionRequest
{
    QString clientId;
    QString token;
    QString language; // current text of the language box
    QByteArray speech; // the segment's bytes
    qint64 length = 0; // the segment's size in bytes as the file system reports it
};

// "dev_pid" of a language text of the language box; -1 when the text matches no row.
int devPidForLanguage(const QString &language);

// Address of the recognition request.
QString recognitionUrl(const QString &serviceBaseUrl);

// The request body: a JSON object in JsonCpp's styled form (members in name order, three-blank
// indent, final line break), as UTF-8. "dev_pid" is left out for an unknown language.
QByteArray buildRecognitionBody(const RecognitionRequest &request);
