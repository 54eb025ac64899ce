#include "test_exit.h"

#include <cstdlib>

// A normal exit, so that the leak checker of sanitizer builds runs.
void EndTestProcess(int nExitCode) {
    exit(nExitCode);
}
