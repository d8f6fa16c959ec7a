#!/usr/bin/env bash
# Runs a Windows program of the build under the Wine for its architecture, in the
# build tree's prefix for that architecture (see tools/wine-common.sh): PE32 under
# the 32-bit Wine (natively, or under qemu-i386 where the kernel refuses 32-bit
# processes), PE32+ under wine64. Used as CMAKE_CROSSCOMPILING_EMULATOR of both
# presets, so every test, benchmark and demo goes through here.
# VELK_GRAPHICS=x11 selects the normal driver (screenshots, with DISPLAY set); the
# default is the null driver, which needs no X server.
set -euo pipefail
source "$(dirname "$0")/wine-common.sh"
arch=${VELK_ARCH:-$(velk_pe_arch "${1:-}")}
velk_use_wine "${arch:-x86_64}"
[ -f "$WINEPREFIX/.velk-ready" ] || "$velk_root/tools/wine-prefix.sh" "$WINEPREFIX" "${arch:-x86_64}"
graphics=${VELK_GRAPHICS:-null}
current=$(grep -A3 '^\[Software\\\\Wine\\\\Drivers\]' "$WINEPREFIX/user.reg" 2>/dev/null | sed -n 's/^"Graphics"="\(.*\)"/\1/p' | head -1)
if [ "$current" != "$graphics" ]; then
  "${velk_wine_cmd[@]}" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d "$graphics" /f >/dev/null 2>&1
fi
exec "${velk_wine_cmd[@]}" "$@"
