// Invariant checks of the fuzz targets: a broken invariant is a finding, so
// it stops the run with a message that names it.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_INVARIANT(condition)                                                                  \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition);      \
            abort();                                                                               \
        }                                                                                          \
    } while (0)
