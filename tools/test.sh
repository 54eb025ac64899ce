#!/bin/bash
# Checks the formatting, then builds the system three ways and runs the whole
# suite on each:
#   build/linux    native gcc build, warnings as errors
#   build/windows  Windows x64 build with mingw-w64, tests under Wine
#   build/asan     clang-14 with ASan+UBSan and the libFuzzer targets; each
#                  fuzz target also runs for a bounded number of inputs
#   build/tsan     clang-14 with TSan: the suites whose code runs on several
#                  threads (the session and the front end), against both servers
# Fails when any build, test or fuzz run fails.
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS=${JOBS:-$(nproc)}
FUZZ_RUNS=${FUZZ_RUNS:-20000}

step() { printf '\n==== %s\n' "$*"; }

step "formatting (.clang-format)"
git ls-files '*.cpp' '*.h' | xargs clang-format-14 --dry-run -Werror

step "native build"
cmake -S . -B build/linux -DZR_WERROR=ON
cmake --build build/linux -j"$JOBS"
ctest --test-dir build/linux --output-on-failure

step "Windows build (tests under Wine)"
cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake -DZR_WERROR=ON
cmake --build build/windows -j"$JOBS"
file build/windows/tests/common_tests.exe | grep -q 'PE32+ executable.*x86-64'
export WINEPREFIX="$PWD/build/windows/wineprefix"
WINEDEBUG=-all DISPLAY= /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || true
trap '/usr/lib/wine/wineserver -k >/dev/null 2>&1 || true' EXIT
ctest --test-dir build/windows --output-on-failure
unset WINEPREFIX

step "sanitizer build (ASan+UBSan) and fuzz targets"
CC=clang-14 CXX=clang++-14 cmake -S . -B build/asan -DZR_SANITIZE=address -DZR_FUZZ=ON
cmake --build build/asan -j"$JOBS"
ctest --test-dir build/asan --output-on-failure
for fuzzer in build/asan/fuzz/*_fuzzer; do
    name=$(basename "$fuzzer")
    scratch=$(mktemp -d)
    corpora=("$scratch")
    [ -d "fuzz/corpus/$name" ] && corpora+=("fuzz/corpus/$name")
    echo "-- $name: $FUZZ_RUNS runs"
    "$fuzzer" -runs="$FUZZ_RUNS" -max_total_time=120 "${corpora[@]}" 2>&1 | tail -n 1
    rm -rf "$scratch"
done

step "thread sanitizer build: the session and the front end"
CC=clang-14 CXX=clang++-14 cmake -S . -B build/tsan -DZR_SANITIZE=thread
cmake --build build/tsan -j"$JOBS" --target session_tests mfsource_tests
for suite in session mfsource; do
    tests/with_rtsp_server.sh "build/tsan/tests/${suite}_tests" --gtest_color=no
done

step "all builds passed"
