#!/usr/bin/env bash
# Checks on the built Kelvane.exe itself: its size budget, and that its import
# table reaches no registry, network or file-writing function.
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
[ $failed -eq 0 ] && echo "exe checks: passed" || echo "exe checks: FAILED"
exit $failed
