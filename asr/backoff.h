#pragma once

// The wait after the service answered "busy, ask again" (err_no 3304).
namespace Backoff {

// 1 to 10 seconds from the C library's generator, which is never seeded: the sequence of
// waits is the same in every run.
int drawSeconds();
// The wait for a value of the generator (0 to RAND_MAX): value mod 10, plus 1.
int secondsFor(int randomValue);

// The wait for a drawn number of seconds, in milliseconds: scale 1 is real seconds; a job's
// settings may shorten it (the button still shows the drawn number of seconds). Never below 1 ms.
int waitMilliseconds(int seconds, double scale);

} // namespace Backoff
