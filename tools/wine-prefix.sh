#!/usr/bin/env bash
# Creates (once) the Wine prefix given as $1 and configures it for the project:
# null graphics driver by default, font substitutes for the Japanese dialog fonts.
set -euo pipefail
prefix=$1
export WINEPREFIX=$prefix WINEDEBUG=-all LC_ALL=ja_JP.UTF-8
export WINEDLLOVERRIDES="mscoree=d;mshtml=d;winedbg.exe=d"
wine=/usr/lib/wine/wine64
if [ -f "$prefix/.velk-ready" ]; then exit 0; fi
mkdir -p "$prefix"
echo "setup: creating Wine prefix $prefix"
"$wine" wineboot -i >/dev/null 2>&1 || true
"$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
subst='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes'
for face in 'ＭＳ ゴシック' 'ＭＳ Ｐゴシック' 'MS Gothic' 'MS PGothic' 'MS UI Gothic'; do
  "$wine" reg add "$subst" /v "$face" /d 'IPAGothic' /f >/dev/null 2>&1
done
# Registry changes are saved by the server; a persistent server (-p) never exits,
# so do not wait for it here.
touch "$prefix/.velk-ready"
