#!/usr/bin/env bash
# Kelvane.exe over a real sound server: Wine's own winmm.dll and winepulse in a prefix with no
# test DLL, talking to a PulseAudio daemon of each scenario's own, with null sinks (no sound
# hardware needed). Each scenario stops only the daemon it started, by its pid.
#   tests/e2e/real_audio.sh BUILD_DIR        (after cmake --build --preset windows)
set -euo pipefail
. "$(dirname "$0")/wine_env.sh" "${1:-}" audio
driver=$build/tests/e2e/kelvane_e2e.exe
kelvane=$(winpath "$build/Kelvane.exe")
state=$(mktemp -d)
pulse_pid=
# Whatever a failed scenario left running goes too, before Wine and the display do.
trap 'pulse_stop; rm -rf "$state"; cleanup' EXIT

# Only the server started here, never one of the user's: a private socket, no autospawn, and an
# empty ALSA configuration, so the ALSA fallback finds no device either.
export PULSE_SERVER=unix:$state/pulse/native
export PULSE_CLIENTCONFIG=$state/client.conf ALSA_CONFIG_PATH=$state/alsa.conf
echo "autospawn = no" >"$PULSE_CLIENTCONFIG"
: >"$ALSA_CONFIG_PATH"

# pulse_start DESCRIPTION...: a daemon with one null sink per description.
pulse_start() {
    local dir=$state/pulse i=0
    rm -rf "$dir" && mkdir -p "$dir/home"
    local modules=(-L "module-native-protocol-unix socket=$dir/native auth-anonymous=1")
    for description in "$@"; do
        modules+=(-L "module-null-sink sink_name=sink$i sink_properties='device.description=\"$description\"'")
        i=$((i + 1))
    done
    # Root in CI: -n keeps the system's default.pa (and its session modules) out; the private HOME
    # and runtime folder keep its files out of everyone else's. No shared memory: the 32-bit
    # client may run under qemu, and the protocol is the same without it.
    HOME=$dir/home XDG_RUNTIME_DIR=$dir pulseaudio -n --daemonize=no --exit-idle-time=-1 \
        --use-pid-file=no --disable-shm=yes --log-target=file:"$dir/log" "${modules[@]}" &
    pulse_pid=$!
    for _ in $(seq 100); do
        [ -S "$dir/native" ] && return
        kill -0 "$pulse_pid" 2>/dev/null || break
        sleep 0.1
    done
    echo "FAIL PulseAudio did not start: $(cat "$dir/log" 2>/dev/null)"
    return 1
}

pulse_stop() {
    [ -n "$pulse_pid" ] || return 0
    kill "$pulse_pid" 2>/dev/null || true
    wait "$pulse_pid" 2>/dev/null || true
    pulse_pid=
}

# No Kelvane is left running in this script's prefix, whichever Kelvane or test run the machine
# has elsewhere. Wine hands WINEPREFIX down to every process of a prefix, to those a Windows parent
# starts too. The scan must also find the prefix's own services.exe (up since start_wine), so one
# that reads nothing cannot pass, and a Kelvane whose environment cannot be read fails it rather
# than passing unseen. Another user's processes are not looked into: Wine refuses a prefix its
# user does not own.
no_kelvane_left() {
    local p name stat env uid services=0 left=0
    uid=$(id -u)
    for p in /proc/[0-9]*; do
        name=$(cat "$p/comm" 2>/dev/null) || continue
        [ "$name" = Kelvane.exe ] || [ "$name" = services.exe ] || continue
        # Dead ones stay listed (as zombies) until whoever inherited them reaps them.
        stat=$(cat "$p/stat" 2>/dev/null) || continue
        stat=${stat##*) }
        [ "${stat%% *}" != Z ] || continue
        [ "$uid" = 0 ] || [ "$(stat -c %u "$p" 2>/dev/null)" = "$uid" ] || continue
        env=$(tr '\0' '\n' 2>/dev/null <"$p/environ") || env=
        if [ -z "$env" ]; then
            [ -e "$p" ] || continue
            echo "  cannot read the environment of $name, pid ${p#/proc/}"
            left=$((left + 1))
        elif grep -qxF "WINEPREFIX=$WINEPREFIX" <<<"$env"; then
            if [ "$name" = services.exe ]; then
                services=$((services + 1))
            else
                echo "  left behind in $WINEPREFIX: Kelvane.exe, pid ${p#/proc/}"
                left=$((left + 1))
            fi
        fi
    done
    [ $services -gt 0 ] || echo "  the scan found no services.exe in $WINEPREFIX"
    [ $services -gt 0 ] && [ $left -eq 0 ]
}

passed=0 failed=0 driver_failed=0
check() {
    if eval "$2"; then
        passed=$((passed + 1)) && echo "PASS $1"
    else
        failed=$((failed + 1)) && echo "FAIL $1"
    fi
}

# scenario NAME [DESCRIPTION...]: with descriptions, a daemon with those sinks serves it.
scenario() {
    local name=$1 pid=
    shift
    rm -f "$state"/stop-server "$state"/server-stopped
    if [ $# -gt 0 ]; then
        pulse_start "$@" || { failed=$((failed + 1)) && return; }
        pid=$pulse_pid
    fi
    local driver_pid status=0
    timeout 300 wine "$driver" --real-audio "$name" "$(winpath "$state")" "$@" "$kelvane" 2>>"$build/real-audio.log" &
    driver_pid=$!
    # The driver asks for the server to go away by leaving a file; only this daemon is stopped.
    while kill -0 "$driver_pid" 2>/dev/null; do
        if [ -e "$state/stop-server" ] && [ ! -e "$state/server-stopped" ]; then
            pulse_stop
            touch "$state/server-stopped"
        fi
        sleep 0.2
    done
    wait "$driver_pid" || status=$?
    pulse_stop
    if [ -n "$pid" ]; then
        check "$name: its PulseAudio daemon is gone" "! kill -0 $pid 2>/dev/null"
    fi
    check "$name: no Kelvane process left behind" no_kelvane_left
    [ $status -eq 0 ] || driver_failed=1
}

start=$SECONDS
scenario sinks "Kelvane Test Speakers"
scenario sinks "Front Speakers" "USB Headset"
scenario no-server
scenario server-stops "Kelvane Test Speakers"
echo "$passed passed, $failed failed"
echo "real audio: $((SECONDS - start)) s under Wine"
[ $failed -eq 0 ] && [ $driver_failed -eq 0 ]
