#!/usr/bin/env bash
# The main job: sets the machine up, builds the i686 target (the Velk_ux1.dll we
# ship, with the Velk stand-in and the simulated card driver built alike) and runs
# the demo worksheet (or the worksheet given as $1) on it under the 32-bit Wine.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
# Set-up, then the rest in a fresh shell (the same process, exec'd again; VELK_SET_UP
# holds its id, so any other script still does its own set-up). A process maps the
# machine's locale archive once, at its first locale (bash: at its start), and never
# reads it again: when setup.sh has just generated ja_JP.UTF-8, this shell would not
# find it, and wine-common.sh's LC_ALL=ja_JP.UTF-8 would print "setlocale: LC_ALL:
# cannot change locale" on a fresh machine.
if [ "${VELK_SET_UP:-}" != $$ ]; then
  tools/setup.sh
  export VELK_SET_UP=$$
  exec "$here/tools/run-main.sh" "$@"
fi
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
