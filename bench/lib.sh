# shellcheck shell=bash
# Shared by the benchmark scripts (sourced, not run). Each script can run alone: it then
# starts its own audio server and X server. Under bench/run-all it reuses theirs, which
# run-all passes in BENCH_AUDIO_DIR and BENCH_DISPLAY.
#
# Every wait here is bounded, and every child that a script starts is registered, so that
# the exit trap ends it whatever way the script stops.

BENCH_SOURCE_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BENCH_CHILDREN=()
BENCH_OWN_AUDIO_DIR=
BENCH_MISSES=0

bench_log() { echo "[$(date +%H:%M:%S)] $*" >&2; }
bench_die() {
    echo "$BENCH_NAME: error: $*" >&2
    exit 2
}

# A figure of the summary: "NAME: text".
bench_figure() { echo "$BENCH_NAME: $*"; }

# Compares a measured figure against its goal (figure <= limit) and prints PASS or FAIL.
bench_verdict() { # label figure limit [unit]
    local verdict
    verdict=$(awk -v r="$2" -v l="$3" 'BEGIN { print (r <= l) ? "PASS" : "FAIL" }')
    bench_figure "$verdict $1 $2${4:-} (goal <= $3${4:-})"
    [[ $verdict == PASS ]] || BENCH_MISSES=$((BENCH_MISSES + 1))
}

bench_finish() {
    if ((BENCH_MISSES > 0)); then
        bench_figure "$BENCH_MISSES goal(s) missed"
        exit 1
    fi
    bench_figure "all goals met"
}

bench_register() { BENCH_CHILDREN+=("$@"); }

# Ends one process: SIGTERM, then SIGKILL if it is still there after a few seconds.
bench_end_pid() {
    local pid=$1
    kill -0 "$pid" 2>/dev/null || return 0
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
}

bench_cleanup() {
    local i pid child
    for ((i = ${#BENCH_CHILDREN[@]} - 1; i >= 0; i--)); do
        pid=${BENCH_CHILDREN[i]}
        # GNU time passes no signal on: its child goes first, and time then exits.
        if [[ $(cat "/proc/$pid/comm" 2>/dev/null) == time ]]; then
            for child in $(pgrep -P "$pid"); do bench_end_pid "$child"; done
        fi
        bench_end_pid "$pid"
    done
    if [[ -n $BENCH_OWN_AUDIO_DIR ]]; then
        "$BENCH_SOURCE_DIR/tools/audio-test-server" stop "$BENCH_OWN_AUDIO_DIR" >/dev/null 2>&1 || true
    fi
    [[ -n ${BENCH_TMP:-} && -d $BENCH_TMP ]] && rm -rf "$BENCH_TMP"
    return 0
}

# True once the command succeeds; false when the timeout (whole seconds) passes first.
bench_wait_for() { # timeout command...
    local deadline=$(($(date +%s) + $1))
    shift
    until "$@"; do
        (($(date +%s) < deadline)) || return 1
        sleep 0.1
    done
}

bench_gone() { ! kill -0 "$1" 2>/dev/null; }

# Waits for a process to exit, at most timeout seconds; false when it is still running.
bench_wait_exit() { # pid timeout
    bench_wait_for "$2" bench_gone "$1"
}

# Usage: bench_init NAME [BUILD-DIR [FLAVOUR]]   FLAVOUR: the sound server, pulseaudio
# (default, or BENCH_FLAVOUR) or pipewire. Under run-all, the flavour of its server.
bench_init() {
    BENCH_NAME=$1
    BENCH_BUILD=$(realpath -m "${2:-$BENCH_SOURCE_DIR/build-bench}")
    BENCH_FLAVOUR=${3:-${BENCH_FLAVOUR:-pulseaudio}}
    if [[ -n ${BENCH_AUDIO_DIR:-} && -f $BENCH_AUDIO_DIR/flavour ]]; then
        BENCH_FLAVOUR=$(<"$BENCH_AUDIO_DIR/flavour")
    fi
    case $BENCH_FLAVOUR in
    pulseaudio | pipewire) ;;
    *) bench_die "unknown sound server flavour '$BENCH_FLAVOUR' (pulseaudio or pipewire)" ;;
    esac
    BENCH_TMP=$(mktemp -d "${TMPDIR:-/tmp}/zelim-bench-$BENCH_NAME.XXXXXX")
    trap bench_cleanup EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    mkdir -p "$BENCH_TMP/xdg"
    chmod 700 "$BENCH_TMP/xdg"
    export XDG_RUNTIME_DIR=$BENCH_TMP/xdg
    for tool in /usr/bin/time sox pacat parec pactl xdotool Xvfb pgrep awk; do
        command -v "$tool" >/dev/null || bench_die "$tool is missing (tools/install-deps test)"
    done
    [[ ${BENCH_NO_BUILD:-0} == 1 ]] || bench_build
    # BENCH_ZELIM: another build's Zelim against this build's floors, to compare two versions.
    ZELIM=${BENCH_ZELIM:-$BENCH_BUILD/Zelim/bin/zelim}
    # shellcheck disable=SC2034 # used by the scripts that source this file
    BENCH_BIN=$BENCH_BUILD/bench
    [[ -x $ZELIM ]] || bench_die "no Zelim binary at $ZELIM"
}

bench_build_failed() {
    tail -n 30 "$BENCH_TMP/build.log" >&2
    bench_die "the build in $BENCH_BUILD failed"
}

bench_build() {
    bench_log "building in $BENCH_BUILD"
    cmake -S "$BENCH_SOURCE_DIR" -B "$BENCH_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DZELIM_TESTS=OFF -DZELIM_BENCH=ON >"$BENCH_TMP/build.log" 2>&1 ||
        bench_build_failed
    cmake --build "$BENCH_BUILD" --target zelim zelim_bench >>"$BENCH_TMP/build.log" 2>&1 ||
        bench_build_failed
}

# The private audio server of BENCH_FLAVOUR: run-all's, or one of our own in the temp dir.
# Its clients' environment comes from DIR/env.
bench_audio_up() {
    local dir=${BENCH_AUDIO_DIR:-}
    if [[ -z $dir ]]; then
        dir=$BENCH_TMP/audio-$BENCH_FLAVOUR
        BENCH_OWN_AUDIO_DIR=$dir
        local flavour=("$BENCH_FLAVOUR")
        [[ $BENCH_FLAVOUR == pulseaudio ]] && flavour=() # the default
        "$BENCH_SOURCE_DIR/tools/audio-test-server" start "$dir" "${flavour[@]}" \
            >"$BENCH_TMP/audio-server.log" 2>&1 ||
            {
                cat "$BENCH_TMP/audio-server.log" >&2
                bench_die "the $BENCH_FLAVOUR audio test server did not start"
            }
    fi
    BENCH_AUDIO=$dir
    unset PULSE_SINK PULSE_SOURCE
    if [[ -f $dir/env ]]; then
        # shellcheck disable=SC1091 # written by tools/audio-test-server
        source "$dir/env"
    elif [[ $BENCH_FLAVOUR == pulseaudio ]]; then
        export PULSE_SERVER=unix:$dir/native PULSE_RUNTIME_PATH=$dir/runtime
    else
        bench_die "the $BENCH_FLAVOUR server in $dir wrote no client environment ($dir/env)"
    fi
    timeout 10 pactl info >/dev/null 2>&1 || bench_die "no audio test server answers in $dir"
    [[ -n $(bench_server_pids) ]] || bench_die "no $BENCH_FLAVOUR process of the server in $dir"
}

# The processes of the private server: those of the flavour's names whose command line or
# environment names its folder (other servers may run beside it).
bench_server_pids() {
    local pid
    for pid in $(pgrep -x 'pulseaudio|pipewire|pipewire-pulse|wireplumber'); do
        if { tr '\0' '\n' <"/proc/$pid/cmdline" && tr '\0' '\n' <"/proc/$pid/environ"; } \
            2>/dev/null | grep -F -- "$BENCH_AUDIO" >/dev/null; then
            echo "$pid"
        fi
    done
}

# What processes have used so far: "CPU-seconds wakeups". CPU is user+system time of all
# their threads; wakeups are the context switches, voluntary and not, of their live threads.
bench_usage() { # pid...
    local pid ticks
    ticks=$(getconf CLK_TCK)
    for pid; do
        # The fields after the command name, which may hold spaces and parentheses.
        sed 's/.*) //' "/proc/$pid/stat" 2>/dev/null | awk '{ print "cpu", $12 + $13 }'
        cat /proc/"$pid"/task/*/status 2>/dev/null |
            awk '/^(non)?voluntary_ctxt_switches:/ { s += $2 } END { print "wakeups", s + 0 }'
    done | awk -v hz="$ticks" '$1 == "cpu" { c += $2 } $1 == "wakeups" { w += $2 }
        END { printf "%.3f %d\n", c / hz, w }'
}

# The main thread's CPU seconds so far.
bench_main_thread_cpu() { # pid
    sed 's/.*) //' "/proc/$1/task/$1/stat" | awk -v hz="$(getconf CLK_TCK)" '{ printf "%.3f\n", ($12 + $13) / hz }'
}

# Per-second rates between two bench_usage samples taken `seconds` apart: "CPU-ms/s wakeups/s".
bench_rates() { # before after seconds
    awk -v b="$1" -v a="$2" -v s="$3" 'BEGIN {
        split(b, x, " "); split(a, y, " ")
        printf "%.2f %.1f\n", 1000 * (y[1] - x[1]) / s, (y[2] - x[2]) / s }'
}

# Our own Xvfb, unless run-all passes its display. Xvfb picks a free display itself
# (-displayfd: no race for a number). Started from this shell, so this shell reaps it.
bench_x_up() {
    if [[ -n ${BENCH_DISPLAY:-} ]]; then
        export DISPLAY=$BENCH_DISPLAY
    else
        : >"$BENCH_TMP/xvfb.display"
        Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset \
            3>"$BENCH_TMP/xvfb.display" </dev/null >"$BENCH_TMP/xvfb.log" 2>&1 &
        bench_register $!
        bench_wait_for 10 test -s "$BENCH_TMP/xvfb.display" || {
            cat "$BENCH_TMP/xvfb.log" >&2
            bench_die "Xvfb did not start"
        }
        local number
        number=$(head -n 1 "$BENCH_TMP/xvfb.display")
        export DISPLAY=:$number
    fi
    bench_wait_for 10 xdotool getdisplaygeometry >/dev/null 2>&1 || bench_die "no X server on $DISPLAY"
}

# GNU time's figures go to a file: "user sys maxrss-kB elapsed voluntary involuntary"
# (the last two: context switches).
BENCH_TIME_FORMAT='%U %S %M %e %w %c'

# A sleep that the exit traps can interrupt (a foreground sleep would hold them back).
bench_sleep() {
    sleep "$1" &
    wait $!
}

# Runs a command under GNU time in the background and waits for it, at most limit seconds;
# the command's output goes to FILE.log. Fails with the command's status.
bench_run_timed() { # file limit command...
    local file=$1 limit=$2 pid status=0
    shift 2
    /usr/bin/time -o "$file" -f "$BENCH_TIME_FORMAT" "$@" </dev/null >"$file.log" 2>&1 &
    pid=$!
    bench_register "$pid"
    if ! bench_wait_exit "$pid" "$limit"; then
        bench_die "$(basename "$1") still ran after ${limit} s"
    fi
    wait "$pid" || status=$?
    return "$status"
}

# The figures from a time file: the last line (a signal notice may precede it).
bench_cpu() { tail -n 1 "$1" | awk '{ printf "%.2f", $1 + $2 }'; }
bench_rss() { tail -n 1 "$1" | awk '{ print $3 }'; }
bench_wall() { tail -n 1 "$1" | awk '{ printf "%.1f", $4 }'; }
bench_wakeups() { tail -n 1 "$1" | awk '{ print $5 + $6 }'; }
bench_median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
bench_ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.3f", a / b; else print "inf" }'; }

# Pink noise into the room sink (the microphone hears it) until bench_noise_stop. Fed as a
# microphone is, in large lumps well ahead: the recorder, not the feeder, sets the pace at
# which the server wakes its clients. (A 20 ms feeder woke every client 265 times a second.)
bench_noise_start() { # seconds
    rm -f "$BENCH_TMP/noise.fifo"
    mkfifo "$BENCH_TMP/noise.fifo"
    sox -q -n -t raw -r 44100 -c 1 -e float -b 32 - synth "$1" pinknoise gain -30 \
        >"$BENCH_TMP/noise.fifo" 2>/dev/null &
    BENCH_NOISE_SOX=$!
    pacat --device=room --format=float32le --rate=44100 --channels=1 --raw --latency-msec=2000 \
        <"$BENCH_TMP/noise.fifo" >/dev/null 2>&1 &
    BENCH_NOISE_PACAT=$!
    bench_register "$BENCH_NOISE_SOX" "$BENCH_NOISE_PACAT"
    bench_wait_for 10 bench_has_stream sink-inputs "$BENCH_NOISE_PACAT" ||
        bench_die "the noise did not reach the room"
}

bench_noise_stop() {
    kill -TERM "$BENCH_NOISE_PACAT" "$BENCH_NOISE_SOX" 2>/dev/null || true
    bench_wait_exit "$BENCH_NOISE_PACAT" 5 || true
}

# True when a process has a stream of the kind (sink-inputs, source-outputs) on the server:
# one of its streams belongs to a client of that process. (PipeWire's ALSA plugin names the
# process on the client only, not on the stream.) Each listing is read whole: grep -q would
# end the pipe early, and pipefail would see pactl die of SIGPIPE on a long one.
bench_has_stream() { # kind pid
    local clients streams id
    clients=$(pactl list clients 2>/dev/null) || return 1
    streams=$(pactl list short "$1" 2>/dev/null) || return 1
    while read -r id; do
        awk -v c="$id" '$3 == c { found = 1 } END { exit !found }' <<<"$streams" && return 0
    done < <(awk -v p="application.process.id = \"$2\"" '
        /^Client #/ { id = substr($2, 2) } index($0, p) { print id }' <<<"$clients")
    return 1
}

# Zelim's window: of the windows named "Zelim" (Qt makes more than one), the 308x196 one.
bench_zelim_window() { # pid
    local id
    for id in $(xdotool search --all --pid "$1" --name '^Zelim$' 2>/dev/null); do
        if xdotool getwindowgeometry --shell "$id" 2>/dev/null | tr '\n' ' ' |
            grep -q 'WIDTH=308 HEIGHT=196'; then
            echo "$id"
            return 0
        fi
    done
    return 1
}

# Starts Zelim under GNU time and waits for its window. Sets ZELIM_TIME_PID, ZELIM_PID and
# ZELIM_WINDOW.
bench_zelim_launch() { # time-file log-file
    /usr/bin/time -o "$1" -f "$BENCH_TIME_FORMAT" "$ZELIM" </dev/null >"$2" 2>&1 &
    ZELIM_TIME_PID=$!
    bench_register "$ZELIM_TIME_PID"
    bench_wait_for 10 pgrep -P "$ZELIM_TIME_PID" >/dev/null || bench_die "Zelim did not start"
    ZELIM_PID=$(pgrep -P "$ZELIM_TIME_PID")
    bench_wait_for 15 bench_zelim_window "$ZELIM_PID" >/dev/null ||
        bench_die "no 308x196 window named Zelim (log: $(tail -n 5 "$2"))"
    ZELIM_WINDOW=$(bench_zelim_window "$ZELIM_PID")
}

# Clicks "Start" and waits until Zelim's input stream is on the server.
bench_zelim_click_start() { # log-file
    xdotool mousemove --window "$ZELIM_WINDOW" 154 98 click 1
    bench_wait_for 15 bench_has_stream source-outputs "$ZELIM_PID" ||
        bench_die "Zelim opened no input stream after the click on Start (log: $(grep -v '^ALSA lib' "$1" | tail -n 5))"
}

bench_zelim_start_listening() { # time-file log-file
    bench_zelim_launch "$1" "$2"
    bench_zelim_click_start "$2"
}

# Ends Zelim with SIGTERM and waits for GNU time to write its figures.
bench_zelim_end() {
    kill -TERM "$ZELIM_PID" 2>/dev/null || true
    if ! bench_wait_exit "$ZELIM_TIME_PID" 10; then
        kill -KILL "$ZELIM_PID" 2>/dev/null || true
        bench_wait_exit "$ZELIM_TIME_PID" 5 || true
    fi
}
