# shellcheck shell=bash
# Shared by the desktop tests: a private Xvfb, the installed program and its window.
# Set $build (the build folder) and $close_window (the close helper) before sourcing.
: "${build:?set by the test}" "${close_window:?set by the test}"
work=$(mktemp -d)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "$(basename "$0"): $*" >&2
    [ -f "$work/stderr" ] && sed 's/^/zelim stderr: /' "$work/stderr" >&2
    exit 1
}

# Under the sanitizers everything comes later, far later on a busy machine, so a bound on how
# late something may come is widened by the build's factor (ZELIM_TEST_TIME_SCALE, 1 when
# unset). Bounds on how early, on amounts and on how long a state is watched are not scaled.
time_scale=${ZELIM_TEST_TIME_SCALE:-1}
if ! [[ $time_scale =~ ^[0-9]+([.][0-9]+)?$ ]] ||
    ! awk -v f="$time_scale" 'BEGIN { exit !(f >= 1) }'; then
    fail "ZELIM_TEST_TIME_SCALE is not a number of at least 1: '$time_scale'"
fi
# $1 (seconds, or a count of tries) scaled; scaled_int rounds it up, for $SECONDS and seq.
scaled() { awk -v v="$1" -v f="$time_scale" 'BEGIN { printf "%g", v * f }'; }
scaled_int() {
    awk -v v="$1" -v f="$time_scale" 'BEGIN { s = v * f; printf "%d", s == int(s) ? s : int(s) + 1 }'
}

# In the sanitizer builds the program gets the same third-party suppressions as the tests.
tests=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export TSAN_OPTIONS="suppressions=$tests/tsan.supp ${TSAN_OPTIONS:-}"
# The count of suppressed third-party leaks is not the program speaking.
export LSAN_OPTIONS="suppressions=$tests/lsan.supp print_suppressions=0 ${LSAN_OPTIONS:-}"
cmake --install "$build" --prefix "$work/prefix" >/dev/null
# As on a desktop session: Qt complains on stderr without it.
export XDG_RUNTIME_DIR=$work/xdg
mkdir -m 700 "$XDG_RUNTIME_DIR"

# Xvfb picks a free display itself and writes its number once it accepts clients.
mkfifo "$work/displayfd"
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/displayfd" >"$work/xvfb.log" 2>&1 &
pids+=($!)
display=
read -r -t 20 display <"$work/displayfd" || true
[ -n "$display" ] || fail "Xvfb did not start: $(tail -n 5 "$work/xvfb.log")"
export DISPLAY=:$display

# Replaces the installed tracks by tones of `seconds`, so that a run can wait for a track's end.
use_fixture_tracks() {
    local seconds=$1 name
    for name in Local_Forecast_Elevator Elevator_Bossa_Nova; do
        sox -D -R -n -r 44100 -c 2 -C 128 "$work/prefix/Resources/$name.mp3" \
            synth "$seconds" sine 440 gain -12
    done
}

# Mean absolute level (0..1) of what reaches the speakers during `secs` seconds.
speakers_level() {
    # A small latency: PipeWire's default fragment outlasts the recording.
    parec --device=speakers.monitor --format=s16le --channels=1 --rate=44100 --raw \
        --latency-msec=20 >"$work/speakers.raw" 2>/dev/null &
    local rec=$!
    sleep "$1"
    kill "$rec" 2>/dev/null || true
    wait "$rec" 2>/dev/null || true
    sox -t raw -r 44100 -e signed -b 16 -c 1 "$work/speakers.raw" -n stat 2>&1 |
        awk '/Mean    norm/ {print $3}'
}
loud() { awk -v v="$1" 'BEGIN { exit !(v > 0.01) }'; }

# Clicks "Start" and waits, in a silent room, until music is heard; fails after 12 s (scaled).
# Sets $heard to the seconds it took.
start_and_wait_for_music() {
    sleep 1 # a click on a window that has only just appeared can be lost
    click_button
    local started=$SECONDS level bound
    bound=$(scaled_int 12)
    while ((SECONDS - started < bound)); do
        level=$(speakers_level 0.5)
        if loud "$level"; then
            heard=$((SECONDS - started)) # read by the caller
            export heard
            return 0
        fi
    done
    fail "no music on the speakers within $bound s of Start"
}

# Starts the installed program and waits for its main window (the one of 308 by 196; Qt
# keeps helper windows of the same name). Sets $zelim and $window.
start_zelim() {
    # A background job of a script ignores SIGINT; a program started from a terminal does not.
    QT_QPA_PLATFORM=xcb env --default-signal=INT "$work/prefix/bin/zelim" >"$work/stdout" \
        2>"$work/stderr" &
    zelim=$!
    pids+=("$zelim")
    window=
    local w
    for _ in $(seq "$(scaled_int 100)"); do
        for w in $(xdotool search --name '^Zelim$' 2>/dev/null); do
            xwininfo -id "$w" 2>/dev/null | grep -q 'Width: 308' && window=$w
        done
        [ -n "$window" ] && return 0
        sleep 0.1
    done
    fail "no Zelim window appeared"
}

click_button() { xdotool mousemove --window "$window" 154 98 click 1; }

# Closes the window as its close button would and expects a clean exit.
close_and_expect_success() {
    "$close_window" "$window" || fail "could not ask the window to close"
    for _ in $(seq "$(scaled_int 100)"); do kill -0 "$zelim" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$zelim" 2>/dev/null && fail "Zelim did not exit after its window closed"
    local status=0
    wait "$zelim" || status=$?
    [ "$status" -eq 0 ] || fail "exit status $status"
    if grep -q 'unhandled' "$work/stderr"; then fail "an exception was reported"; fi
}
