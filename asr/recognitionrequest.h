#pragma once

#include <QByteArray>
#include <QList>
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

// A recognition language: the text of its language box item, a short Latin name for the
// command line, and its "dev_pid".
struct RecognitionLanguage
{
    QString text;
    QString shortName;
    int devPid = -1;
};

// The languages in the order of the language box; the first is its default item.
QList<RecognitionLanguage> recognitionLanguages();

// "dev_pid" of a language text of the language box; -1 when the text matches no row.
int devPidForLanguage(const QString &language);

// Address of the recognition request.
QString recognitionUrl(const QString &serviceBaseUrl);

// The request body: a JSON object in JsonCpp's styled form (members in name order, three-blank
// indent, final line break), as UTF-8. "dev_pid" is left out for an unknown language.
QByteArray buildRecognitionBody(const RecognitionRequest &request);
