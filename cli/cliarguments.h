#pragma once

#include <QString>
#include <QList>
#include <QStringList>

#include <optional>

// What the command line asks for, checked and resolved.
struct CliOptions
{
    enum Format { Text, Json, Srt, Vtt };

    QStringList inputs; // files and folders as given
    bool recursive = false;
    QString language; // item text of the window's language box
    QString serviceUrl; // without a trailing "/"
    bool serviceSet = false; // --service given; otherwise the saved settings choose
    QString serviceKind; // "token" or "transcriptions"; empty: the saved settings'
    QString model; // empty: the saved settings'
    // A file holding the client secret or key: a secret is never an argument, which every
    // user sees in the process list.
    QString secretFile;
    QString outputDir; // empty: each transcript beside its input
    bool overwrite = false;
    Format format = Text; // the first of formats
    QList<Format> formats { Text }; // every file written for an input, each format once
    int jobs = 1;
    bool quiet = false;
    // Only this span of each file (--from, --to), in milliseconds; toMs -1: to the end.
    qint64 fromMs = 0;
    qint64 toMs = -1;

    // How recognised text is written and where the service answers; each left empty or unset
    // takes the saved settings'.
    QString script; // "zh-Hans", "zh-Hant-TW", "zh-Hant-HK" or "as-given"
    QString termsFile;
    std::optional<bool> chinesePunctuation;
    std::optional<bool> arabicNumbers;
    std::optional<bool> spaceBetween;
    QString requestPath;
    QString tokenUrl;
    // Print the languages the service has models for, and transcribe nothing.
    bool listLanguages = false;
    // Record from a capture device (empty: the default input) and print its text as it is
    // said; the recording and its transcripts go into outputDir (empty: the current folder).
    bool live = false;
    QString device;
    bool deviceSet = false;
    // Print the capture devices, and record nothing.
    bool listDevices = false;
    // Search the transcripts of a folder (inputs: at most one) for this query, transcribe nothing.
    QString search;
    bool searchSet = false;
};

struct CliArguments
{
    enum Outcome {
        Run,
        Help, // print text on standard output, exit 0
        Version, // likewise
        Usage, // print text on standard error, exit 2
    };

    Outcome outcome = Usage;
    CliOptions options;
    QString text;
};

namespace CliArgumentRules {

constexpr int maxJobs = 32;

// Reads the arguments (without the program name). defaultServiceUrl is the build-time address;
// programName only appears in the help text.
CliArguments parse(const QStringList &arguments, const QString &defaultServiceUrl,
    const QString &programName = QStringLiteral("tovarin-transcribe"));

// Item text of the language given by its item text, short Latin name (any case) or dev_pid;
// empty when none matches.
QString languageFor(const QString &argument);

// The address without trailing "/", or empty when it is not an http(s) address with a host.
QString serviceAddress(const QString &argument);

} // namespace CliArgumentRules
