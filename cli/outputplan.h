#pragma once

#include "cli/cliarguments.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// Where each input's transcript goes, and whether the input is transcribed at all.
struct PlannedFile
{
    enum Action {
        Transcribe,
        Skip, // the transcript exists and --overwrite was not given
        Clash, // another input, or the input itself, already has this transcript path
    };

    QString input;
    // The first format's file; for Skip and Clash the input's file that exists or clashes.
    QString transcript;
    Action action = Transcribe;
    QString clashWith; // for Clash: the input that has the path first (or the input itself)
};

namespace OutputPlanRules {

// Transcript path of an input: the window's transcript name ("talk.mp3" gives "talk.txt"), or
// ".json", in outputDir, or beside the input when outputDir is empty.
QString transcriptPath(const QString &input, const QString &outputDir, CliOptions::Format format);

// Every format's file counts: an input is skipped when any of its files exists (none is
// replaced without --overwrite), and clashes when any of them is an input or another input's.
QList<PlannedFile> plan(const QStringList &inputs, const QString &outputDir,
    const QList<CliOptions::Format> &formats, bool overwrite,
    const std::function<bool(const QString &)> &exists);

} // namespace OutputPlanRules
