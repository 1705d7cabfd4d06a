#pragma once

#include <QString>

#include "core/textrules.h"

// Which speech service the front ends use and how, as the user or an administrator set it.
// Stored per user in "$XDG_CONFIG_HOME/tovarin/tovarin.conf" (INI); the secret never is.
struct ServiceSettings
{
    enum class Kind { Token, Transcriptions };

    Kind kind = Kind::Token;
    // Empty: the built-in local address, with the local service started when nothing answers.
    QString url;
    QString model = QStringLiteral("whisper-1");
    // The token protocol's client id; empty takes the built-in pair.
    QString clientId;
    // A PEM file of certificates trusted besides the system's, for a team's own CA.
    QString caFile;
    // The transcription API's request path; empty: "/v1/audio/transcriptions". whisper.cpp's
    // server has "/inference".
    QString requestPath;
    // The token protocol's token address when it is not the recognition address.
    QString tokenUrl;
    // tokenUrl as the base the token path goes on: trailing slashes, and the token path when
    // the user wrote it out, taken off; empty when tokenUrl is.
    QString tokenBaseAddress() const;

    // How recognised text is written ("输出文字", "中文标点", "数字用阿拉伯数字").
    ChineseScript::Target script = ChineseScript::Target::AsGiven;
    bool chinesePunctuation = true;
    bool spaceBetween = false;
    bool arabicNumbers = false;

    // The text rules of a job in this language (an item text of the language box): the
    // punctuation for the Chinese languages only; the user's terms as given.
    TextRules textRules(const QString &languageText, const UserTerms &terms) const;

    static QString kindName(Kind kind);
    // "token" or "transcriptions"; false for anything else.
    static bool kindFromName(const QString &name, Kind *kind);
};

namespace ServiceSettingsFile {

// "$XDG_CONFIG_HOME/tovarin", or "~/.config/tovarin" when the variable is unset or empty.
QString folder();
QString path();

// What the file holds; values that are missing or unreadable keep their defaults.
ServiceSettings load(const QString &file = path());
// False when the file could not be written.
bool save(const ServiceSettings &settings, const QString &file = path());

} // namespace ServiceSettingsFile

// Plain http to a host other than this machine sends the secret and the audio readably.
bool isPlainRemoteAddress(const QString &url);
