#!/usr/bin/env bash
# Makes the release archive dist/Velk_ux1-<version>-win32.zip from the i686 build
# as it stands (build it and run its tests first: tools/run-tests.sh does both, then
# this and tools/check-release.sh). Nothing is rebuilt here: the archive's
# Velk_ux1.dll is the very file build/win32/bin/Velk_ux1.dll that the tests loaded.
#
#   Velk_ux1-2.10-win32/
#     Velk_ux1.dll                 the extension
#     guide/ja.html, guide/en.html the user's guide (Japanese, English)
#     screenshots/*.png            the guide's pictures
#     simulator/vyttk17.dll        the simulated card driver (i686)
#     simulator/vyttk17.ini        a commented example configuration
#     simulator/simulator.ja.html, simulator/simulator.en.html  the simulator's guide
#     LICENSE.txt, VERSION.txt     licence, version and build commit
#     SHA256SUMS                   checksums of every other file
#
# and dist/Velk_ux1-<version>-conformance-kit.zip: the i686 suites that need no Linux
# side (extension_units, extension_tests, simcard_test) with what they load, laid out
# as in build/win32/bin, and run-kit.cmd, which runs them on a Windows PC and writes
# GoogleTest XML into one folder "results" to send back (tools/kit/).
#
# A script rather than CMake install() rules and CPack: the archive must hold the
# tested DLL itself (CPack stages a fresh install, and the install rules would sit
# in every folder's CMakeLists), and making it takes a second, no configure step.
set -euo pipefail
source "$(dirname "$0")/release-common.sh"
out=dist/$name.zip

dll=$build/bin/Velk_ux1.dll
driver=$build/bin/driver/vyttk17.dll
for f in "$dll" "$driver" "$build/generated/velk_build_id.h"; do
  [ -f "$f" ] || { echo "release: $f is missing: build the win32 preset first" >&2; exit 1; }
done
i686-w64-mingw32-objdump -f "$dll" | grep 'file format pei-i386' >/dev/null ||
  { echo "release: $dll is not an i686 DLL" >&2; exit 1; }
build_id=$(sed -n 's/^#define VELK_BUILD_ID "\(.*\)"$/\1/p' "$build/generated/velk_build_id.h")

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
root=$stage/$name
mkdir -p "$root/guide" "$root/screenshots" "$root/simulator"
cp "$dll" "$root/Velk_ux1.dll"
cp "$driver" "$root/simulator/vyttk17.dll"
cp docs/guide/vyttk17.ini "$root/simulator/vyttk17.ini"
cp docs/guide/ja.html docs/guide/en.html docs/guide/guide.css "$root/guide/"
cp docs/guide/simulator.ja.html docs/guide/simulator.en.html "$root/simulator/"
cp docs/guide/guide.css "$root/simulator/"
cp docs/screenshots/devsel.png docs/screenshots/analog_setup.png docs/screenshots/digital_in_setup.png \
   docs/screenshots/digital_out_setup.png docs/screenshots/about.png "$root/screenshots/"
cp docs/guide/LICENSE.txt "$root/LICENSE.txt"
{
  printf 'Velk_ux1 %s (win32, i686)\r\n' "$version"
  printf 'VYT-TK17 extension for Velk\r\n'
  printf 'build commit: %s\r\n' "$build_id"
  printf '\r\n'
  printf 'Guide / 取扱説明書: guide\\ja.html (日本語), guide\\en.html (English)\r\n'
} >"$root/VERSION.txt"
# Windows' own tools open the text files: CRLF line ends, as the guide's files have.
sed -i 's/\r*$/\r/' "$root/simulator/vyttk17.ini" "$root/LICENSE.txt"
(cd "$root" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort | xargs sha256sum >SHA256SUMS)

# The same bytes for the same inputs: every entry dated by the build's commit.
stamp=$(git log -1 --format=%ct 2>/dev/null || true)
[ -n "$stamp" ] && [ "$stamp" -ge 315532800 ] || stamp=315532800  # zip dates start in 1980
find "$stage" -exec touch -h -d "@$stamp" {} +
mkdir -p dist
rm -f "$out"
(cd "$stage" && find "$name" | LC_ALL=C sort | TZ=UTC zip -X -q -D "$here/$out" -@)
echo "release: $out ($(stat -c %s "$out") bytes, build $build_id)"

# The conformance kit.
kit_out=dist/$kit_name.zip
suites=(extension_units extension_tests simcard_test)
for s in "${suites[@]}"; do
  [ -f "$build/bin/$s.exe" ] || { echo "release: $build/bin/$s.exe is missing: build the win32 preset first" >&2; exit 1; }
done
kit=$stage/$kit_name
mkdir -p "$kit/driver" "$kit/example"
cp "$dll" "$kit/Velk_ux1.dll"
cp "$driver" "$kit/driver/vyttk17.dll"
# The drivers that each lack one of the twelve operations (driver-noversion, ...).
for op in "${incomplete_drivers[@]}"; do
  [ -f "$build/bin/driver-no$op/vyttk17.dll" ] || { echo "release: $build/bin/driver-no$op/vyttk17.dll is missing" >&2; exit 1; }
  mkdir -p "$kit/driver-no$op"
  cp "$build/bin/driver-no$op/vyttk17.dll" "$kit/driver-no$op/vyttk17.dll"
done
cp "$build/bin/example/vyttk17.ini" "$kit/example/vyttk17.ini"
for s in "${suites[@]}"; do cp "$build/bin/$s.exe" "$kit/"; done
cp tools/kit/run-kit.cmd tools/kit/README.txt "$kit/"
sed -i 's/\r*$/\r/' "$kit/run-kit.cmd" "$kit/README.txt"
printf 'Velk_ux1 %s conformance kit (i686)\r\nbuild commit: %s\r\n' "$version" "$build_id" >"$kit/VERSION.txt"
(cd "$kit" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort | xargs sha256sum >SHA256SUMS)
find "$kit" -exec touch -h -d "@$stamp" {} +
rm -f "$kit_out"
(cd "$stage" && find "$kit_name" | LC_ALL=C sort | TZ=UTC zip -X -q -D "$here/$kit_out" -@)
echo "release: $kit_out ($(stat -c %s "$kit_out") bytes)"
