#!/usr/bin/env bash
# How this kernel runs 32-bit programs, as kernel_probe.c sees it from inside ("x86_64 noreplace",
# "i686 no-noreplace", ...; "none" when it cannot run one at all). Builds the probe into DIR first
# when it is missing or older than its source; exits 1 only when it cannot be built.
#   tests/e2e/kernel_probe.sh DIR
set -uo pipefail
source=$(cd "$(dirname "$0")" && pwd)/kernel_probe.c
probe=${1:?usage: $0 DIR}/kernel_probe
if [ ! "$probe" -nt "$source" ]; then
    mkdir -p "${probe%/*}"
    gcc -m32 -static -nostdlib -ffreestanding -fno-pic -fno-stack-protector -O2 -o "$probe" \
        "$source" >"$probe.gcc.log" 2>&1 || exit 1
fi
"$probe" 2>/dev/null || echo none
