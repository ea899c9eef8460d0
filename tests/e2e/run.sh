#!/usr/bin/env bash
# End-to-end tests: Kelvane.exe under Wine, driven by kelvane_e2e.exe.
#   tests/e2e/run.sh BUILD_DIR        (after cmake --build --preset windows)
set -euo pipefail
. "$(dirname "$0")/wine_env.sh" "${1:-}"
start=$SECONDS
status=0
timeout 900 wine "$build/tests/e2e/kelvane_e2e.exe" "$(winpath "$build/Kelvane.exe")" || status=$?
echo "e2e: $((SECONDS - start)) s under Wine"
exit $status
