#!/bin/sh
# Runs a Windows test program under Wine, headless, with a private prefix in
# the build tree that holds the program (unless WINEPREFIX is set).
#   wine-run.sh PROGRAM [ARGUMENTS...]
#   wine-run.sh --print-prefix PROGRAM   prints the prefix PROGRAM runs in
set -e
print_only=""
if [ "$1" = "--print-prefix" ]; then
    print_only=1
    shift
fi
prog="$1"
shift
if [ -z "$WINEPREFIX" ]; then
    WINEPREFIX="$(cd "$(dirname "$prog")" && pwd)"
    while [ ! -f "$WINEPREFIX/CMakeCache.txt" ] && [ "$WINEPREFIX" != "/" ]; do
        WINEPREFIX="$(dirname "$WINEPREFIX")"
    done
    WINEPREFIX="$WINEPREFIX/wineprefix"
fi
export WINEPREFIX
if [ -n "$print_only" ]; then
    echo "$WINEPREFIX"
    exit 0
fi
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
exec /usr/lib/wine/wine64 "$prog" "$@"
