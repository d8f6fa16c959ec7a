#!/usr/bin/env bash
# The main job: sets the machine up, builds the x86_64 target and runs the demo
# worksheet on the simulated card (or the worksheet given as $1).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
tools/setup.sh
cmake --preset win64 >/dev/null
cmake --build --preset win64
export WINEPREFIX=$here/build/wineprefix
# A persistent server for fast starts; one may be running already (then this fails).
/usr/lib/wine/wineserver -p 2>/dev/null || true
tools/wine-run.sh cmd /c exit </dev/null >/dev/null 2>&1 || true
worksheet=${1:-worksheets/demo.vws}
cd build/win64/bin
exec "$here/tools/wine-run.sh" ./velk.exe run "Z:$here/$worksheet"
