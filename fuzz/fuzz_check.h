#pragma once

#include <cstdio>
#include <cstdlib>

// A broken invariant aborts, so libFuzzer saves the input that broke it.
// Unlike assert() it stays on in optimised builds.
#define FUZZ_CHECK(condition)                                                  \
    do {                                                                       \
        if (!(condition)) {                                                    \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__,   \
                         __LINE__, #condition);                                \
            std::abort();                                                      \
        }                                                                      \
    } while (false)
