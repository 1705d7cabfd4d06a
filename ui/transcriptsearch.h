#pragma once

#include <QWidget>

class LibraryIndex;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QTimer;
struct SearchResults;

// The search over the transcript library: a field ("搜索转写文本") and the matching lines, the
// best first, each with its transcript's name, its time where the transcript has times and the
// match marked. It asks for a result to be opened; its owner opens it.
class TranscriptSearch final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY(TranscriptSearch)

public:
    TranscriptSearch(LibraryIndex *index, QWidget *parent);

    // Puts the cursor in the field (Ctrl+Shift+F).
    void focusField();
    // Runs the query in the field now.
    void runQuery();

    // One result's line as rich text: the name, the time and the line around its first match,
    // the matches in bold.
    static QString resultText(const QString &name, qint64 startMs, const QString &line,
        const QVector<QPair<int, int>> &spans);

signals:
    void openRequested(const QString &path, int line, qint64 startMs);
    // The results of a query are shown (count: lines found).
    void resultsShown(int count);

private:
    void show(const SearchResults &results);
    void showBuilding(bool building);
    void open(QListWidgetItem *item);

    LibraryIndex *index;
    QLineEdit *field;
    QLabel *state;
    QListWidget *results;
    QTimer *typing;
};
