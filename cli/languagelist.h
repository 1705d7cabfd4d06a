#pragma once

#include <QString>

#include "asr/transcriptionjob.h"

struct ServiceChoice;

// The languages of the chosen service, for --list-languages and for refusing a run in a
// language the service is known to lack.
namespace LanguageList {

// The job settings that name a service: address, kind, model, credentials.
JobSettings serviceOf(const ServiceChoice &choice, const QString &secret);

// The secret as a run takes it: the environment, then the secret file, then (for a service
// that takes the user's credentials) the keyring or its file.
QString secretFor(const ServiceChoice &choice, const QString &secretFile);

// The refusal of a run in this language when the service is known to have no model for it;
// empty otherwise (also when nothing is known yet).
QString refusal(const JobSettings &service, const QString &language);

// Asks the service, keeps the answer and prints one line a language to standard output;
// 0 when the service answered, 1 when it did not (said on standard error).
int print(const JobSettings &service, const QString &program, const QString &serviceProgram);

} // namespace LanguageList
