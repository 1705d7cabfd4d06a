#include "cli/signalwatcher.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int pipeEnds[2] = { -1, -1 };
volatile std::sig_atomic_t signalArrived = 0;

void onSignal(int signalNumber)
{
    signalArrived = 1;
    const int savedErrno = errno;
    const char byte = char(signalNumber);
    // Nothing to do when it fails: the pipe is full of earlier requests to end already.
    [[maybe_unused]] const ssize_t written = ::write(pipeEnds[1], &byte, 1);
    errno = savedErrno;
}

const int watchedSignals[] = { SIGINT, SIGTERM };

} // namespace

SignalWatcher::SignalWatcher(QObject *parent)
    : QObject(parent)
{
    if (pipeEnds[0] >= 0 || ::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : watchedSignals) {
        if (::sigaction(number, &action, nullptr) != 0)
            return;
    }
    notifier = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &SignalWatcher::readPipe);
}

SignalWatcher::~SignalWatcher()
{
    for (const int number : watchedSignals)
        std::signal(number, SIG_DFL);
    if (pipeEnds[0] >= 0) {
        ::close(pipeEnds[0]);
        ::close(pipeEnds[1]);
        pipeEnds[0] = pipeEnds[1] = -1;
    }
}

bool SignalWatcher::hasReceived()
{
    return signalArrived != 0;
}

void SignalWatcher::readPipe()
{
    char bytes[16];
    const ssize_t count = ::read(pipeEnds[0], bytes, sizeof bytes);
    for (ssize_t i = 0; i < count; ++i)
        emit received(int(bytes[i]));
}
