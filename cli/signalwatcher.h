#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGINT and SIGTERM into a signal of the event loop: the handler only writes the number
// into a pipe, and the loop reads it, since almost nothing else is safe inside a handler.
class SignalWatcher final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(SignalWatcher)

public:
    explicit SignalWatcher(QObject *parent = nullptr);
    ~SignalWatcher() override;

    // False when the pipe or a handler could not be set up.
    bool isWatching() const { return notifier != nullptr; }

    // True from the moment a signal arrived, before the loop has read it: Ctrl+C reaches the
    // ffmpeg runs of the terminal's process group too, and their ends, which the loop may see
    // first, are no failures of their files.
    static bool hasReceived();

signals:
    void received(int signalNumber);

private:
    void readPipe();

    QSocketNotifier *notifier = nullptr;
};
