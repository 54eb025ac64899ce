#include <gtest/gtest.h>

#include <cstdio>

#include "test_exit.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    int rc = RUN_ALL_TESTS();
    fflush(stdout);
    fflush(stderr);
    EndTestProcess(rc);
}
