#!/usr/bin/env bash
# Kelvane.exe over a real sound server: Wine's own winmm.dll and winepulse in a prefix with no
# test DLL, talking to a sound server of each scenario's own, with null sinks (no sound hardware
# needed): a PulseAudio daemon, or PipeWire with its session manager and pulse server on a D-Bus
# session bus of its own. Each scenario stops only the processes it started, by their pids.
#   tests/e2e/real_audio.sh BUILD_DIR        (after cmake --build --preset windows)
set -euo pipefail
. "$(dirname "$0")/wine_env.sh" "${1:-}" audio
driver=$build/tests/e2e/kelvane_e2e.exe
kelvane=$(winpath "$build/Kelvane.exe")
state=$(mktemp -d)
server=$state/server
# "PID NAME START" of each process of the running server; START tells it from whatever later
# process the system gives the same pid once it is gone.
server_procs=() stopped_procs=()
# Whatever a failed scenario left running goes too, before Wine and the display do.
trap 'capture_stop; server_stop; rm -rf "$state"; cleanup' EXIT

# Only the server started here, never one of the user's: a private socket, no autospawn, and an
# empty ALSA configuration, so the ALSA fallback finds no device either. The clients' cookie, which
# libpulse makes when there is none, stays out of the user's HOME too.
export PULSE_SERVER=unix:$server/run/pulse/native PULSE_COOKIE=$state/cookie
export PULSE_CLIENTCONFIG=$state/client.conf ALSA_CONFIG_PATH=$state/alsa.conf
echo "autospawn = no" >"$PULSE_CLIENTCONFIG"
: >"$ALSA_CONFIG_PATH"

# The servers run headless on nothing of the user's: none of the user's environment (no display,
# no PIPEWIRE_* or XDG_* folders), a HOME and runtime folder of their own, which their
# configuration and state follow (dbus-daemon takes its data folder from the password file
# unless told), the session bus at $server/bus (PipeWire's own; for PulseAudio nothing listens
# there, or it would register itself on the user's bus) and no system bus.
server_env=(env -i PATH="$PATH" HOME="$server/home" XDG_RUNTIME_DIR="$server/run"
    XDG_DATA_HOME="$server/home/.local/share" DBUS_SESSION_BUS_ADDRESS="unix:path=$server/bus"
    DBUS_SYSTEM_BUS_ADDRESS="unix:path=$server/no-system-bus")

# kelvane_playing: a stream of Kelvane's own plays at the server, uncorked: a sink input whose
# client process is Kelvane.exe (the driver is a Wine process too, and the capture's pacat plays).
# pactl speaks the locale's language, so it is asked in C's.
kelvane_playing() {
    local pid
    for pid in $(LC_ALL=C timeout 5 pactl list sink-inputs 2>/dev/null | awk '
            /^Sink Input #/ { if (pid != "" && !corked) print pid; pid = ""; corked = 0 }
            /^\tCorked: yes/ { corked = 1 }
            /application\.process\.id = / { gsub(/"/, "", $3); pid = $3 }
            END { if (pid != "" && !corked) print pid }'); do
        [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = Kelvane.exe ] && return 0
    done
    return 1
}

# wait_for WHAT SECONDS COMMAND...: COMMAND succeeds within SECONDS, polled every 0.05 s; false,
# with a note of what never came, when it does not.
wait_for() {
    local what=$1 limit=$2 end=$((SECONDS + $2))
    shift 2
    until "$@"; do
        if [ $SECONDS -ge $end ]; then
            echo "note: $what did not happen within $limit s"
            return 1
        fi
        sleep 0.05
    done
}

# start_time PID: empty once the process is gone or dead (a zombie stays listed until whoever
# inherited it reaps it).
start_time() {
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 0
    stat=${stat##*) }
    # shellcheck disable=SC2086 # the fields after the name
    set -- $stat
    [ "$1" = Z ] || echo "${20}"
}
# alive PID START: the process started then still runs.
alive() { [ -n "$2" ] && [ "$(start_time "$1")" = "$2" ]; }

# spawn NAME COMMAND...: one process of the server, its output in NAME.log.
spawn() {
    local name=$1
    shift
    "${server_env[@]}" "$@" >"$server/$name.log" 2>&1 &
    server_procs+=("$! $name $(start_time $!)")
}

server_failed() {
    local log
    echo "FAIL $1"
    for log in "$server"/*.log; do
        [ ! -s "$log" ] || tail -n 20 "$log" | sed "s|^|  ${log##*/}: |"
    done
    return 1
}

# await WHAT COMMAND...: COMMAND succeeds within 10 s, while every process of the server lives.
await() {
    local what=$1 end=$((SECONDS + 10)) proc pid name start
    shift
    while [ $SECONDS -lt $end ]; do
        for proc in "${server_procs[@]}"; do
            read -r pid name start <<<"$proc"
            alive "$pid" "$start" || { server_failed "$what: $name exited"; return 1; }
        done
        "$@" >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    server_failed "$what within 10 s"
}

# null_sink INDEX DESCRIPTION: the module's arguments, for PulseAudio's -L and pactl alike.
null_sink() { echo "sink_name=sink$1 sink_properties='device.description=\"$2\"'"; }
sinks_are() { [ "$(timeout 5 pactl list short sinks | cut -f2 | tr '\n' ' ')" = "$1" ]; }

pulseaudio_start() {
    local modules=(-L "module-native-protocol-unix socket=$server/run/pulse/native auth-anonymous=1")
    local i=0
    for description in "$@"; do
        modules+=(-L "module-null-sink $(null_sink $i "$description")")
        i=$((i + 1))
    done
    # Root in CI: -n keeps the system's default.pa (and its session modules) out. No shared
    # memory: the 32-bit client may run under qemu, and the protocol is the same without it.
    spawn pulseaudio pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
        --disable-shm=yes --log-target=stderr "${modules[@]}"
    await "PulseAudio opens its socket" [ -S "$server/run/pulse/native" ]
}

# PipeWire as a desktop runs it, with its default configuration, save what would reach for the
# machine: WirePlumber looks for no sound card, camera or Bluetooth device (its files run in name
# order, so these come after its 50-*-config ones and before 90-enable-all). Without a session
# manager nothing links a stream, and winepulse's first probe of a sink waits for ever.
pipewire_start() {
    local config=$server/home/.config/wireplumber i=0
    mkdir -p "$config/main.lua.d" "$config/bluetooth.lua.d"
    printf '%s_monitor.enabled = false\n' alsa v4l2 libcamera >"$config/main.lua.d/80-no-devices.lua"
    echo 'bluez_monitor.enabled = false' >"$config/bluetooth.lua.d/80-no-devices.lua"
    spawn dbus-daemon dbus-daemon --session --nofork --address="unix:path=$server/bus"
    await "D-Bus opens its socket" [ -S "$server/bus" ] || return 1
    spawn pipewire pipewire
    await "PipeWire opens its socket" [ -S "$server/run/pipewire-0" ] || return 1
    spawn wireplumber wireplumber
    spawn pipewire-pulse pipewire-pulse
    await "pipewire-pulse opens its socket" [ -S "$server/run/pulse/native" ] || return 1
    for description in "$@"; do
        timeout 10 pactl load-module module-null-sink "$(null_sink $i "$description")" >/dev/null ||
            server_failed "pactl loads the null sink \"$description\"" || return 1
        i=$((i + 1))
    done
}

# server_start KIND DESCRIPTION...: the server of that kind with one null sink per description,
# ready when it lists exactly those sinks (pipewire-pulse keeps a "Dummy Output" while it has no
# other sink, which winepulse would list too) and a stream plays on the first.
server_start() {
    local kind=$1 want="" i
    shift
    rm -rf "$server" && mkdir -p "$server/home" "$server/run" && chmod 700 "$server/run"
    "${kind}_start" "$@" || return 1
    for ((i = 0; i < $#; i++)); do want+="sink$i "; done
    await "$kind lists just the sinks $want" sinks_are "$want" || return 1
    await "a stream plays on sink0" timeout 5 pacat --playback --device=sink0 </dev/null
}

# The automatic check records the server's default source while it plays on device 0, which
# follows the default sink. The loop stands for a microphone by the speakers: the default source is
# the monitor of sink0, the speakers, so the recording hears what reached them. All of it is set
# before the driver and Kelvane start, so nothing changes under a GUI action.
#   loopback            sink0 is the default sink
#   loopback-swapped    a sink wired the wrong way round in front of sink0 is the default sink;
#                       its own monitor carries what is played to it, before the swap, so the
#                       recording is still sink0's, after it
#   loopback-right-off  sink0's right channel at 0 %, which its monitor follows
#   loopback-chain...   the recorder hears the speakers through a cable that plants one fault
#                       (see chain_start); loopback-chain itself plants none
default_is() { [ "$(timeout 5 pactl "get-default-$1")" = "$2" ]; }
right_silent() { LC_ALL=C timeout 5 pactl get-sink-volume sink0 | grep -q 'front-right: 0 /'; }
source_running() { LC_ALL=C timeout 5 pactl list short sources | grep -q "^[0-9]*"$'\t'"$1"$'\t'".*RUNNING"; }
# reads_sound PID: the process (sox) reads a tenth of a second of sound in a fifth of one: the
# monitor's parec has reached it. Its start-up reads are far fewer, and long over.
read_bytes() { awk '/^rchar/ { print $2 }' "/proc/$1/io" 2>/dev/null || echo 0; }
reads_sound() {
    local before
    before=$(read_bytes "$1")
    sleep 0.2
    [ $(($(read_bytes "$1") - before)) -ge 17640 ]
}

# chain_start NAME: the default source becomes a pipe source, "chain", fed from sink0's monitor
# (parec) through sox, which plants NAME's fault, one at a time:
#   loopback-chain              none: sox hands the sound on untouched (bit for bit over
#                               PulseAudio; PipeWire resamples it to 48 kHz and back)
#   loopback-chain-overdrive    overdrive 12 dB, no colour: the -12 dBFS tone comes back at
#                               -3.3 dBFS with 9.1 % THD, its peaks at 20,600, short of full scale
#   loopback-chain-right-quiet  the right channel at half its amplitude: 6.0 dB quieter
#   loopback-chain-hum          50 Hz at -30 dBFS and 150 Hz at -40 dBFS mixed in: -29.6 dBFS in all
#   loopback-chain-clip         15 dB more, no limiter: the tone cut flat 3 dB past full scale
#   loopback-chain-gaps         a 3 ms stretch silenced every 100 ms (frames kept, not dropped):
#                               4 or 5 in each tone's steady 460 ms
#   loopback-chain-breaks       10 ms silenced every 300 ms, frames kept: 1 or 2 in each tone's
#                               steady part, and now and then one on a fade
# The chain's processes are the server's (spawn), so server_stop ends them, the monitor's parec
# first: sox then reads the end of its input and goes. Order matters over PipeWire: its pipe
# source keeps whatever the pipe held before it ran, as latency for good (1 s of it seen), so a
# keeper records it (running, it also never lets the pipe fill, as PulseAudio's would while no
# one records) before sox writes a sample. sox's buffers of 1024 bytes and parec's 10 ms keep the
# chain's own delay at 10-30 ms over PulseAudio and 50-75 ms over PipeWire 0.3.65; PipeWire 1.4's
# pipe source holds more (Kelvane's round trip 217-245 ms), still far from the check's 500 ms.
chain_start() {
    local raw=(-t raw -r 44100 -e signed -b 16 -c 2) effects=() sox_pid
    local input=("${raw[@]}" "$server/monitor.fifo")
    # sox's synth makes a sine with a peak of 0.705, so the factors are 10^(dB/20) / 0.705.
    local hum="sox -D -n -r 44100 -c 2 -t sox - synth sine"
    case $1 in
        loopback-chain-overdrive) effects=(overdrive 12 0) ;;
        loopback-chain-right-quiet) effects=(remix 1 2v0.5) ;;
        loopback-chain-hum)
            input=(-m -v 1 "${input[@]}" -v 0.04485 -t sox "|$hum 50" -v 0.01418 -t sox "|$hum 150") ;;
        loopback-chain-clip) effects=(gain 15) ;;
        loopback-chain-gaps) effects=(synth square amod 10 0 0 97) ;;
        loopback-chain-breaks) effects=(synth square amod 3.333333 0 0 96.6667) ;;
    esac
    timeout 10 pactl load-module module-pipe-source source_name=chain file="$server/chain.fifo" \
        format=s16le rate=44100 channels=2 >/dev/null ||
        server_failed "pactl loads the pipe source" || return 1
    # What it records is what the pipe source gave Kelvane too: KELVANE_KEEP_CAPTURES=DIR keeps it.
    local kept=/dev/null
    [ -z "${KELVANE_KEEP_CAPTURES:-}" ] || kept=$KELVANE_KEEP_CAPTURES/chain-$kind-$1-$(date +%s%N).raw
    spawn chain-keeper parec --server="$PULSE_SERVER" --device=chain --latency-msec=20 --raw \
        --format=s16le --channels=2 --rate=44100 "$kept"
    await "the pipe source runs" source_running chain || return 1
    mkfifo "$server/monitor.fifo"
    spawn chain-sox sox -D --buffer 1024 "${input[@]}" "${raw[@]}" "$server/chain.fifo" "${effects[@]}"
    read -r sox_pid _ <<<"${server_procs[-1]}"
    spawn chain-parec parec --server="$PULSE_SERVER" --device=sink0.monitor --latency-msec=10 \
        --raw --format=s16le --channels=2 --rate=44100 "$server/monitor.fifo"
    await "sox reads sink0's monitor" reads_sound "$sox_pid"
}

loopback_set_up() {
    local source=sink0.monitor
    case $1 in
        loopback-swapped)
            timeout 10 pactl load-module module-remap-sink sink_name=swapped master=sink0 \
                master_channel_map=front-right,front-left channel_map=front-left,front-right \
                remix=no >/dev/null || server_failed "pactl loads the swapping sink" || return 1
            await "$kind lists the swapping sink" sinks_are "sink0 swapped " || return 1
            timeout 5 pactl set-default-sink swapped
            await "the swapping sink becomes the default sink" default_is sink swapped || return 1
            ;;
        loopback-right-off)
            timeout 5 pactl set-sink-volume sink0 100% 0%
            await "sink0's right channel goes to 0 %" right_silent || return 1
            ;;
        loopback-chain*)
            chain_start "$1" || return 1
            source=chain
            ;;
    esac
    timeout 5 pactl set-default-source $source
    await "$source becomes the default source" default_is source $source
}

# server_stop: every process of the server, the last started first, each by its pid: SIGTERM,
# 5 s to go, then SIGKILL.
server_stop() {
    local i n pid name start signal
    for ((i = ${#server_procs[@]} - 1; i >= 0; i--)); do
        read -r pid name start <<<"${server_procs[i]}"
        for signal in TERM KILL; do
            alive "$pid" "$start" || break
            kill -s $signal "$pid" 2>/dev/null || true
            n=0
            while alive "$pid" "$start" && [ $((n += 1)) -le 50 ]; do sleep 0.1; done
        done
        alive "$pid" "$start" || wait "$pid" 2>/dev/null || true
    done
    stopped_procs+=("${server_procs[@]}")
    server_procs=()
}

# No Kelvane is left running in this script's prefix, whichever Kelvane or test run the machine
# has elsewhere. Wine hands WINEPREFIX down to every process of a prefix, to those a Windows parent
# starts too. The scan must also find the prefix's own wineserver (up since start_wine, and
# persistent), so one that reads nothing cannot pass, and a Kelvane whose environment cannot be
# read fails it rather than passing unseen. (It looked for services.exe once; under qemu 7.2 the
# prefix's services.exe was twice gone between two scenarios, its winedevice.exe and wineserver
# still there, and nothing of Kelvane's.) Another user's processes are not looked into: Wine
# refuses a prefix its user does not own.
no_kelvane_left() {
    local p name env uid server=0 left=0
    uid=$(id -u)
    for p in /proc/[0-9]*; do
        name=$(cat "$p/comm" 2>/dev/null) || continue
        case $name in Kelvane.exe | wineserver*) ;; *) continue ;; esac
        [ -n "$(start_time "${p#/proc/}")" ] || continue
        [ "$uid" = 0 ] || [ "$(stat -c %u "$p" 2>/dev/null)" = "$uid" ] || continue
        env=$(tr '\0' '\n' 2>/dev/null <"$p/environ") || env=
        # One on its way out loses its memory, environment and all, before it turns zombie.
        if [ -z "$env" ]; then
            sleep 0.5
            [ -n "$(start_time "${p#/proc/}")" ] || continue
            env=$(tr '\0' '\n' 2>/dev/null <"$p/environ") || env=
        fi
        if [ -z "$env" ]; then
            echo "  cannot read the environment of $name, pid ${p#/proc/}"
            left=$((left + 1))
        elif grep -qxF "WINEPREFIX=$WINEPREFIX" <<<"$env"; then
            if [ "$name" != Kelvane.exe ]; then
                server=$((server + 1))
            else
                echo "  left behind in $WINEPREFIX: Kelvane.exe, pid ${p#/proc/}"
                left=$((left + 1))
            fi
        fi
    done
    if [ $server -eq 0 ]; then
        echo "  the scan found no wineserver of $WINEPREFIX; Wine's processes here:"
        for p in /proc/[0-9]*; do
            name=$(cat "$p/comm" 2>/dev/null) || continue
            case $name in *.exe | wine* | qemu*) ;; *) continue ;; esac
            env=$(tr '\0' '\n' 2>/dev/null <"$p/environ" | grep '^WINEPREFIX=') || env="no WINEPREFIX"
            echo "    pid ${p#/proc/} $name (state $(cut -d' ' -f3 "$p/stat" 2>/dev/null), $env)"
        done
    fi
    [ $server -gt 0 ] && [ $left -eq 0 ]
}

# The sink's monitor recorded while the driver asks for tones. With the sink idle before the tone,
# or at parec's default latency, the start of the first tone went missing; a silent stream keeps
# the sink running, and 20 ms latency keeps up. A capture that still drops data shows a dropout
# (see heard).
capture_pids=()
capture_start() {
    # A new round's recording must not look as far along as the last one's.
    rm -f "$state"/capture.raw*
    pacat --playback --device=sink0 --raw --format=s16le --channels=2 --rate=44100 </dev/zero &
    capture_pids+=($!)
    # Stopped by its reader's end, so it says nothing of the broken pipe.
    parec --device=sink0.monitor --latency-msec=20 --raw --format=s16le --channels=2 \
        --rate=44100 2>/dev/null | /usr/bin/python3 "$e2e_dir/tone_onsets.py" "$state/capture.raw" &
    capture_pids+=($!)
}
capture_stop() {
    local pid
    for pid in "${capture_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${capture_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    capture_pids=()
}

# A figure, not a check: from each menu choice the driver noted to the onset of sound at the
# monitor, both in Unix milliseconds.
tone_latency() {
    local ms median
    ms=$(paste "$state/chosen" "$state/capture.raw.onsets" 2>/dev/null |
        awk 'NF == 2 { print $2 - $1 }' | sort -n | tr '\n' ' ')
    # shellcheck disable=SC2086 # one figure a word
    set -- $ms
    if [ $# -eq 0 ]; then
        echo "tone latency: no tone heard"
        return
    fi
    eval "median=\${$((($# + 1) / 2))}"
    echo "tone latency: median $median ms of $# tones (${ms% } ms)"
}

passed=0 failed=0 driver_failed=0 driver_passed_checks=0 driver_failed_checks=0
# The judge of the tones heard. Where the server ran dry (Wine's winepulse fed it late: with
# WINEDEBUG=warn+pulse its timer loop wakes 16-25 ms apart while pipewire-pulse holds about 21 ms
# of the stream, "held: 12440, avail: 0" then "Underflow"; in about half the captures over
# PipeWire even on an idle machine, and a pacat stream timed the same way never did), the tone
# comes late but whole, and the judge takes the silence out. A capture that lost data, or began or
# ended inside a tone, is no verdict on Kelvane: up to five rounds, the driver is told to ask
# again, and a fifth such capture fails.
heard() {
    local verdict=0
    # KELVANE_KEEP_CAPTURES=DIR keeps every capture judged, to be looked at.
    [ -z "${KELVANE_KEEP_CAPTURES:-}" ] ||
        cp "$state/capture.raw" "$KELVANE_KEEP_CAPTURES/capture-$(date +%s%N).raw"
    /usr/bin/python3 "$e2e_dir/tone_capture.py" "$state/capture.raw" || verdict=$?
    if [ $verdict -eq 2 ] && [ $((rounds += 1)) -lt 5 ]; then
        echo "note: round $rounds of the tones had a dropout; the driver asks for them again"
        touch "$state/record-again"
    else
        check "$label: the left tone, then the right, heard at the sink" "[ $verdict -eq 0 ]"
    fi
}
# The automatic check's box against what the sink itself played, tone by tone (tone_capture.py
# --listens: w whole, s silenced in step, l late or lost), for Wine's output can break the sound
# or hold it up before any cable. Kelvane names a tone's breaks where two listens that kept it
# whole both heard it break. So through a cable that plants none, a break named is true only where
# the sink's own tone was silenced in two listens; through one that plants them, they are owed
# unless the sink held that tone up in all listens but one. A box that says sound was lost is true
# only where the sink's sound was late or lost in two listens, in a tone or between the two: every
# cable keeps every frame.
weigh_listens() {
    local key value side channel words unjudged=0 planted=0 swapped=0 left=0 right=0 lost=0 i
    if [ ! -s "$state/loopback-box" ]; then
        check "$label: the driver wrote what the box named" false
        return
    fi
    while read -r key value; do
        case $key in unjudged | planted | swapped | left | right) printf -v "$key" %d "$value" ;; esac
    done <"$state/loopback-box"
    [ -z "${KELVANE_KEEP_CAPTURES:-}" ] ||
        cp "$state/capture.raw" "$KELVANE_KEEP_CAPTURES/sink-$kind-$name-$(date +%s%N).raw"
    declare -A at
    while read -r channel words; do at[$channel]=$words; done < <(/usr/bin/python3 \
        "$e2e_dir/tone_capture.py" --listens "$state/capture.raw")
    echo "note: the sink's tones, listen by listen: left ${at[left]:-none}; right ${at[right]:-none}; spacing ${at[spacing]:-none}"
    # The left tone plays in every case (on the sink's right channel through the swapping sink):
    # a recording without it weighs nothing, and every check below would pass on it.
    channel=$([ "$swapped" = 0 ] && echo left || echo right)
    check "$label: the sink's recording holds the check's left tone" "[ -n \"\${at[$channel]:-}\" ]"
    [ -n "${at[$channel]:-}" ] || return 0
    if [ "$unjudged" = 1 ]; then
        # shellcheck disable=SC2206 # a word a listen
        local l=(${at[left]:-}) r=(${at[right]:-}) s=(${at[spacing]:-})
        for ((i = 0; i < ${#l[@]} || i < ${#r[@]}; i++)); do
            [ "${l[i]:-}" != l ] && [ "${r[i]:-}" != l ] && [ "${s[i]:-}" != l ] ||
                lost=$((lost + 1))
        done
        check "$label: sound said lost, and the sink's was in $lost listen(s)" "[ $lost -ge 2 ]"
        return
    fi
    for side in left right; do
        channel=$side
        [ "$swapped" = 0 ] || channel=$([ $side = left ] && echo right || echo left)
        words=" ${at[$channel]:-} "
        local n=${!side} silenced=${words//[^s]/} kept=${words//[^ws]/}
        if [ "$planted" = 1 ]; then
            check "$label: the $side tone's breaks named (${#kept} listen(s) whole at the sink)" \
                "[ $n -gt 0 ] || [ ${#kept} -lt 2 ]"
        else
            check "$label: $n break(s) named in the $side tone; the sink's broke in ${#silenced} listen(s)" \
                "[ $n -eq 0 ] || [ ${#silenced} -ge 2 ]"
        fi
    done
}
check() {
    if eval "$2"; then
        passed=$((passed + 1)) && echo "PASS $1"
    else
        failed=$((failed + 1)) && echo "FAIL $1"
    fi
}

# scenario KIND NAME [DESCRIPTION...]: the driver's NAME case over a server of KIND (pulseaudio,
# pipewire, or none) with a sink per description.
scenario() {
    local kind=$1 name=$2 label=$2 proc pid start rounds=0
    shift 2
    # KELVANE_REAL_AUDIO_ONLY="pipewire tones", say, runs only the scenarios it names, to be
    # looped and traced.
    case " ${KELVANE_REAL_AUDIO_ONLY:-$kind $name} " in *" $kind $name "*) ;; *) return 0 ;; esac
    [ "$kind" = none ] || label+=" over $kind"
    echo "-- $label"
    rm -f "$state"/stop-server* "$state"/server-stopped "$state"/tone-* "$state"/record-* \
        "$state"/capture.raw* "$state"/loopback-latency "$state"/loopback-box
    stopped_procs=()
    if [ "$kind" = none ] || { server_start "$kind" "$@" &&
        case $name in loopback*) loopback_set_up "$name" ;; esac; }; then
        local driver_pid status=0 n
        # Its lines are shown once it ends, and counted for the repeat mode's total.
        timeout -k 10 300 wine "$driver" --real-audio "$name" "$(winpath "$state")" "$@" "$kelvane" \
            >"$state/driver.out" 2>>"$build/real-audio.log" &
        driver_pid=$!
        # The driver asks for the server to go away by leaving a file; all of this one's
        # processes go, and nothing else.
        while kill -0 "$driver_pid" 2>/dev/null; do
            if [ -e "$state/stop-server" ] && [ ! -e "$state/server-stopped" ]; then
                server_stop
                touch "$state/server-stopped"
            fi
            # The server goes during a tone only once Kelvane's stream plays there: a server
            # stopped before Kelvane reached it tests another case, and the driver would wait
            # for a window that Kelvane's box holds. The answer says which happened.
            if [ -e "$state/stop-server-playing" ] && [ ! -e "$state/server-stopped" ]; then
                if wait_for "Kelvane's stream playing at the server" 10 kelvane_playing; then
                    server_stop
                    echo playing >"$state/server-stopped"
                else
                    echo "no stream of Kelvane's played within 10 s" >"$state/server-stopped"
                fi
            fi
            # A tone is over once Kelvane's stream has played and gone, however late it came.
            if [ -e "$state/tone-over" ] && [ ! -e "$state/tone-was-over" ]; then
                if wait_for "Kelvane's stream playing at the server" 10 kelvane_playing &&
                    wait_for "Kelvane's stream ending" 10 eval '! kelvane_playing'; then
                    echo over >"$state/tone-was-over"
                else
                    echo "no stream of Kelvane's played and ended within 10 s" >"$state/tone-was-over"
                fi
            fi
            if [ -e "$state/record-start" ] && [ ! -e "$state/record-started" ]; then
                capture_start
                # Recording for real once a fifth of a second has come in.
                n=0
                while [ "$(stat -c %s "$state/capture.raw" 2>/dev/null || echo 0)" -lt 35280 ] &&
                    [ $((n += 1)) -le 100 ]; do sleep 0.1; done
                touch "$state/record-started"
            fi
            if [ -e "$state/record-stop" ] && [ ! -e "$state/record-stopped" ]; then
                capture_stop
                case $name in
                    latency) tone_latency ;;
                    loopback*) weigh_listens ;;
                    *) heard ;;
                esac
                touch "$state/record-stopped"
            fi
            sleep 0.2
        done
        wait "$driver_pid" || status=$?
        capture_stop
        cat "$state/driver.out"
        # A figure, not a check: the round trip Kelvane's box gave.
        case $name in loopback*)
            checks_made=$((checks_made + 1))
            if grep -q '^note: unjudged box' "$state/driver.out"; then
                unjudged=$((unjudged + 1))
            fi
            # How often the box named a break: through the chains that break the sound, every
            # time for each tone; anywhere else, never.
            n=$(awk '/^note: the box says/ { n += gsub(/中断了/, "") } END { print n + 0 }' \
                "$state/driver.out")
            # How long the box took: one listen, or two where the first heard a break.
            took=$(awk '/^note: the result box came/ { print $6 }' "$state/driver.out")
            if [ -n "$took" ] && [ "$n" -gt 0 ]; then
                two_listens+=("$took")
            elif [ -n "$took" ]; then
                one_listen+=("$took")
            fi
            case $name in
                loopback-chain-gaps | loopback-chain-breaks)
                    breaking_checks=$((breaking_checks + 1))
                    [ "$n" -lt 2 ] || breaks_named=$((breaks_named + 1))
                    ;;
                *)
                    whole_checks=$((whole_checks + 1))
                    [ "$n" -eq 0 ] || false_breaks=$((false_breaks + 1))
                    ;;
            esac
            if [ -s "$state/loopback-latency" ]; then
                echo "loopback latency over $kind ($name): $(cat "$state/loopback-latency") ms"
            else
                echo "loopback latency over $kind ($name): none shown"
            fi
            ;;
        esac
        read -r n status_failed < <(awk '/^[0-9]+ passed, [0-9]+ failed$/ { p += $1; f += $3 }
            END { print p + 0, f + 0 }' "$state/driver.out")
        driver_passed_checks=$((driver_passed_checks + n))
        driver_failed_checks=$((driver_failed_checks + status_failed))
        case $status in 124 | 137)
            echo "FAIL $label: the driver was still running after 300 s and was stopped, after \"$(tail -n 1 "$state/driver.out")\"" ;;
        esac
        [ $status -eq 0 ] || driver_failed=$((driver_failed + 1))
    else
        failed=$((failed + 1))
    fi
    server_stop
    for proc in "${stopped_procs[@]}"; do
        read -r pid proc start <<<"$proc"
        check "$label: its $proc is gone" "! alive $pid '$start'"
    done
    check "$label: no Kelvane process left behind" no_kelvane_left
}

every_scenario() {
    scenario pulseaudio sinks "Kelvane Test Speakers"
    scenario pulseaudio sinks "Front Speakers" "USB Headset"
    scenario none no-server
    scenario pulseaudio server-stops "Kelvane Test Speakers"
    scenario pulseaudio tones "Kelvane Test Speakers"
    scenario pulseaudio tone-server-stops "Kelvane Test Speakers"
    scenario pulseaudio loopback "Kelvane Test Speakers"
    scenario pulseaudio loopback-swapped "Kelvane Test Speakers"
    scenario pulseaudio loopback-right-off "Kelvane Test Speakers"
    scenario pulseaudio loopback-chain "Kelvane Test Speakers"
    scenario pulseaudio loopback-chain-overdrive "Kelvane Test Speakers"
    scenario pulseaudio loopback-chain-right-quiet "Kelvane Test Speakers"
    scenario pulseaudio loopback-chain-hum "Kelvane Test Speakers"
    scenario pulseaudio loopback-chain-clip "Kelvane Test Speakers"
    scenario pulseaudio loopback-chain-gaps "Kelvane Test Speakers"
    scenario pulseaudio loopback-chain-breaks "Kelvane Test Speakers"
    scenario pipewire sinks "Kelvane Test Speakers"
    scenario pipewire server-stops "Kelvane Test Speakers"
    scenario pipewire tones "Kelvane Test Speakers"
    scenario pipewire tone-server-stops "Kelvane Test Speakers"
    scenario pipewire loopback "Kelvane Test Speakers"
    scenario pipewire loopback-swapped "Kelvane Test Speakers"
    scenario pipewire loopback-right-off "Kelvane Test Speakers"
    scenario pipewire loopback-chain "Kelvane Test Speakers"
    scenario pipewire loopback-chain-overdrive "Kelvane Test Speakers"
    scenario pipewire loopback-chain-right-quiet "Kelvane Test Speakers"
    scenario pipewire loopback-chain-hum "Kelvane Test Speakers"
    scenario pipewire loopback-chain-clip "Kelvane Test Speakers"
    scenario pipewire loopback-chain-gaps "Kelvane Test Speakers"
    scenario pipewire loopback-chain-breaks "Kelvane Test Speakers"
}

start=$SECONDS
checks_made=0 unjudged=0 breaking_checks=0 breaks_named=0 whole_checks=0 false_breaks=0
one_listen=() two_listens=()
# span MS...: the least and the most, and the median.
span() {
    [ $# -gt 0 ] || { echo none; return; }
    printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[1] "-" v[NR] " ms, median " v[int((NR + 1) / 2)] " ms, " NR " checks" }'
}
case ${2:-} in
    # Only the tone latency figure, over PulseAudio.
    latency)
        scenario pulseaudio latency "Kelvane Test Speakers"
        exit 0
        ;;
    # Every scenario N times over, to show that none fails now and then: a round fails when any
    # of its checks does.
    repeat)
        rounds=${3:?usage: $0 BUILD_DIR repeat N}
        green=0
        for ((round = 1; round <= rounds; round++)); do
            echo "== round $round of $rounds"
            before=$((failed + driver_failed_checks)) before_driver=$driver_failed
            every_scenario
            if [ $((failed + driver_failed_checks)) -eq "$before" ] &&
                [ $driver_failed -eq "$before_driver" ]; then
                green=$((green + 1))
                echo "== round $round: green"
            else
                echo "== round $round: $((failed + driver_failed_checks - before)) check(s) failed"
            fi
        done
        echo "rounds: $green of $rounds green, in $((SECONDS - start)) s"
        # True, so no failure, but each one is a check a user would have to run again.
        echo "unjudged boxes (the recording lost sound twice): $unjudged of $checks_made automatic checks"
        echo "breaks named for both tones through the chains that break the sound: $breaks_named of $breaking_checks checks"
        echo "boxes naming a break where nothing breaks the sound: $false_breaks of $whole_checks checks"
        echo "box after the choice, breaks named (two listens): $(span "${two_listens[@]}")"
        echo "box after the choice, no break named: $(span "${one_listen[@]}")"
        # Every check of every round, the driver's with the script's.
        echo "$((passed + driver_passed_checks)) passed, $((failed + driver_failed_checks)) failed"
        [ $green -eq "$rounds" ]
        exit
        ;;
    "") every_scenario ;;
    *) echo "usage: $0 BUILD_DIR [latency | repeat N]" >&2; exit 2 ;;
esac
echo "$passed passed, $failed failed"
echo "real audio: $((SECONDS - start)) s under Wine"
[ $failed -eq 0 ] && [ $driver_failed -eq 0 ]
