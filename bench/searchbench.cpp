// searchbench: the transcript search at the library's scale. Generates N transcripts (10,000 by
// default) of half an hour each, as the job writes them (one paragraph a 59-second segment,
// about 4 Chinese characters a second with some English), builds the index from nothing, then
// times queries of one to six characters and English words and prefixes.
#include "core/transcriptindex.h"
#include "figures.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextCodec>

#include <algorithm>
#include <cmath>
#include <ctime>

namespace {

QStringList words(const char *list)
{
    return QString::fromUtf8(list).split(QLatin1Char(' '));
}

// A paragraph of about the given number of characters, words drawn from the lists.
template <typename Draw>
QString paragraph(QRandomGenerator &random, Draw zh, const QStringList &en, int length)
{
    QString text;
    while (text.size() < length) {
        if (random.bounded(12) == 0)
            text += QLatin1Char(' ') + en[random.bounded(en.size())] + QLatin1Char(' ');
        else
            text += zh(random);
        if (random.bounded(9) == 0)
            text += QStringLiteral("，");
    }
    return text + QStringLiteral("。");
}

// The program's processor time, on every core: what a query costs, whatever else the machine
// runs.
double cpuMs()
{
    timespec t {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

qint64 folderBytes(const QString &folder, const QString &pattern)
{
    qint64 total = 0;
    for (const QFileInfo &info : QDir(folder).entryInfoList({ pattern }, QDir::Files))
        total += info.size();
    return total;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    int count = 10000;
    int queriesRun = 300;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--transcripts"))
            count = args[i + 1].toInt();
        if (args[i] == QLatin1String("--queries"))
            queriesRun = args[i + 1].toInt();
    }
    // A vocabulary of 20,000 words of two to four characters from 400 common ones, drawn by
    // rank as a language's words are (Zipf): a few very common, most rare.
    const QString pool = QString::fromUtf8("的一是在不了有和人这中大为上个国我以要他时来用们生到作"
                                           "地于出就分对成会可主发年动同工也能下过子说产种面"
                                           "而方后多定行学法所民得经十三之进着等部度家电力里如水化"
                                           "高自二理起小物现实加量都两体制机当使点从业本去把性"
                                           "好应开它合还因由其些然前外天政四日那社义事平形相全表间"
                                           "样与关各重新线内数正心反你明看原又么利比或但质气第"
                                           "向道命此变条只没结解问意建月公无系军很情者最立代想已通"
                                           "并提直题党程展五果料象员革位入常文总次品式活设及管"
                                           "特件长求老头基资边流路级少图山统接知较将组见计别她手角"
                                           "期根论运农指几九区强放决西被干做必战先回则任取据处"
                                           "队南给色光门即保治北造百规热领七海口东导器压志世金增争"
                                           "济阶油思术极交受联什认六共权收证改清美再采转更单风"
                                           "切打白教速花带安场身车例真务具万每目至达走积示议声报斗"
                                           "完类八离华名确才科张信马节话米整空元况今集温传土许"
                                           "步群广石记需段研界拉林律叫且究观越织装影算低持音众书布"
                                           "复容儿须际商非验连断深难近矿千周委素技备半办青省列");
    QRandomGenerator vocabulary(7);
    QStringList zh;
    while (zh.size() < 20000) {
        QString w;
        const int n = 2 + vocabulary.bounded(3);
        for (int k = 0; k < n; ++k)
            w += pool.at(vocabulary.bounded(pool.size()));
        zh << w;
    }
    // Zipf by rank: index = floor(N^u) - 1 for u uniform in [0, 1).
    const auto zipf = [&zh](QRandomGenerator &r) {
        return zh[std::min<int>(zh.size() - 1, int(std::pow(zh.size(), r.generateDouble())) - 1)];
    };
    const QStringList en = words("AI API bug server cloud meeting budget release deadline "
                                 "review demo sprint backlog feature design report data model");

    QTemporaryDir dir;
    const QString library = dir.filePath(QStringLiteral("myWordFiles"));
    QDir().mkpath(library);
    QRandomGenerator random(20261209);
    QTextCodec *codec = QTextCodec::codecForName("UTF-8");
    for (int i = 0; i < count; ++i) {
        // Half an hour: 31 segments of 59 s, about 4 characters a second.
        QString text;
        for (int p = 0; p < 31; ++p)
            text += paragraph(random, zipf, en, 200 + random.bounded(80)) + QStringLiteral("\n\n");
        QFile f(QStringLiteral("%1/会议%2.txt").arg(library).arg(i, 5, 10, QLatin1Char('0')));
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        f.write(codec->fromUnicode(text));
    }
    Bench::figure("transcripts", QString::number(count));
    Bench::figure("corpus_mb", folderBytes(library, QStringLiteral("*.txt")) / 1e6, 1);

    const QString file = dir.filePath(QStringLiteral("index.sqlite"));
    QElapsedTimer clock;
    clock.start();
    TranscriptIndex index;
    if (!index.open(file, library) || !index.sync())
        return 1;
    Bench::figure("first_build_s", clock.elapsed() / 1000.0, 1);
    Bench::figure("index_mb", folderBytes(dir.path(), QStringLiteral("index.sqlite*")) / 1e6, 1);

    // Nothing changed: the start's check alone.
    clock.restart();
    index.sync();
    Bench::figure("unchanged_check_ms", clock.elapsed(), 0);

    // Queries: single words and characters, phrases of two words, English words and prefixes.
    QStringList queries;
    for (int i = 0; i < queriesRun; ++i) {
        switch (i % 5) {
        case 0:
            queries << zipf(random);
            break;
        case 1:
            queries << zipf(random) + zipf(random);
            break;
        case 2:
            queries << en[random.bounded(en.size())].left(3 + random.bounded(3));
            break;
        case 3:
            queries << zipf(random) + QLatin1Char(' ') + en[random.bounded(en.size())];
            break;
        default:
            queries << zipf(random).left(1);
            break;
        }
    }
    QVector<double> times;
    QVector<double> cpu;
    QVector<QVector<double>> byKind(5);
    qint64 hits = 0;
    for (int i = 0; i < queries.size(); ++i) {
        QElapsedTimer t;
        t.start();
        const double cpuBefore = cpuMs();
        const SearchResults r = index.search(queries[i], 500);
        times << t.nsecsElapsed() / 1e6;
        cpu << cpuMs() - cpuBefore;
        byKind[i % 5] << times.last();
        hits += r.total;
    }
    std::sort(times.begin(), times.end());
    std::sort(cpu.begin(), cpu.end());
    const auto at = [](const QVector<double> &sorted, double share) {
        return sorted[std::min<int>(sorted.size() - 1, int(share * sorted.size()))];
    };
    Bench::figure("queries", QString::number(times.size()));
    Bench::figure("query_p50_ms", at(times, 0.5), 1);
    Bench::figure("query_p95_ms", at(times, 0.95), 1);
    Bench::figure("query_cpu_p50_ms", at(cpu, 0.5), 1);
    Bench::figure("query_cpu_p95_ms", at(cpu, 0.95), 1);
    Bench::figure("query_max_ms", times.last(), 1);
    Bench::figure("mean_matching_lines", double(hits) / times.size(), 0);
    // Which kind of query is slow: a word, two words, a Latin prefix, two terms, a character.
    const char *kinds[] = { "word", "phrase", "prefix", "two_terms", "character" };
    for (int k = 0; k < 5; ++k) {
        QVector<double> &kind = byKind[k];
        std::sort(kind.begin(), kind.end());
        if (!kind.isEmpty())
            Bench::figure(
                QStringLiteral("query_p95_ms_") + QLatin1String(kinds[k]), at(kind, 0.95), 1);
    }

    // One transcript edited by the program: its lines replaced, the removed words merged out.
    const QString edited = QStringLiteral("%1/会议00000.txt").arg(library);
    QFile f(edited);
    f.open(QIODevice::Append);
    f.write("补充一行\n");
    f.close();
    clock.restart();
    index.update(edited);
    Bench::figure("one_update_s", clock.elapsed() / 1000.0, 2);
    return 0;
}
