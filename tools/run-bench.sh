#!/usr/bin/env bash
# Builds the x86_64 target and runs the benchmarks under wine64: analog_bench (the
# analog processing routine's cost per sample), worksheet_bench (reading time as a
# worksheet grows) and recording_bench (memory and speed of a long recorded run).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
cmake --preset win64 >/dev/null
cmake --build --preset win64 --target analog_bench worksheet_bench recording_bench
cd build/win64/bin
for bench in analog_bench worksheet_bench recording_bench; do
  echo "== $bench"
  "$here/tools/wine-run.sh" ./$bench.exe
done
