#pragma once

#include <QtGlobal>

// A test's own waits and limits that are meant never to be met, grown like CTest's limit of
// the whole program in an instrumented build (TOV_TEST_TIME_SCALE, set by CTest). Limits a
// case means to meet stay as they are.
inline int scaledMs(int ms)
{
    bool ok = false;
    const int scale = qEnvironmentVariableIntValue("TOV_TEST_TIME_SCALE", &ok);
    return ok && scale > 1 ? ms * scale : ms;
}
