#!/usr/bin/env bash
# End-to-end tests: Kelvane.exe under Wine, driven by kelvane_e2e.exe. On the test winmm.dll: the
# whole suite at 96 DPI, then the layout and the longest report again at 120, 144 and 192 DPI.
# Then on Wine's own winmm over real PulseAudio and PipeWire servers (real_audio.sh).
#   tests/e2e/run.sh BUILD_DIR        (after cmake --build --preset windows)
set -euo pipefail
. "$(dirname "$0")/wine_env.sh" "${1:-}"
start=$SECONDS
log=$build/e2e.log
: >"$log"
status=0
# Wine handles SIGTERM itself, by ending the thread it lands on (ntdll's term_handler), so a driver
# that hangs is killed outright 10 s later; the hang counts as a failure, after its last line.
# Shortly before, what every Wine process and Xvfb was doing, and the screen, are kept (the watch
# holds none of this script's output open, so a sleep it leaves behind holds up nobody).
driver() {
    local status watch
    (
        sleep 890
        ps -eo pid,stat,etimes,wchan:28,args | grep -E '[w]ine|[K]elvane|[k]elvane_e2e|[X]vfb' \
            >"$build/driver-hang.txt"
        import -display "$DISPLAY" -window root "$build/driver-hang.png"
    ) </dev/null >/dev/null 2>&1 &
    watch=$!
    timeout -k 10 900 wine "$build/tests/e2e/kelvane_e2e.exe" "$@" "$(winpath "$build/Kelvane.exe")" |
        tee -a "$log"
    status=${PIPESTATUS[0]}
    kill "$watch" 2>/dev/null || true
    wait "$watch" 2>/dev/null || true
    case $status in
        124 | 137)
            printf 'FAIL the driver%s was still running after 900 s and was stopped, after "%s"; its processes then are in %s, the screen in %s\n0 passed, 1 failed\n' \
                "${1:+ ($1)}" "$(tail -n 1 "$log")" "$build/driver-hang.txt" "$build/driver-hang.png" |
                tee -a "$log"
            ;;
    esac
    return "$status"
}
set_dpi 96
driver || status=1
for dpi in 120 144 192; do
    echo "-- at $dpi DPI"
    set_dpi "$dpi"
    driver --dpi || status=1
done
set_dpi 96
echo "-- the judge of the tones heard at a sink, on made-up recordings"
/usr/bin/python3 "$e2e_dir/tone_capture_test.py" | tee -a "$log" || status=1
echo "-- on Wine's own winmm over PulseAudio and PipeWire"
"$e2e_dir/real_audio.sh" "$build" | tee -a "$log" || status=1
# Pictures the suite took to be looked at (the colour schemes, each with a report).
for bmp in "$build"/tests/e2e/screenshots/*.bmp; do
    [ -e "$bmp" ] && convert "$bmp" "${bmp%.bmp}.png" && rm "$bmp" && echo "screenshot: ${bmp%.bmp}.png"
done
awk '/^[0-9]+ passed, [0-9]+ failed$/ { p += $1; f += $3 } END { print "e2e: " p " passed, " f " failed" }' "$log"
echo "e2e: $((SECONDS - start)) s under Wine"
exit $status
