#pragma once

#include <QByteArray>
#include <QString>

#include <json/value.h>

// Reading the service's replies without ever letting JsonCpp throw: every accessor checks the
// type first, since a reply of the wrong shape must never end the program.
namespace JsonReading {

// True when the whole body is one JSON object (nothing but blanks after it). JsonCpp ends
// the text at a zero byte, as the service's C strings do.
bool parseObject(const QByteArray &body, Json::Value *root);
// The value decoded as UTF-8 when it is a string; empty otherwise.
QString utf8String(const Json::Value &value);
// The member decoded as UTF-8 when it is a string; empty otherwise.
QString stringMember(const Json::Value &object, const char *name);

} // namespace JsonReading
