// Chooses the speech service's search settings by measurement: decodes the tuning set (made by
// make-tuning-set.sh) with the service's own recogniser and silence splitter under a grid of
// search settings, and prints for each its decoding time and word error rate as "name: value"
// lines, then the settings on the speed/accuracy front.
//
// Decoding time is the CPU time of the decoding thread, which other work on a shared machine
// barely changes; wall time is printed beside it.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <optional>
#include <thread>

#include "common/wordrate.h"
#include "cputime.h"
#include "figures.h"
#include "service/app/search_options.h"
#include "service/recognition/audio_input.h"
#include "service/recognition/pocketsphinx_recognizer.h"
#include "service/recognition/silence_splitter.h"

using namespace speech;

using Bench::figure;

namespace {

struct Item
{
    QString name;
    QString condition; // clean, noise, phone or reverb: the last part of the name
    QStringList reference;
    std::vector<int16_t> samples;
};

struct Setting
{
    QString name;
    SearchSettings search;
};

struct Errors
{
    int edits = 0;
    int words = 0;
    void add(const QStringList &reference, const QStringList &hypothesis)
    {
        edits += WordRate::editDistance(reference, hypothesis);
        words += reference.size();
    }
    double percent() const { return words ? 100.0 * edits / words : 0; }
};

struct Result
{
    double cpuSeconds = 0;
    double wallSeconds = 0;
    Errors all;
    QMap<QString, Errors> byCondition;
    QString failure;
};

double wallSeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// One-at-a-time changes from PocketSphinx's defaults, then combinations of the cheap ones.
QVector<Setting> grid()
{
    QVector<Setting> settings;
    const SearchSettings full = accurateSearch();
    auto add = [&](const QString &name, auto change) {
        SearchSettings s = full;
        change(s);
        settings.push_back({ name, s });
    };
    add(QStringLiteral("accurate"), [](SearchSettings &) {});
    for (int hmms : { 10000, 5000, 3000, 2000 })
        add(QStringLiteral("hmm%1").arg(hmms),
            [=](SearchSettings &s) { s.maxHmmsPerFrame = hmms; });
    for (int words : { 20, 10 })
        add(QStringLiteral("wpf%1").arg(words),
            [=](SearchSettings &s) { s.maxWordsPerFrame = words; });
    add(QStringLiteral("beam1e-40"), [](SearchSettings &s) { s.beam = 1e-40; });
    add(QStringLiteral("pbeam1e-30"), [](SearchSettings &s) { s.phoneBeam = 1e-30; });
    add(QStringLiteral("wbeam1e-20"), [](SearchSettings &s) { s.wordBeam = 1e-20; });
    add(QStringLiteral("noflat"), [](SearchSettings &s) { s.flatPass = false; });
    add(QStringLiteral("nobestpath"), [](SearchSettings &s) { s.bestPath = false; });
    add(QStringLiteral("ds2"), [](SearchSettings &s) { s.frameStep = 2; });

    struct Combination
    {
        int hmms;
        int words;
        bool flat;
        double beam;
        double wordBeam;
        bool bestPath;
        int frameStep;
    };
    const Combination combinations[] = {
        { 5000, 20, false, 1e-48, 7e-29, true, 1 },
        { 3000, 20, false, 1e-48, 7e-29, true, 1 },
        { 3000, 10, false, 1e-48, 7e-29, true, 1 },
        { 2000, 10, false, 1e-48, 7e-29, true, 1 },
        { 3000, 10, false, 1e-40, 7e-29, true, 1 },
        { 3000, 10, false, 1e-48, 7e-29, false, 1 },
        { 3000, 10, false, 1e-48, 7e-29, true, 2 },
        { 5000, 20, true, 1e-48, 7e-29, true, 1 },
        { 3000, 10, true, 1e-48, 7e-29, true, 1 },
    };
    for (const Combination &c : combinations) {
        QString name = QStringLiteral("hmm%1_wpf%2").arg(c.hmms).arg(c.words);
        if (!c.flat)
            name += QStringLiteral("_noflat");
        if (c.beam != full.beam)
            name += QStringLiteral("_beam%1").arg(c.beam);
        if (c.wordBeam != full.wordBeam)
            name += QStringLiteral("_wbeam%1").arg(c.wordBeam);
        if (!c.bestPath)
            name += QStringLiteral("_nobestpath");
        if (c.frameStep != 1)
            name += QStringLiteral("_ds%1").arg(c.frameStep);
        add(name, [&](SearchSettings &s) {
            s.maxHmmsPerFrame = c.hmms;
            s.maxWordsPerFrame = c.words;
            s.flatPass = c.flat;
            s.beam = c.beam;
            s.wordBeam = c.wordBeam;
            s.bestPath = c.bestPath;
            s.frameStep = c.frameStep;
        });
    }
    if (std::none_of(settings.cbegin(), settings.cend(),
            [](const Setting &s) { return s.search == fastSearch(); }))
        settings.push_back({ QStringLiteral("service_default"), fastSearch() });
    return settings;
}

// "name=--max-words-per-frame 20 ...": the service's own options, applied as the service applies
// them to its default.
std::optional<Setting> settingFromOptions(const QString &text, QString &error)
{
    const QString name = text.section(QLatin1Char('='), 0, 0);
    std::vector<std::string> words;
    for (const QString &word :
        text.section(QLatin1Char('='), 1, -1).split(QLatin1Char(' '), Qt::SkipEmptyParts))
        words.push_back(word.toStdString());
    Setting setting { name, fastSearch() };
    std::string reason;
    if (name.isEmpty() || !parseSearchOptions(words, setting.search, reason)) {
        error = name.isEmpty() ? QStringLiteral("a name is needed before \"=\"")
                               : QString::fromStdString(reason);
        return std::nullopt;
    }
    return setting;
}

bool loadItems(const QString &dir, QVector<Item> &items)
{
    const QDir folder(dir);
    for (const QString &wavName :
        folder.entryList({ QStringLiteral("*.wav") }, QDir::Files, QDir::Name)) {
        Item item;
        item.name = wavName.chopped(4);
        item.condition = item.name.section(QLatin1Char('-'), -1);
        QFile text(folder.filePath(item.name + QStringLiteral(".txt")));
        QFile wav(folder.filePath(wavName));
        if (!text.open(QIODevice::ReadOnly) || !wav.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s and its text\n", qPrintable(wavName));
            return false;
        }
        item.reference = WordRate::words(QString::fromUtf8(text.readAll()));
        const QByteArray bytes = wav.readAll();
        AudioInput audio = readAudio(std::string_view(bytes.constData(), size_t(bytes.size())));
        if (!audio.ok) {
            std::fprintf(stderr, "%s: %s\n", qPrintable(wavName), audio.error.c_str());
            return false;
        }
        item.samples = std::move(audio.samples);
        items.push_back(std::move(item));
    }
    return !items.isEmpty();
}

// Decodes every item as the service does: cut at silences, each utterance on its own.
Result decodeAll(const SearchSettings &search, const QVector<Item> &items)
{
    Result r;
    try {
        PocketSphinxRecognizer decoder(defaultEnglishModel(), search);
        for (const Item &item : items) {
            const double cpu = CpuTime::thread();
            const double wall = wallSeconds();
            const std::vector<size_t> bounds
                = utteranceBounds(item.samples.data(), item.samples.size());
            QString text;
            for (size_t u = 0; u + 1 < bounds.size(); ++u) {
                text += QString::fromStdString(decoder.recognize(
                            item.samples.data() + bounds[u], bounds[u + 1] - bounds[u]))
                    + QLatin1Char(' ');
            }
            r.cpuSeconds += CpuTime::thread() - cpu;
            r.wallSeconds += wallSeconds() - wall;
            const QStringList hypothesis = WordRate::words(text);
            r.all.add(item.reference, hypothesis);
            r.byCondition[item.condition].add(item.reference, hypothesis);
        }
    } catch (const std::exception &e) {
        r.failure = QString::fromLocal8Bit(e.what());
    }
    return r;
}

// pocketsphinx_continuous on the same files, for the accuracy the service must not fall below.
Result decodeContinuous(const QString &dir, const QVector<Item> &items)
{
    Result r;
    for (const Item &item : items) {
        QProcess p;
        const double cpu = CpuTime::children();
        const double wall = wallSeconds();
        p.start(QStringLiteral("pocketsphinx_continuous"),
            { QStringLiteral("-infile"), QDir(dir).filePath(item.name + QStringLiteral(".wav")),
                QStringLiteral("-logfn"), QStringLiteral("/dev/null") });
        if (!p.waitForFinished(-1) || p.exitCode() != 0) {
            r.failure = QStringLiteral("pocketsphinx_continuous failed on ") + item.name;
            return r;
        }
        r.cpuSeconds += CpuTime::children() - cpu;
        r.wallSeconds += wallSeconds() - wall;
        const QStringList hypothesis
            = WordRate::words(QString::fromUtf8(p.readAllStandardOutput()));
        r.all.add(item.reference, hypothesis);
        r.byCondition[item.condition].add(item.reference, hypothesis);
    }
    return r;
}

void printResult(const QString &name, const Result &r, double audioSeconds)
{
    if (!r.failure.isEmpty()) {
        figure(name + QStringLiteral("_error"), r.failure);
        return;
    }
    figure(name + QStringLiteral("_decoding_cpu_s"), r.cpuSeconds);
    figure(name + QStringLiteral("_decoding_wall_s"), r.wallSeconds);
    figure(name + QStringLiteral("_cpu_real_time_factor"), r.cpuSeconds / audioSeconds, 3);
    figure(name + QStringLiteral("_wer_percent"), r.all.percent(), 1);
    for (auto it = r.byCondition.cbegin(); it != r.byCondition.cend(); ++it)
        figure(name + QStringLiteral("_wer_") + it.key() + QStringLiteral("_percent"),
            it->percent(), 1);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Decoding time and word error rate of the speech service's recogniser on the tuning set, "
        "for a grid of search settings."));
    parser.addHelpOption();
    QCommandLineOption setOption(QStringLiteral("set"),
        QStringLiteral("Tuning set made by make-tuning-set.sh (default: "
                       "made afresh in a temporary folder)."),
        QStringLiteral("dir"));
    QCommandLineOption jobsOption(QStringLiteral("jobs"),
        QStringLiteral("Settings decoded side by side (default 1)."), QStringLiteral("n"),
        QStringLiteral("1"));
    QCommandLineOption onlyOption(QStringLiteral("only"),
        QStringLiteral("Only these settings of the grid, comma-separated."),
        QStringLiteral("names"));
    QCommandLineOption tryOption(QStringLiteral("try"),
        QStringLiteral("One more setting: a name, \"=\" and the speech service's search options, "
                       "e.g. w20=\"--max-words-per-frame 20\" (from the service's default). "
                       "May be repeated."),
        QStringLiteral("name=options"));
    QCommandLineOption listOption(
        QStringLiteral("list"), QStringLiteral("List the grid and stop."));
    QCommandLineOption skipDirect(
        QStringLiteral("no-direct"), QStringLiteral("Skip pocketsphinx_continuous."));
    parser.addOptions({ setOption, jobsOption, onlyOption, tryOption, listOption, skipDirect });
    parser.process(app);

    QVector<Setting> settings = grid();
    for (const QString &tried : parser.values(tryOption)) {
        QString error;
        const std::optional<Setting> setting = settingFromOptions(tried, error);
        if (!setting) {
            std::fprintf(stderr, "--try %s: %s\n", qPrintable(tried), qPrintable(error));
            return 2;
        }
        settings.push_back(*setting);
    }
    if (parser.isSet(onlyOption)) {
        const QStringList wanted = parser.value(onlyOption).split(QLatin1Char(','));
        settings.erase(std::remove_if(settings.begin(), settings.end(),
                           [&](const Setting &s) { return !wanted.contains(s.name); }),
            settings.end());
    }
    if (parser.isSet(listOption) || settings.isEmpty()) {
        for (const Setting &s : settings)
            std::printf("%s: %s\n", qPrintable(s.name), describeSearch(s.search).c_str());
        return settings.isEmpty() ? 2 : 0;
    }
    bool jobsOk = false;
    const int jobs = parser.value(jobsOption).toInt(&jobsOk);
    if (!jobsOk || jobs < 1 || jobs > 64) {
        std::fprintf(stderr, "--jobs needs a number from 1 to 64\n");
        return 2;
    }

    QTemporaryDir made;
    QString dir = parser.value(setOption);
    if (dir.isEmpty()) {
        dir = made.path();
        if (QProcess::execute(QStringLiteral(TOV_SOURCE_DIR "/bench/make-tuning-set.sh"), { dir })
            != 0) {
            std::fprintf(stderr, "make-tuning-set.sh failed\n");
            return 1;
        }
    }
    QVector<Item> items;
    if (!loadItems(dir, items)) {
        std::fprintf(stderr, "no tuning set in %s\n", qPrintable(dir));
        return 1;
    }
    double audioSeconds = 0;
    int words = 0;
    for (const Item &item : items) {
        audioSeconds += double(item.samples.size()) / kSampleRate;
        words += item.reference.size();
    }
    figure(QStringLiteral("tuning_items"), QString::number(items.size()));
    figure(QStringLiteral("tuning_audio_s"), audioSeconds, 1);
    figure(QStringLiteral("tuning_words"), QString::number(words));

    // Each setting's figures as soon as it is done, so that a long run shows its progress.
    QVector<Result> results(settings.size());
    std::atomic<int> next { 0 };
    std::mutex printing;
    auto work = [&] {
        for (int i = next++; i < settings.size(); i = next++) {
            results[i] = decodeAll(settings[i].search, items);
            const std::lock_guard<std::mutex> lock(printing);
            figure(settings[i].name + QStringLiteral("_arguments"),
                QString::fromStdString(describeSearch(settings[i].search)));
            printResult(settings[i].name, results[i], audioSeconds);
        }
    };
    std::vector<std::thread> workers;
    for (int j = 0; j < std::min(jobs, int(settings.size())); ++j)
        workers.emplace_back(work);
    for (std::thread &t : workers)
        t.join();
    if (!parser.isSet(skipDirect))
        printResult(
            QStringLiteral("pocketsphinx_continuous"), decodeContinuous(dir, items), audioSeconds);

    const int base = int(std::find_if(settings.cbegin(), settings.cend(), [](const Setting &s) {
        return s.search == accurateSearch();
    }) - settings.cbegin());
    if (base < settings.size() && results[base].cpuSeconds > 0) {
        for (int i = 0; i < settings.size(); ++i) {
            figure(settings[i].name + QStringLiteral("_cpu_ratio_to_accurate"),
                results[i].cpuSeconds / results[base].cpuSeconds, 3);
        }
    }

    // A setting is on the front when no other is both at least as fast and at least as accurate,
    // and better in one of the two.
    QStringList front;
    for (int i = 0; i < settings.size(); ++i) {
        const Result &a = results[i];
        if (!a.failure.isEmpty())
            continue;
        bool dominated = false;
        for (int j = 0; j < settings.size() && !dominated; ++j) {
            const Result &b = results[j];
            dominated = j != i && b.failure.isEmpty() && b.cpuSeconds <= a.cpuSeconds
                && b.all.edits <= a.all.edits
                && (b.cpuSeconds < a.cpuSeconds || b.all.edits < a.all.edits);
        }
        if (!dominated)
            front << settings[i].name;
    }
    std::sort(front.begin(), front.end(), [&](const QString &x, const QString &y) {
        auto cpu = [&](const QString &n) {
            return results[int(std::find_if(settings.cbegin(), settings.cend(),
                                   [&](const Setting &s) { return s.name == n; })
                               - settings.cbegin())]
                .cpuSeconds;
        };
        return cpu(x) < cpu(y);
    });
    figure(QStringLiteral("front"), front.join(QLatin1Char(' ')));
    for (const Setting &s : settings) {
        if (s.search == fastSearch())
            figure(QStringLiteral("service_default"), s.name);
    }
    return 0;
}
