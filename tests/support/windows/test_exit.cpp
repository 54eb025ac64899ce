#include "test_exit.h"

#include <windows.h>

// Under Wine a process that ends through ExitProcess occasionally exits with
// 137 after complete output; terminating it does not.
void EndTestProcess(int nExitCode) {
    TerminateProcess(GetCurrentProcess(), (UINT)nExitCode);
    for (;;) {
    }
}
