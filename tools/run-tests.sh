#!/usr/bin/env bash
# The test command: sets the machine up, builds both targets, inspects the i686
# deliverable and runs every test under wine64 with one wineserver for the run.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
tools/setup.sh
cmake --preset win32 >/dev/null
cmake --build --preset win32
tools/check-i686.sh build/win32/bin/Velk_ux1.dll
cmake --preset win64 >/dev/null
cmake --build --preset win64
export WINEPREFIX=$here/build/wineprefix
/usr/lib/wine/wineserver -k 2>/dev/null || true
/usr/lib/wine/wineserver -p
# Start Wine's own background services now, detached from ctest's output pipes:
# started by the first test they would inherit them and ctest would wait for them.
tools/wine-run.sh cmd /c exit </dev/null >/dev/null 2>&1 || true
trap '/usr/lib/wine/wineserver -k 2>/dev/null || true' EXIT
ctest --preset win64 "$@"
