#!/usr/bin/env bash
# One-time machine set-up for building and running the project on Debian 12.
# Installs what is missing (cross compilers, the 64-bit and 32-bit Wine, qemu-user
# where the kernel refuses 32-bit processes, GoogleTest sources, Xvfb and a Japanese
# font), generates the ja_JP.UTF-8 locale Wine needs for code page 932, and creates
# the two Wine prefixes inside the build tree. Safe to run again.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${VELK_BUILD_DIR:-$here/build}

packages=(cmake make g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64-i686
          binutils-mingw-w64-x86-64 wine64 wine32:i386 googletest xvfb
          fonts-ipafont-gothic fonts-wine locales zip unzip python3)
export DEBIAN_FRONTEND=noninteractive
# The 32-bit Wine is an i386 package.
added_i386=0
if ! dpkg --print-foreign-architectures | grep -x i386 >/dev/null; then
  echo "setup: adding the i386 architecture"
  dpkg --add-architecture i386
  added_i386=1
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep "install ok installed" >/dev/null || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ] || [ $added_i386 = 1 ]; then
  echo "setup: installing ${missing[*]}"
  apt-get update -qq
  [ ${#missing[@]} -eq 0 ] || apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
fi

# qemu-user from bookworm-backports (10.0): where the kernel refuses 32-bit processes
# the i686 build runs under qemu-i386, and bookworm's qemu 7.2 cannot run a Wine
# process with several threads (one GDT for all threads: the TLS segment Wine reloads
# on its signal paths points at another thread's data) and takes about 40 s of CPU to
# start one; 10.0 runs the i686 suites whole, a process start in about a second.
# Only where it is needed: VELK_WINE32=qemu asks for it, and by default the same probe
# as tools/wine-common.sh (the 32-bit loader's --version fails where the kernel refuses
# 32-bit processes).
need_qemu=0
case ${VELK_WINE32:-} in
  qemu) need_qemu=1 ;;
  native | wow64) ;;
  *) env -u WINEPREFIX -u WINEARCH /usr/lib/wine/wine --version >/dev/null 2>&1 || need_qemu=1 ;;
esac
qemu_version=$(dpkg-query -W -f='${Version}' qemu-user 2>/dev/null || true)
if [ $need_qemu = 1 ] && { [ -z "$qemu_version" ] || dpkg --compare-versions "$qemu_version" lt 1:10; }; then
  backports=/etc/apt/sources.list.d/velk-bookworm-backports.sources
  if [ ! -f "$backports" ]; then
    echo "setup: adding bookworm-backports (for qemu-user 10)"
    printf 'Types: deb\nURIs: http://deb.debian.org/debian\nSuites: bookworm-backports\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' >"$backports"
  fi
  echo "setup: installing qemu-user from bookworm-backports"
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends -t bookworm-backports qemu-user </dev/null
fi

if ! locale -a 2>/dev/null | grep -i '^ja_JP\.utf-\?8$' >/dev/null; then
  echo "setup: generating ja_JP.UTF-8"
  sed -i 's/^# *ja_JP.UTF-8 UTF-8/ja_JP.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
fi

# The Wine prefixes: created once, null graphics driver for tests, and the two
# Japanese dialog fonts mapped onto the installed IPA Gothic font. The 32-bit one
# runs the i686 build (under qemu-i386 where the kernel refuses 32-bit processes).
"$here/tools/wine-prefix.sh" "$build/wineprefix" x86_64
"$here/tools/wine-prefix.sh" "$build/wineprefix32" i686
