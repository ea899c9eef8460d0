#!/usr/bin/env bash
# Start-up time against bare Win32 windows (the last, same_ui_window, is the goal's yardstick: the
# same manifest, a themed push button and the window icons), and the latency of the test command,
# both under Wine. Figures, not pass/fail: the README quotes them.
#   tests/bench/run.sh BUILD_DIR [STARTUP_RUNS] [LATENCY_PRESSES]
set -euo pipefail
. "$(dirname "$0")/../e2e/wine_env.sh" "${1:-}"
driver=$build/tests/e2e/kelvane_e2e.exe
kelvane=$(winpath "$build/Kelvane.exe")
for bare in bare_window bare_window_manifest same_ui_window; do
    echo "against $bare.exe:"
    wine "$driver" --bench-startup "${2:-11}" "$(winpath "$build/tests/bench/$bare.exe")" "$kelvane"
done
wine "$driver" --bench-latency "${3:-20}" "$kelvane"
echo "machine: $(nproc) cores, $(uname -m), $(wine --version), $(grep -qs '^enabled' /proc/sys/fs/binfmt_misc/qemu-i386 && echo 32-bit code through qemu-i386 || echo native 32-bit)"
