#include "platform/childprocess.h"

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/prctl.h>
#endif

void ChildProcess::setupChildProcess()
{
#ifdef Q_OS_LINUX
    // Runs in the child between fork and exec.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
#endif
}
