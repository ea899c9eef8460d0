#!/usr/bin/env bash
# The run and sample commands of make.sh:
#   tests/e2e/show.sh BUILD_DIR real     Kelvane on Wine's own winmm and audio drivers, in a prefix
#                                        of its own: it tests this machine's sound output
#   tests/e2e/show.sh BUILD_DIR sample   Kelvane on the test winmm.dll serving a sample device
# On a display Kelvane is left to the user. Without one it runs under Xvfb: the e2e driver
# presses the button as a user would, answers the box, prints what Kelvane said and saves
# screenshots. Exits 0 when Kelvane behaved as designed, whatever it found.
set -euo pipefail
mode=${2:-real}
case $mode in
    real) kind=run ;;
    sample) kind=fake ;;
    *) echo "usage: $0 BUILD_DIR real|sample" >&2; exit 2 ;;
esac
[ -n "${DISPLAY:-}" ] && headless= || headless=yes
. "$(dirname "$0")/wine_env.sh" "${1:-}" "$kind"
driver=$build/tests/e2e/kelvane_e2e.exe
kelvane=$(winpath "$build/Kelvane.exe")
# What Wine and the audio libraries say on stderr is for developers, not for the user's terminal.
wine_log=$build/show-$mode.log
: >"$wine_log"

if [ -z "$headless" ] && [ "$mode" = sample ]; then
    exec wine "$driver" --show-sample "$kelvane" 2>>"$wine_log"
fi
if [ -z "$headless" ]; then
    status=0
    wine "$build/Kelvane.exe" 2>>"$wine_log" || status=$?
    case $status in
        0) echo "Kelvane ended with status 0: its window was closed." ;;
        1) echo "Kelvane ended with status 1: it found no sound device and ended after its" \
               "message box, as designed." ;;
        3) echo "Kelvane ended with status 3: it ran out of memory." ;;
        *) echo "Kelvane ended with status $status, which it never gives: it crashed or was" \
               "killed (Wine's messages: $wine_log)." ;;
    esac
    [ "$status" -le 1 ]
    exit
fi

dir=$build/screenshots/$mode
rm -rf "$dir"
mkdir -p "$dir"
status=0
timeout -k 10 300 wine "$driver" "--show-$mode" "$(winpath "$dir")" "$kelvane" 2>>"$wine_log" ||
    status=$?
[ $status -ne 124 ] && [ $status -ne 137 ] ||
    step_failed "Kelvane and the driver pressing its button were still running after 300 s; Wine's messages are in $wine_log"
for bmp in "$dir"/*.bmp; do
    [ -e "$bmp" ] || continue
    convert "$bmp" "${bmp%.bmp}.png" && rm "$bmp"
    echo "screenshot: ${bmp%.bmp}.png"
done
exit $status
