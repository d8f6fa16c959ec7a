#!/usr/bin/env bash
# The main job: sets the machine up, builds the i686 target (the Velk_ux1.dll we
# ship, with the Velk stand-in and the simulated card driver built alike) and runs
# the demo worksheet (or the worksheet given as $1) on it under the 32-bit Wine.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
tools/setup.sh
cmake --preset win32 >/dev/null
cmake --build --preset win32 --target velk velk_ux1 vyttk17
source tools/wine-common.sh
worksheet=${1:-worksheets/demo.vws}
echo "run-main: the i686 Velk_ux1.dll under the 32-bit Wine, $(velk_wine32_mode)"
# A persistent server for this run, and Wine's services started before the demo.
velk_start_server i686
trap 'velk_stop_server i686' EXIT
cd build/win32/bin
"$here/tools/wine-run.sh" ./velk.exe run "Z:$here/$worksheet"
