#pragma once

#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>

// The word table's document of one transcript, and which of its lines a query matched: one
// document a transcript, so that a query reads one row a transcript however many of its lines
// hold the term, and still tells the lines apart.
namespace TranscriptDocument {

// The word that closes each line. No line's words nor any query holds it: the word table's
// text parts every sign off as U+E000.
inline QString lineEnd()
{
    return QString(QChar(0xE001));
}

// The document of a transcript's non-blank lines, given in order as words as the word table takes
// them: each line closed by lineEnd(), so that the n-th line end closes the n-th of them and no
// phrase is found across a line break. Blank lines have no end of their own: they would only
// lengthen what every query reads.
QString text(const QStringList &lines);

struct Instance
{
    int phrase; // from 0, as the query lists its phrases
    int offset; // in words, from the document's start
};

struct LineMatch
{
    int line;
    int count; // the instances of the query's phrases in the line
};

// The lines in which every one of the query's phrases (0 to phrases - 1, at most 32) occurs, in
// order, into matched (its room kept from call to call); ends are the offsets of the line ends,
// in any order.
void matchLines(const QVector<Instance> &instances, QVector<int> ends, int phrases,
    QVector<LineMatch> *matched);

} // namespace TranscriptDocument
