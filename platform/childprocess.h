#pragma once

#include <QProcess>

// A process that ends with the program: when the program is killed (no destructor runs), its
// ffmpeg would otherwise go on writing segments into a folder the next run empties and reuses.
class ChildProcess : public QProcess
{
    Q_OBJECT
public:
    using QProcess::QProcess;

protected:
    void setupChildProcess() override;
};
