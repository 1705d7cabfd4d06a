#pragma once

#include <cstdio>
#include <cstdlib>

// What must hold of every input beyond not crashing: a broken rule ends the run as a finding,
// with the rule named, in optimised builds too.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: rule broken: %s\n", __FILE__, __LINE__, #condition);      \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)
