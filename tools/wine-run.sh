#!/bin/sh
# Runs a Windows test program under Wine, headless, with a private prefix in
# the build tree (the directory above the program unless WINEPREFIX is set).
set -e
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
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
exec /usr/lib/wine/wine64 "$prog" "$@"
