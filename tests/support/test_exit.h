// Ends a test program after its output has been flushed.
#pragma once

[[noreturn]] void EndTestProcess(int nExitCode);
