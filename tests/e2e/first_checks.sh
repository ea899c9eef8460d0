#!/usr/bin/env bash
# The automatic check as a new user first meets it: the first check in a freshly made Wine prefix,
# over each real server, N times, each in a prefix of its own. A figure for the README, and a
# check: every box must be true (real_audio.sh's loopback scenario judges it).
#   tests/e2e/first_checks.sh BUILD_DIR [N]      (default N: 5)
set -uo pipefail
build=${1:?usage: $0 BUILD_DIR [N]}
e2e_dir=$(cd "$(dirname "$0")" && pwd)
rounds=${2:-5}
status=0
for ((round = 1; round <= rounds; round++)); do
    for kind in pulseaudio pipewire; do
        echo "== first check $round of $rounds over $kind, in a new prefix"
        rm -rf "$build/wineprefix-audio"
        KELVANE_REAL_AUDIO_ONLY="$kind loopback" "$e2e_dir/real_audio.sh" "$build" \
            >"$build/first-check.log" 2>&1 || status=1
        grep -E '^(FAIL|note: the (box|result box)|note: unjudged|[0-9]+ passed)' \
            "$build/first-check.log"
    done
done
exit $status
