#!/bin/sh
# The 32-bit Wine loader under qemu-i386, for kernels that refuse 32-bit processes.
# tools/wine-common.sh sets up build/wine32-qemu/ with a copy of the loader
# (lib/wine/wine-elf) and this script as lib/wine/wine, and runs programs through it.
#
# Child processes: a Wine process starts a child by exec'ing "wine" in the folder
# of its own loader, and the kernel would refuse the 32-bit loader there. Run from
# lib/wine/wine-elf with argv[0] "wine", the loader's folder is lib/wine/ and its "wine" is
# this script again, so every child is started under qemu-i386 too, on any kernel.
# WINELOADERNOEXEC=1 (set by wine-common.sh) keeps the loader from re-exec'ing itself.
here=$(dirname "$0")
exec qemu-i386 -L / -0 "$here/wine" "$here/wine-elf" "$@"
