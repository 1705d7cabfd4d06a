#include "cli/outputplan.h"

#include "core/filenames.h"

#include <QHash>

namespace OutputPlanRules {

QString transcriptPath(const QString &input, const QString &outputDir, CliOptions::Format format)
{
    QString name = FileNames::transcriptName(input);
    if (format == CliOptions::Json)
        name = FileNames::withoutSuffix(name) + QStringLiteral(".json");
    const QString folder = outputDir.isEmpty() ? FileNames::folderOf(input) : outputDir;
    if (folder.endsWith(QLatin1Char('/')))
        return folder + name;
    return folder + QLatin1Char('/') + name;
}

QList<PlannedFile> plan(const QStringList &inputs, const QString &outputDir,
    CliOptions::Format format, bool overwrite, const std::function<bool(const QString &)> &exists)
{
    QList<PlannedFile> planned;
    QHash<QString, QString> owners; // transcript path -> the input that has it
    for (const QString &input : inputs)
        owners.insert(input, input); // a transcript must never be written over an input
    for (const QString &input : inputs) {
        PlannedFile file;
        file.input = input;
        file.transcript = transcriptPath(input, outputDir, format);
        if (owners.contains(file.transcript)) {
            file.action = PlannedFile::Clash;
            file.clashWith = owners.value(file.transcript);
        } else {
            owners.insert(file.transcript, input);
            if (!overwrite && exists(file.transcript))
                file.action = PlannedFile::Skip;
        }
        planned << file;
    }
    return planned;
}

} // namespace OutputPlanRules
