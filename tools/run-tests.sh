#!/usr/bin/env bash
# The test command: sets the machine up, builds both targets and runs every test on
# both (the i686 build's include dll_check, which reads the Velk_ux1.dll we ship as a
# PE file): the i686 build (with that DLL) under the 32-bit Wine, natively or under qemu-i386 where the kernel refuses
# 32-bit processes, and the x86_64 build under wine64, each in its own prefix with one
# wineserver for the run, two suites at a time (ctest -j2). Arguments go to both ctest
# runs (for example -R extension).
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
  exec "$here/tools/run-tests.sh" "$@"
fi
cmake --preset win32 >/dev/null
cmake --build --preset win32
cmake --preset win64 >/dev/null
cmake --build --preset win64

source tools/wine-common.sh
trap 'velk_stop_server x86_64; velk_stop_server i686' EXIT
mode=$(velk_wine32_mode)
echo "run-tests: i686 under the 32-bit Wine, $mode"
velk_start_server i686
velk_start_server x86_64
status=0
# Emulated, everything is several times slower: a suite gets up to 20 minutes and a
# single test 4 minutes (the test programs' watchdog reads VELK_TEST_TIME_SCALE).
limit=()
if [ "$mode" = qemu ]; then
  limit=(--timeout 1200)
  export VELK_TEST_TIME_SCALE=4
fi
ctest --preset win32 -j2 "${limit[@]}" "$@" || status=1
ctest --preset win64 -j2 "$@" || status=1
# The release archive from the i686 build just tested, and its check (files, checksums,
# the tested DLL, dll_check's checker, version resources): about a second.
{ tools/release.sh && tools/check-release.sh; } || status=1
[ $status = 0 ] && echo "run-tests: all tests passed on both targets" || echo "run-tests: FAILED" >&2
exit $status
