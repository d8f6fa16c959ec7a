#!/usr/bin/env bash
# Inspects the i686 deliverable: the three exports are undecorated, it imports
# only system DLLs, and every resource is present. The record layouts are
# pinned by static_asserts that the i686 compile has already checked.
set -euo pipefail
# binutils print in the locale's language (a Japanese locale gives ファイル形式 for
# "file format"); the texts read here are the C locale's.
export LC_ALL=C
dll=${1:-build/win32/bin/Velk_ux1.dll}
fail=0
check() { if ! eval "$2"; then echo "check-i686: FAIL: $1"; fail=1; else echo "check-i686: ok: $1"; fi; }

format=$(i686-w64-mingw32-objdump -f "$dll" 2>/dev/null || true)
grep -q 'file format pei-i386' <<<"$format" || { echo "check-i686: $dll is not an i686 PE"; exit 1; }
exports=$(i686-w64-mingw32-objdump -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^\s*\[ *[0-9]*\] //p' | sort | tr '\n' ' ')
check "exports are exactly FinishVelkDLL SetupVelkDLL WEP (got: $exports)" '[ "$exports" = "FinishVelkDLL SetupVelkDLL WEP " ]'
imports=$(i686-w64-mingw32-objdump -p "$dll" | sed -n 's/^\s*DLL Name: //p' | tr 'a-z' 'A-Z' | sort | tr '\n' ' ')
check "imports only system DLLs (got: $imports)" '[ "$imports" = "GDI32.DLL KERNEL32.DLL MSVCRT.DLL USER32.DLL " ]'

rc=$(i686-w64-mingw32-windres -i "$dll" -O rc 2>/dev/null)
for name in TK17_DEVSEL TK17_ABOUT TK17_IN TK17_DI TK17_DO UX1_MENU BMP_TK17 BMP_TK17DI BMP_TK17DO ICO_TK17AD ICO_TK17DI ICO_TK17DO; do
  check "resource $name" 'grep -q "\"$name\"" <<<"$rc"'
done
check "string table (language 1041 = 17, 1)" 'grep -q "VYT-TK17 Module Version 2.10" <<<"$rc" && grep -q "LANGUAGE 17, 1" <<<"$rc"'
check "bitmap sizes 26x24 and 64x46, 16 colours" '
  grep -A2 "\"ICO_TK17AD\" 2" <<<"$rc" | grep "0x28L      , 0x1aL      , 0x18L      , 0x40001L" >/dev/null &&
  grep -A2 "\"BMP_TK17DO\" 2" <<<"$rc" | grep "0x28L      , 0x40L      , 0x2eL      , 0x40001L" >/dev/null'
exit $fail
