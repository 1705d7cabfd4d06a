#include "cli/outputplan.h"

#include "core/filenames.h"

#include <QHash>

#include <algorithm>

namespace OutputPlanRules {

QString transcriptPath(const QString &input, const QString &outputDir, CliOptions::Format format)
{
    QString name = FileNames::transcriptName(input);
    if (format == CliOptions::Json)
        name = FileNames::withoutSuffix(name) + QStringLiteral(".json");
    else if (format == CliOptions::Srt)
        name = FileNames::withoutSuffix(name) + QStringLiteral(".srt");
    else if (format == CliOptions::Vtt)
        name = FileNames::withoutSuffix(name) + QStringLiteral(".vtt");
    const QString folder = outputDir.isEmpty() ? FileNames::folderOf(input) : outputDir;
    if (folder.endsWith(QLatin1Char('/')))
        return folder + name;
    return folder + QLatin1Char('/') + name;
}

QList<PlannedFile> plan(const QStringList &inputs, const QString &outputDir,
    const QList<CliOptions::Format> &formats, bool overwrite,
    const std::function<bool(const QString &)> &exists)
{
    QList<PlannedFile> planned;
    QHash<QString, QString> owners; // transcript path -> the input that has it
    for (const QString &input : inputs)
        owners.insert(input, input); // a transcript must never be written over an input
    for (const QString &input : inputs) {
        PlannedFile file;
        file.input = input;
        QStringList paths;
        for (const CliOptions::Format format : formats)
            paths << transcriptPath(input, outputDir, format);
        file.transcript = paths.value(0);
        const auto clash = std::find_if(paths.cbegin(), paths.cend(),
            [&owners](const QString &path) { return owners.contains(path); });
        if (clash != paths.cend()) {
            file.action = PlannedFile::Clash;
            file.transcript = *clash;
            file.clashWith = owners.value(*clash);
        } else {
            for (const QString &path : paths)
                owners.insert(path, input);
            const auto existing
                = overwrite ? paths.cend() : std::find_if(paths.cbegin(), paths.cend(), exists);
            if (existing != paths.cend()) {
                file.action = PlannedFile::Skip;
                file.transcript = *existing;
            }
        }
        planned << file;
    }
    return planned;
}

} // namespace OutputPlanRules
