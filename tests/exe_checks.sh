#!/usr/bin/env bash
# Checks on the built Kelvane.exe itself: its size budget, its PE hardening flags, that its
# import table reaches no registry, network or file-writing function, and that a second build
# from another folder is byte-identical.
#   tests/exe_checks.sh BUILD_DIR
set -euo pipefail
exe=${1:?usage: $0 BUILD_DIR}/Kelvane.exe
failed=0

# Debian's python3-pefile is there for the system interpreter only, not for a pyenv one on PATH.
/usr/bin/python3 "$(dirname "$0")/exe_checks.py" "$exe" || failed=1

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
        # cmp exits 1 on a difference and head cuts it short: neither may end the script here.
        cmp -l "$exe" "$copy/out/Kelvane.exe" | head -5 || true
        failed=1
    fi
else
    echo "FAIL: the second build did not build"
    failed=1
fi

[ $failed -eq 0 ] && echo "exe checks: passed" || echo "exe checks: FAILED"
exit $failed
