// A failed invariant in a fuzz target stops the run with a report.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(cond)                                                         \
    do {                                                                         \
        if (!(cond)) {                                                           \
            std::fprintf(stderr, "invariant failed: %s (%s:%d)\n", #cond, __FILE__, \
                         __LINE__);                                              \
            std::abort();                                                        \
        }                                                                        \
    } while (0)
