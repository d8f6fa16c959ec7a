#!/usr/bin/env bash
# One-time machine set-up for building and running the project on Debian 12.
# Installs what is missing (cross compilers, Wine, GoogleTest sources, Xvfb and a
# Japanese font), generates the ja_JP.UTF-8 locale Wine needs for code page 932,
# and creates the Wine prefix inside the build tree. Safe to run again.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${VELK_BUILD_DIR:-$here/build}

packages=(cmake make g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64-i686
          binutils-mingw-w64-x86-64 wine64 googletest xvfb x11-apps imagemagick fonts-ipafont-gothic fonts-wine
          locales)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
fi

if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  echo "setup: generating ja_JP.UTF-8"
  sed -i 's/^# *ja_JP.UTF-8 UTF-8/ja_JP.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
fi

# The Wine prefix: created once, null graphics driver for tests, and the two
# Japanese dialog fonts mapped onto the installed IPA Gothic font.
"$here/tools/wine-prefix.sh" "$build/wineprefix"
