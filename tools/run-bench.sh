#!/usr/bin/env bash
# Builds the x86_64 target and runs the benchmarks (analog_bench) under wine64.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
cmake --preset win64 >/dev/null
cmake --build --preset win64 --target analog_bench
cd build/win64/bin
exec "$here/tools/wine-run.sh" ./analog_bench.exe
