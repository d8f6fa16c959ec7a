#!/usr/bin/env bash
# Creates (once) the Wine prefix $1 for architecture $2 (x86_64, the default, or
# i686: a 32-bit prefix) and configures it for the project: the null graphics driver
# by default and the Japanese dialog fonts mapped onto IPA Gothic, and no menu builder
# or unused services at a session's start. Code page 932
# comes from LC_ALL=ja_JP.UTF-8, which every Wine tool of the project sets.
# Few process starts (they cost minutes each where the 32-bit Wine is emulated):
# wineboot, then one registry import.
set -euo pipefail
source "$(dirname "$0")/wine-common.sh"
prefix=$(realpath -m "$1")
arch=${2:-x86_64}
if [ -f "$prefix/.velk-ready" ]; then exit 0; fi
VELK_WINEPREFIX=$prefix velk_use_wine "$arch"
mkdir -p "$prefix"
how=""
[ "$arch" = i686 ] && how=", PE32 programs: $(velk_wine32_mode)"
echo "setup: creating Wine prefix $prefix ($arch$how)"
# One server for the whole creation; stopping it saves the registry (and a failed
# creation leaves no server behind).
own_server=0
if "$velk_wineserver" -p 2>/dev/null; then own_server=1; fi
trap 'if [ $own_server = 1 ]; then "$velk_wineserver" -k 2>/dev/null || true; fi' EXIT
"${velk_wine_cmd[@]}" wineboot -i </dev/null >/dev/null 2>&1 || true
{
  echo 'Windows Registry Editor Version 5.00'
  echo
  echo '[HKEY_CURRENT_USER\Software\Wine\Drivers]'
  echo '"Graphics"="null"'
  echo
  echo '[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes]'
  for face in 'ＭＳ ゴシック' 'ＭＳ Ｐゴシック' 'MS Gothic' 'MS PGothic' 'MS UI Gothic'; do
    echo "\"$face\"=\"IPAGothic\""
  done
  # Fewer processes at the start of each server session (each costs a minute or two
  # where the 32-bit Wine is emulated): no desktop menu entries, and the services
  # nothing here uses start on demand only.
  echo
  echo '[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\RunServices]'
  echo '"winemenubuilder"=-'
  for service in PlugPlay MountMgr Eventlog NDIS nsiproxy; do
    echo
    echo "[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\\$service]"
    echo '"Start"=dword:00000003'
  done
} | sed 's/$/\r/' | iconv -f UTF-8 -t UTF-16LE | { printf '\xff\xfe'; cat; } >"$prefix/velk-settings.reg"
"${velk_wine_cmd[@]}" reg import "Z:$prefix/velk-settings.reg" </dev/null >/dev/null 2>&1
touch "$prefix/.velk-ready"
