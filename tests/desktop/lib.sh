# Shared by the desktop tests: a private Xvfb, the installed program and its window.
# Set $build (the build folder) and $close_window (the close helper) before sourcing.
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

# In the sanitizer builds the program gets the same third-party suppressions as the tests.
tests=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export TSAN_OPTIONS="suppressions=$tests/tsan.supp ${TSAN_OPTIONS:-}"
export LSAN_OPTIONS="suppressions=$tests/lsan.supp ${LSAN_OPTIONS:-}"
cmake --install "$build" --prefix "$work/prefix" >/dev/null

# Xvfb picks a free display itself and writes its number once it accepts clients.
mkfifo "$work/displayfd"
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/displayfd" >"$work/xvfb.log" 2>&1 &
pids+=($!)
display=
read -r -t 20 display <"$work/displayfd" || true
[ -n "$display" ] || fail "Xvfb did not start: $(tail -n 5 "$work/xvfb.log")"
export DISPLAY=:$display

# Starts the installed program and waits for its main window (the one of 308 by 196; Qt
# keeps helper windows of the same name). Sets $zelim and $window.
start_zelim() {
    QT_QPA_PLATFORM=xcb "$work/prefix/bin/zelim" >"$work/stdout" 2>"$work/stderr" &
    zelim=$!
    pids+=("$zelim")
    window=
    local w
    for _ in $(seq 100); do
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
    for _ in $(seq 100); do kill -0 "$zelim" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$zelim" 2>/dev/null && fail "Zelim did not exit after its window closed"
    local status=0
    wait "$zelim" || status=$?
    [ "$status" -eq 0 ] || fail "exit status $status"
    if grep -q 'unhandled' "$work/stderr"; then fail "an exception was reported"; fi
}
