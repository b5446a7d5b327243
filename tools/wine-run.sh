#!/bin/sh
# Runs a Windows program of the x86_64 build under wine64 in the unit-test
# prefix (created on first use). Used as CMake's cross-compiling emulator.
here=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX="${CORVANE_UNIT_PREFIX:-$here/build/wineprefix-unit}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
fi
exec /usr/lib/wine/wine64 "$@"
