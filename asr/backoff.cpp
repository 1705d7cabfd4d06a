#include "asr/backoff.h"

#include <cstdlib>

namespace {
int msPerSecond = 1000;
}

namespace Backoff {

int drawSeconds()
{
    return secondsFor(std::rand());
}

int secondsFor(int randomValue)
{
    return randomValue % 10 + 1;
}

int millisecondsPerSecond()
{
    return msPerSecond;
}

void setMillisecondsPerSecond(int ms)
{
    msPerSecond = ms;
}

} // namespace Backoff
