#!/bin/bash
# Checks the formatting, then builds the system four ways and runs the whole
# suite on each:
#   build/linux    native gcc build, warnings as errors
#   build/windows  Windows x64 build with mingw-w64, tests under Wine
#   build/asan     clang-14 with ASan+UBSan and the libFuzzer targets, which
#                  share one time budget (FUZZ_SECONDS) after the tests
#   build/tsan     clang-14 with TSan: the suites whose code runs on several
#                  threads (the session and the front end), against both servers
# Each configuration is built once. Its tests mostly wait on streams playing
# in real time, so they run in the background, several at a time, while the
# next configuration compiles; their output is printed when they end.
# Fails when any build, test or fuzz run fails.
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS=${JOBS:-$(nproc)}
TEST_JOBS=${TEST_JOBS:-3}
FUZZ_SECONDS=${FUZZ_SECONDS:-300}
FUZZ_RUNS=${FUZZ_RUNS:-20000}
LOGS=build/logs
START=$SECONDS

step() { printf '\n==== %s [%dm%02ds]\n' "$*" $(((SECONDS - START) / 60)) $(((SECONDS - START) % 60)); }

mkdir -p "$LOGS"
declare -A STAGE_PID
failed=""

# Runs a stage in the background with its output in build/logs/NAME.log.
background() {
    local name=$1
    shift
    step "$name (started in the background)"
    "$@" >"$LOGS/$name.log" 2>&1 &
    STAGE_PID[$name]=$!
}

# Waits for a background stage and prints its output.
finish() {
    local name=$1 status=0
    wait "${STAGE_PID[$name]}" || status=$?
    step "$name (exit $status)"
    cat "$LOGS/$name.log"
    if [ "$status" -ne 0 ]; then
        failed="$failed $name"
    fi
}

ccache_launcher=()
if command -v ccache >/dev/null 2>&1; then
    ccache_launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
configure() { cmake "${ccache_launcher[@]}" "$@" >/dev/null; }
# The native and Windows builds test the code as it ships (optimized, without
# debug information, which costs a third of their build time); the sanitizer
# builds keep it for their reports.
release=(-DCMAKE_BUILD_TYPE=Release)

native_tests() {
    ctest --test-dir build/linux --output-on-failure -j"$TEST_JOBS"
}

windows_tests() {
    WINEDEBUG=-all DISPLAY= /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || true
    ctest --test-dir build/windows --output-on-failure -j"$TEST_JOBS"
    /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
}

# Every target gets an equal share of the budget, and at most FUZZ_RUNS
# inputs; the seed corpus is replayed first.
fuzz_targets() {
    local fuzzers=(build/asan/fuzz/*_fuzzer)
    local share=$((FUZZ_SECONDS / ${#fuzzers[@]}))
    [ "$share" -ge 5 ] || share=5
    for fuzzer in "${fuzzers[@]}"; do
        local name scratch corpora
        name=$(basename "$fuzzer")
        scratch=$(mktemp -d)
        corpora=("$scratch")
        [ -d "fuzz/corpus/$name" ] && corpora+=("fuzz/corpus/$name")
        echo "-- $name: up to $FUZZ_RUNS runs or $share s"
        "$fuzzer" -runs="$FUZZ_RUNS" -max_total_time="$share" "${corpora[@]}" 2>&1 | tail -n 1
        rm -rf "$scratch"
    done
}

asan_tests() {
    ctest --test-dir build/asan --output-on-failure -j"$TEST_JOBS"
    fuzz_targets
}

tsan_tests() {
    local status=0
    for suite in session mfsource; do
        tests/with_rtsp_server.sh "build/tsan/tests/${suite}_tests" --gtest_color=no || status=1
    done
    return $status
}

step "formatting (.clang-format)"
git ls-files '*.cpp' '*.h' | xargs clang-format-14 --dry-run -Werror

step "native build"
configure -S . -B build/linux -DZR_WERROR=ON "${release[@]}"
cmake --build build/linux -j"$JOBS"
background native-tests native_tests

step "Windows build (tests under Wine)"
configure -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake -DZR_WERROR=ON \
    "${release[@]}"
cmake --build build/windows -j"$JOBS"
file build/windows/tests/common_tests.exe | grep -q 'PE32+ executable.*x86-64'
finish native-tests
export WINEPREFIX="$PWD/build/windows/wineprefix"
trap '/usr/lib/wine/wineserver -k >/dev/null 2>&1 || true' EXIT
background windows-tests windows_tests
unset WINEPREFIX

step "sanitizer build (ASan+UBSan) and fuzz targets"
CC=clang-14 CXX=clang++-14 configure -S . -B build/asan -DZR_SANITIZE=address -DZR_FUZZ=ON
cmake --build build/asan -j"$JOBS"
finish windows-tests
background asan-tests asan_tests

step "thread sanitizer build: the session and the front end"
CC=clang-14 CXX=clang++-14 configure -S . -B build/tsan -DZR_SANITIZE=thread
cmake --build build/tsan -j"$JOBS" --target session_tests mfsource_tests
background tsan-tests tsan_tests
finish asan-tests
finish tsan-tests

if [ -n "$failed" ]; then
    step "FAILED:$failed"
    exit 1
fi
step "all builds passed"
