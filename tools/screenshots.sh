#!/usr/bin/env bash
# Takes the screenshots in docs/screenshots (the five dialogs, and the live view of
# a windowed run of the demo worksheet): starts a private X server, runs velk_screenshots with Wine's x11
# graphics driver in a prefix of its own (build/wineprefix-x11, so the test prefix
# stays on the null driver), and stops the server again.
#   tools/screenshots.sh            (after building the velk_screenshots target)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bin=${VELK_BIN_DIR:-$here/build/win64/bin}
out=$here/docs/screenshots
export WINEPREFIX=${SCREENSHOT_PREFIX:-$here/build/wineprefix-x11}
export VELK_WINEPREFIX=$WINEPREFIX  # wine-run.sh runs the program in this prefix
[ -x "$bin/velk_screenshots.exe" ] || { echo "build velk_screenshots first" >&2; exit 1; }
mkdir -p "$out"

display=93
while [ -e "/tmp/.X$display-lock" ] || [ -e "/tmp/.X11-unix/X$display" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
cleanup() {
  # Back to the null driver, and this prefix's server and the X server stopped.
  /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1 || true
  /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  kill "$xvfb" 2>/dev/null || true
  wait "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done

# The proportional dialog font (and the system's proportional UI font) on IPA's
# proportional Gothic here, closer to the real faces than the test prefix's mapping.
"$here/tools/wine-prefix.sh" "$WINEPREFIX" x86_64
subst='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes'
for face in 'ＭＳ Ｐゴシック' 'MS PGothic' 'MS UI Gothic'; do
  LC_ALL=ja_JP.UTF-8 WINEDEBUG=-all /usr/lib/wine/wine64 reg add "$subst" /v "$face" /d 'IPAPGothic' /f >/dev/null 2>&1
done
# Marlett draws the caption buttons; Wine does not pick it up from its data folder here.
fonts=$WINEPREFIX/drive_c/windows/Fonts
[ -f /usr/share/wine/fonts/marlett.ttf ] && mkdir -p "$fonts" && cp -n /usr/share/wine/fonts/marlett.ttf "$fonts/"
# Let this prefix's server save the registry before wine-run.sh reads it.
/usr/lib/wine/wineserver -w

cd "$bin"
DISPLAY=":$display" VELK_GRAPHICS=x11 "$here/tools/wine-run.sh" ./velk_screenshots.exe "Z:$out" "Z:$here/worksheets/demo.vws"
