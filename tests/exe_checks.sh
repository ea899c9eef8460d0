#!/usr/bin/env bash
# Checks on the built Kelvane.exe itself: its size budget, its PE hardening flags, that its
# import table reaches no registry, network or file-writing function, and that a second build
# from another folder is byte-identical.
#   tests/exe_checks.sh BUILD_DIR
set -euo pipefail
exe=${1:?usage: $0 BUILD_DIR}/Kelvane.exe
budget=$((160 * 1024))
failed=0

size=$(stat -c %s "$exe")
sections=$(i686-w64-mingw32-size -A "$exe")
section() { awk -v s="$1" '$1 == s {print $2}' <<<"$sections"; }
resources=$(section .rsrc)
echo "size: $size bytes ($(( (size + 1023) / 1024 )) KiB; budget $budget): .rsrc $resources," \
     ".text $(section .text), .rdata $(section .rdata), .data $(section .data)"
if [ "$size" -gt "$budget" ]; then
    echo "FAIL: Kelvane.exe is over its size budget"
    failed=1
fi

# "DLL: Function" for every import.
imports=$(i686-w64-mingw32-objdump -p "$exe" | awk '
    /DLL Name:/ { dll = toupper($3); next }
    dll && /^\t[0-9a-f]+\t +[0-9]+ +[A-Za-z_]/ { print dll ": " $3 }')
# Every Windows program imports from KERNEL32: without it the table was not read, and the checks
# below would pass on nothing.
if ! grep -q '^KERNEL32.DLL: ' <<<"$imports"; then
    echo "FAIL: no import table read from $exe"
    failed=1
fi
dlls=$(cut -d: -f1 <<<"$imports" | sort -u | tr '\n' ' ')
echo "imports from: $dlls"
for dll in $dlls; do
    case $dll in
        KERNEL32.DLL | USER32.DLL | GDI32.DLL | MSVCRT.DLL) ;;
        *) echo "FAIL: imports $dll"; failed=1 ;;
    esac
done
forbidden='^(ADVAPI32|WS2_32|WSOCK32|WININET|WINHTTP|WINMM)|: (Reg[A-Z]|WSA|socket|connect|CreateFile|WriteFile|DeleteFile|MoveFile|CopyFile|CreateDirectory|RemoveDirectory|SetFile|_w?open|_w?creat|_w?unlink|_w?rename|_w?mkdir|_w?fopen|w?fopen)'
touched=$(grep -E "$forbidden" <<<"$imports" || true)
if [ -n "$touched" ]; then
    echo "FAIL: registry, network or file-writing imports:"
    echo "$touched"
    failed=1
fi
# The C runtime's start-up brings these along to report its own fatal errors on stderr.
echo "stream output (C runtime start-up only): $(grep -E ': (fprintf|vfprintf|fwrite)$' <<<"$imports" | cut -d' ' -f2 | tr '\n' ' ')"

# ASLR, DEP, no Terminal Server shims, and a subsystem version matching the manifest's Windows 7.
headers=$(i686-w64-mingw32-objdump -p "$exe")
header() { awk -v k="$1" '$1 == k {print $2}' <<<"$headers"; }
characteristics=$((0x$(header DllCharacteristics)))
subsystem="$(header MajorSubsystemVersion).$(header MinorSubsystemVersion)"
echo "PE: DllCharacteristics 0x$(printf %04x $characteristics), subsystem version $subsystem," \
     "time stamp $(sed -n "s/^Time\/Date\s*//p" <<<"$headers")"
for flag in DYNAMIC_BASE:0x40 NX_COMPAT:0x100 TERMINAL_SERVER_AWARE:0x8000; do
    if [ $((characteristics & ${flag#*:})) -eq 0 ]; then
        echo "FAIL: ${flag%%:*} is not set"
        failed=1
    fi
done
if [ "$subsystem" != 6.1 ]; then
    echo "FAIL: subsystem version $subsystem, want 6.1"
    failed=1
fi

# The same sources built again in other folders, source and build alike.
copy=$(mktemp -d)
trap 'rm -rf "$copy"' EXIT
src=$(cd "$(dirname "$0")/.." && pwd)
(cd "$src" && git ls-files -z --cached --others --exclude-standard | xargs -0 cp --parents -t "$copy")
if cmake --preset windows -S "$copy" -B "$copy/out" >/dev/null &&
    cmake --build "$copy/out" --target Kelvane >/dev/null; then
    ours=$(sha256sum <"$exe" | cut -d' ' -f1)
    theirs=$(sha256sum <"$copy/out/Kelvane.exe" | cut -d' ' -f1)
    echo "reproducible: SHA-256 $ours here, $theirs from $copy"
    if [ "$ours" != "$theirs" ]; then
        echo "FAIL: a second build from another folder differs"
        cmp -l "$exe" "$copy/out/Kelvane.exe" | head -5
        failed=1
    fi
else
    echo "FAIL: the second build did not build"
    failed=1
fi

[ $failed -eq 0 ] && echo "exe checks: passed" || echo "exe checks: FAILED"
exit $failed
