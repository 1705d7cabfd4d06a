#include "ui/transcriptsearch.h"

#include "core/libraryindex.h"

#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace {
const int kShown = 500;
const int kContext = 24; // characters before the first match
const int kExcerpt = 80;
enum Role { PathRole = Qt::UserRole, LineRole, StartRole };
} // namespace

TranscriptSearch::TranscriptSearch(LibraryIndex *index, QWidget *parent)
    : QWidget(parent)
    , index(index)
    , field(new QLineEdit(this))
    , state(new QLabel(this))
    , results(new QListWidget(this))
    , typing(new QTimer(this))
{
    setObjectName(QStringLiteral("transcriptSearch"));
    field->setObjectName(QStringLiteral("searchField"));
    field->setPlaceholderText(QStringLiteral("搜索转写文本"));
    field->setClearButtonEnabled(true);
    state->setObjectName(QStringLiteral("searchState"));
    results->setObjectName(QStringLiteral("searchResults"));
    results->hide();
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(field);
    layout->addWidget(state);
    layout->addWidget(results, 1);

    // A query a pause after the last key, not one a key.
    typing->setSingleShot(true);
    typing->setInterval(250);
    connect(field, &QLineEdit::textChanged, typing, qOverload<>(&QTimer::start));
    connect(field, &QLineEdit::returnPressed, this, &TranscriptSearch::runQuery);
    connect(typing, &QTimer::timeout, this, &TranscriptSearch::runQuery);
    connect(results, &QListWidget::itemActivated, this, &TranscriptSearch::open);
    connect(results, &QListWidget::itemDoubleClicked, this, &TranscriptSearch::open);
    connect(index, &LibraryIndex::buildingChanged, this, &TranscriptSearch::showBuilding);
    // What the index learns meanwhile shows in the results of the query in the field.
    connect(index, &LibraryIndex::updated, this, [this] {
        if (!field->text().trimmed().isEmpty())
            typing->start();
    });
    showBuilding(index->isBuilding());
}

void TranscriptSearch::focusField()
{
    field->setFocus(Qt::ShortcutFocusReason);
    field->selectAll();
}

void TranscriptSearch::showBuilding(bool building)
{
    state->setText(building ? QStringLiteral("正在建立搜索索引，结果可能不全...") : QString());
    state->setVisible(building);
}

void TranscriptSearch::runQuery()
{
    typing->stop();
    if (field->text().trimmed().isEmpty()) {
        results->clear();
        results->hide();
        emit resultsShown(0);
        return;
    }
    show(index->search(field->text(), kShown));
}

QString TranscriptSearch::resultText(
    const QString &name, qint64 startMs, const QString &line, const QVector<QPair<int, int>> &spans)
{
    int from = spans.isEmpty() ? 0 : std::max(0, spans.first().first - kContext);
    const int to = std::min<int>(line.size(), from + kExcerpt);
    QString text;
    if (from > 0)
        text += QStringLiteral("…");
    int at = from;
    for (const auto &s : spans) {
        if (s.second <= from || s.first >= to)
            continue;
        const int start = std::max(s.first, from);
        const int end = std::min(s.second, to);
        text += line.mid(at, start - at).toHtmlEscaped();
        text += QStringLiteral("<b style=\"color:#c0392b\">")
            + line.mid(start, end - start).toHtmlEscaped() + QStringLiteral("</b>");
        at = end;
    }
    text += line.mid(at, to - at).toHtmlEscaped();
    if (to < line.size())
        text += QStringLiteral("…");
    QString time;
    if (startMs >= 0) {
        const qint64 s = startMs / 1000;
        time = QStringLiteral(" [%1:%2:%3]")
                   .arg(s / 3600)
                   .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
                   .arg(s % 60, 2, 10, QLatin1Char('0'));
    }
    return QStringLiteral("<span style=\"color:#555\">%1%2</span> %3")
        .arg(name.toHtmlEscaped(), time, text);
}

void TranscriptSearch::show(const SearchResults &found)
{
    results->clear();
    for (const SearchHit &hit : found.hits) {
        auto *item = new QListWidgetItem(results);
        item->setData(PathRole, hit.path);
        item->setData(LineRole, hit.line);
        item->setData(StartRole, hit.startMs);
        // The plain text is what a screen reader and the tests read.
        item->setData(Qt::AccessibleTextRole,
            QString(QFileInfo(hit.path).fileName() + QLatin1Char(' ') + hit.text));
        auto *label = new QLabel(
            resultText(QFileInfo(hit.path).fileName(), hit.startMs, hit.text, hit.spans));
        label->setTextFormat(Qt::RichText);
        item->setSizeHint(label->sizeHint());
        results->setItemWidget(item, label);
    }
    if (found.hits.isEmpty())
        state->setText(QStringLiteral("没有找到"));
    else if (found.total > found.hits.size())
        state->setText(
            QStringLiteral("共%1处，显示前%2处").arg(found.total).arg(found.hits.size()));
    else
        state->setText(QStringLiteral("共%1处").arg(found.total));
    state->setVisible(true);
    if (index->isBuilding())
        showBuilding(true);
    results->setVisible(!found.hits.isEmpty());
    emit resultsShown(found.total);
}

void TranscriptSearch::open(QListWidgetItem *item)
{
    if (!item)
        return;
    emit openRequested(item->data(PathRole).toString(), item->data(LineRole).toInt(),
        item->data(StartRole).toLongLong());
}
