# Sourced by the Wine tools: which Wine runs a program, in which prefix, and how.
#
# PE32+ programs (the x86_64 build) run under /usr/lib/wine/wine64 in build/wineprefix.
# PE32 programs (the i686 build) run under the 32-bit Wine /usr/lib/wine/wine in the
# 32-bit prefix build/wineprefix32, natively where the kernel runs 32-bit processes
# and under qemu-i386 where it refuses them (ENOEXEC, IA-32 emulation off); see
# velk_wine32_mode.
#
# Environment:
#   VELK_WINE32=native|qemu|wow64  how PE32 programs run (default: probe the kernel)
#   VELK_ARCH=i686|x86_64          architecture of a program that is not a file (cmd, reg)
#   VELK_WINEPREFIX=DIR            another prefix (the screenshots use one of their own)
#   VELK_BUILD_DIR=DIR             the build tree holding the prefixes (default: build)

velk_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
velk_build=${VELK_BUILD_DIR:-$velk_root/build}
velk_wine32=/usr/lib/wine/wine
velk_wine64=/usr/lib/wine/wine64
# The 64-bit server serves 32-bit and 64-bit clients alike, and runs on any kernel.
velk_wineserver=/usr/lib/wine/wineserver64

export WINEDEBUG=${WINEDEBUG:--all}
export LC_ALL=ja_JP.UTF-8
export WINEDLLOVERRIDES="mscoree=d;mshtml=d;winedbg.exe=d"

# Architecture of a Windows program from its PE header: i686 (PE32), x86_64 (PE32+),
# nothing when the file is not a PE image.
velk_pe_arch() {
    local file=$1 offset magic
    [ -f "$file" ] || { [ -f "$file.exe" ] && file=$file.exe; } || return 0
    [ -f "$file" ] || return 0
    [ "$(head -c 2 "$file" 2>/dev/null)" = "MZ" ] || return 0
    offset=$(od -An -tu4 -j60 -N4 "$file" | tr -d ' ')
    [ "$(od -An -c -j"$offset" -N4 "$file" | tr -d ' ')" = 'PE\0\0' ] || return 0
    magic=$(od -An -tx2 -j$((offset + 24)) -N2 "$file" | tr -d ' ')
    case $magic in
        010b) echo i686 ;;
        020b) echo x86_64 ;;
    esac
}

# How PE32 programs run here (VELK_WINE32 chooses; by default the probe below does):
#   native  the 32-bit Wine /usr/lib/wine/wine, where the kernel runs 32-bit processes.
#   qemu    the 32-bit Wine under qemu-i386 (user-mode emulation), where the kernel
#           refuses them. tools/setup.sh installs qemu-user 10 from bookworm-backports:
#           with bookworm's qemu 7.2 a Wine process crashes once two of its threads run
#           at once (one GDT for all threads, so the TLS segment Wine reloads on its
#           signal paths points at another thread's data) and each start takes about
#           40 s of CPU; under 10.0 the suites run whole, about twice as slow as native.
#   wow64   Wine's WoW64 mode: the 64-bit Wine runs the 32-bit code in a 64-bit process,
#           with the i386 builtin DLLs of the 32-bit Wine package, at native speed and
#           with threads; but Wine 8.0's WoW64 mode is experimental and its windows,
#           dialogs and GDI drawing fail. Only an explicit choice.
# The probe: the 32-bit loader itself, which needs no prefix for --version.
velk_wine32_mode() {
    case ${VELK_WINE32:-} in
        native | qemu | wow64) echo "$VELK_WINE32"; return ;;
        "") ;;
        *) echo "VELK_WINE32 must be native, qemu or wow64 (got '$VELK_WINE32')" >&2; exit 2 ;;
    esac
    if env -u WINEPREFIX -u WINEARCH "$velk_wine32" --version >/dev/null 2>&1; then echo native; else echo qemu; fi
}

velk_prefix_for() {
    if [ -n "${VELK_WINEPREFIX:-}" ]; then echo "$VELK_WINEPREFIX"; return; fi
    case $1:$(velk_wine32_mode) in
        i686:wow64) echo "$velk_build/wineprefix-wow64" ;;
        i686:*) echo "$velk_build/wineprefix32" ;;
        *) echo "$velk_build/wineprefix" ;;
    esac
}

# Sets velk_wine_cmd (the command line that runs a program under Wine) and exports
# WINEPREFIX and what the chosen Wine needs, for architecture $1.
velk_use_wine() {
    local arch=$1 mode
    WINEPREFIX=$(velk_prefix_for "$arch")
    export WINEPREFIX
    if [ "$arch" != i686 ]; then
        export WINEARCH=win64
        velk_wine_cmd=("$velk_wine64")
        return
    fi
    mode=$(velk_wine32_mode)
    case $mode in
        native)
            export WINEARCH=win32
            velk_wine_cmd=("$velk_wine32")
            ;;
        wow64)
            export WINEARCH=win64
            velk_loader_dir wine-wow64 x86_64
            # The i386 builtin DLLs (ntdll, kernel32, user32, ...) of the 32-bit package.
            export WINEDLLPATH=/usr/lib/i386-linux-gnu/wine
            velk_wine_cmd=("$velk_build/wine-wow64/lib/wine/wine64")
            ;;
        qemu)
            export WINEARCH=win32
            command -v qemu-i386 >/dev/null || { echo "wine: VELK_WINE32=qemu needs qemu-i386 (package qemu-user)" >&2; exit 2; }
            velk_loader_dir wine32-qemu i386
            # The loader must not re-exec itself (the kernel would refuse it).
            export WINELOADERNOEXEC=1
            velk_wine_cmd=("$velk_build/wine32-qemu/lib/wine/wine")
            ;;
    esac
}

# build/$1/: a Wine loader in a folder of its own, in a copy of /usr's layout (the
# loader finds ntdll.so through ../<arch>-linux-gnu and Wine's data through ../../share).
# A Wine process starts a child by exec'ing "wine" (32-bit child) or "wine64" in the
# folder of its own loader, so this folder decides how children run as well:
#   wine-wow64: only lib/wine/wine64, a copy of the 64-bit loader. There is no
#     32-bit loader beside it, so Wine runs every PE32 program in WoW64 mode.
#   wine32-qemu: lib/wine/wine-elf, a copy of the 32-bit loader, and lib/wine/wine,
#     tools/wine32-qemu.sh, which runs it under qemu-i386 (children too).
velk_loader_dir() {
    local dir=$velk_build/$1 arch=$2
    mkdir -p "$dir/lib/wine"
    ln -sfn "/usr/lib/$arch-linux-gnu" "$dir/lib/$arch-linux-gnu"
    ln -sfn /usr/share "$dir/share"
    ln -sfn /usr/lib/wine/wineserver "$dir/lib/wine/wineserver"
    if [ "$arch" = x86_64 ]; then
        cmp -s "$velk_wine64" "$dir/lib/wine/wine64" || cp "$velk_wine64" "$dir/lib/wine/wine64"
    else
        cmp -s "$velk_wine32" "$dir/lib/wine/wine-elf" || cp "$velk_wine32" "$dir/lib/wine/wine-elf"
        ln -sfn "$velk_root/tools/wine32-qemu.sh" "$dir/lib/wine/wine"
    fi
}

# One persistent server for the prefix of architecture $1 for a whole run (each
# process then starts without starting a server), and Wine's background services
# started now, detached from the output pipes of whatever runs next: started by the
# first test they would inherit ctest's pipes, and ctest would wait for them.
#
# Several runs may share a prefix (the tests and the main job at once, or two test
# commands): each run registers itself in the prefix's .velk-runs folder, a run joins
# a server that is already running instead of restarting it, and only the last run
# to leave stops the server, so no run kills the processes of another.
velk_start_server() (
    velk_use_wine "$1"
    mkdir -p "$WINEPREFIX/.velk-runs"
    velk_prune_runs "$WINEPREFIX/.velk-runs"
    if [ -z "$(ls -A "$WINEPREFIX/.velk-runs")" ]; then
        # No other run: a server left by a run that was killed is stopped first.
        "$velk_wineserver" -k 2>/dev/null || true
        "$velk_wineserver" -w 2>/dev/null || true
    fi
    touch "$WINEPREFIX/.velk-runs/$$-$1"
    "$velk_wineserver" -p 2>/dev/null || true  # says so and leaves when one runs already
    VELK_ARCH=$1 "$velk_root/tools/wine-run.sh" cmd /c exit </dev/null >/dev/null 2>&1 || true
)

velk_stop_server() (
    velk_use_wine "$1"
    rm -f "$WINEPREFIX/.velk-runs/$$-$1"
    velk_prune_runs "$WINEPREFIX/.velk-runs"
    if [ -z "$(ls -A "$WINEPREFIX/.velk-runs" 2>/dev/null)" ]; then
        "$velk_wineserver" -k 2>/dev/null || true
    fi
)

# Removes the registrations of runs whose shell has ended.
velk_prune_runs() {
    local entry pid
    for entry in "$1"/*; do
        [ -e "$entry" ] || continue
        pid=${entry##*/}
        pid=${pid%%-*}
        kill -0 "$pid" 2>/dev/null || rm -f "$entry"
    done
}
