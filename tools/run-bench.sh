#!/usr/bin/env bash
# The benchmarks (not tests): builds the x86_64 target and runs, under wine64,
#   extension_bench  the simulated driver's own costs; the extension's processing
#                    routines through a stub driver and a bare host, beside a plain
#                    loop and memcpy of the same bytes; the stand-in's hand-over and
#                    rounds; the highest real-clock rates of whole runs;
#   worksheet_bench  reading time as a worksheet grows;
#   recording_bench  memory and speed of a long recorded run.
# Arguments go to extension_bench: rounds (31) and seconds of each real-clock run (3).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
tools/setup.sh >/dev/null
cmake --preset win64 >/dev/null
cmake --build --preset win64 --target extension_bench worksheet_bench recording_bench >/dev/null
export WINEPREFIX=$here/build/wineprefix
/usr/lib/wine/wineserver -p 2>/dev/null || true
cd build/win64/bin
echo "== extension_bench"
"$here/tools/wine-run.sh" ./extension_bench.exe "$@"
for bench in worksheet_bench recording_bench; do
  echo
  echo "== $bench"
  "$here/tools/wine-run.sh" ./$bench.exe
done
