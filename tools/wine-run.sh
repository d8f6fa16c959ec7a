#!/usr/bin/env bash
# Runs a Windows program of the build under wine64 in the build tree's prefix.
# Used as CMAKE_CROSSCOMPILING_EMULATOR, so every test, benchmark and demo goes
# through here. VELK_GRAPHICS=x11 selects the normal driver (screenshots, with
# DISPLAY set); the default is the null driver, which needs no X server.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${VELK_BUILD_DIR:-$here/build}
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export LC_ALL=ja_JP.UTF-8
export WINEDLLOVERRIDES="mscoree=d;mshtml=d;winedbg.exe=d"
[ -f "$WINEPREFIX/.velk-ready" ] || "$here/tools/wine-prefix.sh" "$WINEPREFIX"
graphics=${VELK_GRAPHICS:-null}
current=$(grep -A3 '^\[Software\\\\Wine\\\\Drivers\]' "$WINEPREFIX/user.reg" 2>/dev/null | sed -n 's/^"Graphics"="\(.*\)"/\1/p' | head -1)
if [ "$current" != "$graphics" ]; then
  /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d "$graphics" /f >/dev/null 2>&1
fi
exec /usr/lib/wine/wine64 "$@"
