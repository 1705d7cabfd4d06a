#include "asr/backoff.h"

#include <cmath>
#include <cstdlib>

namespace Backoff {

int drawSeconds()
{
    return secondsFor(std::rand());
}

int secondsFor(int randomValue)
{
    return randomValue % 10 + 1;
}

int waitMilliseconds(int seconds, double scale)
{
    const long ms = std::lround(seconds * 1000.0 * (scale > 0 ? scale : 1.0));
    return ms < 1 ? 1 : int(ms);
}

} // namespace Backoff
