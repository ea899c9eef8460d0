#!/usr/bin/env bash
# Starts Kelvane.exe under Wine with the test winmm.dll serving the worked-example device (the
# shared prefix has Wine's audio switched off). On a display it is left to the user; without
# one it is pressed under Xvfb and pictures of the box and the report are saved.
#   tests/e2e/show.sh BUILD_DIR
set -euo pipefail
[ -n "${DISPLAY:-}" ] && shots= || shots=yes
. "$(dirname "$0")/wine_env.sh" "${1:-}"
driver=$build/tests/e2e/kelvane_e2e.exe
kelvane=$(winpath "$build/Kelvane.exe")
if [ -z "$shots" ]; then
    wine "$driver" --show "$kelvane"
    exit
fi
dir=$build/screenshots
mkdir -p "$dir"
wine "$driver" --show "$(winpath "$dir")" "$kelvane"
for name in box report; do
    convert "$dir/$name.bmp" "$dir/$name.png" && rm "$dir/$name.bmp"
    echo "$dir/$name.png"
done
