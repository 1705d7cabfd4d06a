// The review editor on a long transcript: a 3-hour recording's 2,500 utterances opened in the
// pane with their times, and what following the player costs a tick. Prints `name: value`.
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QWidget>

#include <cstdio>

#include "core/transcripttimes.h"
#include "ui/playerbar.h"
#include "ui/transcripteditor.h"

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath(QStringLiteral("data"))));

    // Three hours as a service gives them: 2,500 utterances of about 4.3 s, two to a paragraph,
    // each with its words.
    const int utterances = 2500;
    const qint64 step = 3 * 3600 * 1000 / utterances;
    TranscriptTimes times;
    times.source = dir.filePath(QStringLiteral("talk.wav"));
    QString text;
    for (int i = 0; i < utterances; i += 2) {
        TimedParagraph paragraph;
        for (int k = i; k < i + 2; ++k) {
            const qint64 start = k * step;
            TimedUtterance u { start, start + step - 200,
                QStringLiteral("第%1句话说的是今天的会议内容，").arg(k), {} };
            for (int w = 0; w < 6; ++w)
                u.words.append({ start + w * 600, start + w * 600 + 500, u.text.mid(w * 2, 2) });
            paragraph.text += u.text;
            paragraph.utterances.append(u);
        }
        text += paragraph.text + QStringLiteral("\n\n");
        times.paragraphs.append(paragraph);
    }

    QWidget window;
    window.resize(1200, 800);
    QTextEdit pane(&window);
    pane.setGeometry(0, 50, 1000, 700);
    PlayerBar player(&window);
    TranscriptEditor editor(&pane, &player, &window);
    window.show();
    // The player holds the source (not there: only its name is compared) as when it plays it.
    player.playFrom(times.source, 0);

    QElapsedTimer clock;
    clock.start();
    pane.setPlainText(text);
    editor.open(dir.filePath(QStringLiteral("talk.txt")), times);
    app.processEvents();
    std::printf("open_3h_transcript_ms: %.1f\n", clock.nsecsElapsed() / 1e6);

    // A tick every 100 ms through the whole recording, each moving on the highlight as it
    // passes into the next utterance (what a tick costs when the text follows).
    const int ticks = int(3 * 3600 * 10);
    clock.restart();
    double worst = 0;
    for (int t = 0; t < ticks; t += 7) {
        QElapsedTimer one;
        one.start();
        editor.follow(qint64(t) * 100);
        worst = std::max(worst, one.nsecsElapsed() / 1e6);
    }
    std::printf("follow_tick_mean_ms: %.3f\n", clock.nsecsElapsed() / 1e6 / (ticks / 7));
    std::printf("follow_tick_worst_ms: %.3f\n", worst);
    return 0;
}
