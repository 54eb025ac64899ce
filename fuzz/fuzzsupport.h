// What the fuzz targets share: invariant checks (a broken invariant is a
// finding, so it stops the run with a message that names it) and copies of
// the input of exactly its size, so that any read past its end is caught.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#define FUZZ_INVARIANT(condition)                                                                  \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition);      \
            abort();                                                                               \
        }                                                                                          \
    } while (0)

// The bytes in a buffer of their size; an empty input still gets a buffer,
// so that the parsers never see a null pointer.
template <class T>
std::unique_ptr<T[]> ExactCopy(const uint8_t* pData, size_t cbData) {
    std::unique_ptr<T[]> copy(new T[cbData ? cbData : 1]);
    if (cbData) {
        memcpy(copy.get(), pData, cbData);
    }
    return copy;
}
