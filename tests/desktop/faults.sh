# shellcheck shell=bash disable=SC2154  # $tests, $work, $window come from lib.sh; $flavour, $build from the caller
# Shared by the fault tests, sourced after lib.sh: a private sound server of one flavour that
# the test may kill, stall or strip of its devices without disturbing other tests; short
# fixture tracks in the installed bundle; a noise source for the room; clicks whose answer is
# seen in the window's pixels; the speakers' level; the program's memory.
# Set $flavour and $caption_helper (the caption-width helper) before sourcing.

server_tool=$(cd "$tests/.." && pwd)/tools/audio-test-server
server_dir=$work/server
server() {
    timeout 60 "$server_tool" "$1" "$server_dir" "${@:2}" >"$work/server.out" 2>&1 || {
        cat "$work/server.out" >&2
        fail "audio-test-server $* failed: $(grep '^audio-test-server' "$work/server.out" | tail -n 3)"
    }
    # A player that reconnected by itself to a server still starting, or whose room went
    # away, may be playing into the speakers: the noise starts again once the room is back.
    case $1 in
    restart | add-source)
        if [ -n "$noise_player" ]; then
            noise_off
            noise_on
        fi
        ;;
    esac
}
noise_player="" recorder=""
fault_cleanup() {
    noise_off
    [ -n "$recorder" ] && stop_recording
    timeout 60 "$server_tool" stop "$server_dir" >/dev/null 2>&1 || true
    cleanup
}
trap fault_cleanup EXIT
trap 'fail "interrupted"' TERM INT

server start "$flavour"
# shellcheck disable=SC1091
. "$server_dir/env"
# Qt wants a runtime folder, as every desktop session has one.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    export XDG_RUNTIME_DIR=$work/xdg
    mkdir -m 700 "$XDG_RUNTIME_DIR"
fi

# Tracks of a few seconds instead of a minute: a track must end within the test, and a
# window closed while one plays waits for its end.
track_seconds=${track_seconds:-5}
for track in Local_Forecast_Elevator:440 Elevator_Bossa_Nova:523; do
    sox -n -r 44100 -c 2 "$work/prefix/Resources/${track%:*}.mp3" \
        synth "$track_seconds" sine "${track#*:}" sine 660 vol 0.4 2>/dev/null ||
        fail "could not make the fixture track ${track%:*}"
done

# Noise into the room, the way a busy room sounds to the microphone. The player comes back
# by itself when the server does; when the room goes away the server moves it elsewhere,
# so it is started afresh once the room is back.
noise_on() {
    [ -n "$noise_player" ] && return 0
    [ -f "$work/noise.wav" ] ||
        sox -R -n -r 44100 -c 2 "$work/noise.wav" synth 10 whitenoise vol 0.3 2>/dev/null
    (while :; do paplay --device=room "$work/noise.wav" 2>/dev/null || sleep 0.2; done) &
    noise_player=$!
    await_noise
}
# Waits until the room really holds the noise: a player that reconnects to a restarted server
# takes seconds to sound again.
await_noise() {
    local level
    for _ in $(seq 20); do
        level=$(timeout 3 parec --device=room.monitor --format=s16le --channels=1 --rate=44100 \
            --raw --latency-msec=50 2>/dev/null | head -c 44100 |
            sox -t raw -r 44100 -e signed -b 16 -c 1 - -n stat 2>&1 |
            awk '/Mean    norm/ {print $3}' || true)
        loud "$level" && return 0
        sleep 0.2
    done
    fail "the noise did not reach the room"
}
# The server or the source is back. Until the microphone is reopened (the platform has 3 s)
# reads fail and count as silence, as they did while it was gone: a track that this silence
# started is let end before a noisy room is asked to keep Zelim silent.
after_recovery() {
    await_noise
    sleep 3.5
    expect_quiet_speakers $((track_seconds + 5)) "$1: a track started while the microphone was gone"
}
noise_off() {
    [ -z "$noise_player" ] && return 0
    # Held first, so that it starts no new player between the look-up and the kill.
    kill -STOP "$noise_player" 2>/dev/null || true
    local players
    mapfile -t players < <(pgrep -P "$noise_player" || true)
    kill "$noise_player" "${players[@]}" 2>/dev/null || true
    kill -CONT "$noise_player" 2>/dev/null || true
    wait "$noise_player" 2>/dev/null || true
    noise_player=
}

# What reaches the speakers, recorded into $work/speakers.raw (16-bit mono at 44.1 kHz) from
# now on. A short latency: the recorder writes its frames as they come, not in seconds-long
# fragments.
record_speakers() {
    : >"$work/speakers.raw"
    parec --device=speakers.monitor --format=s16le --channels=1 --rate=44100 --raw \
        --latency-msec=50 >"$work/speakers.raw" 2>/dev/null &
    recorder=$!
}
stop_recording() {
    kill "$recorder" 2>/dev/null || true
    wait "$recorder" 2>/dev/null || true
}
recorded_seconds() { echo $(($(stat -c %s "$work/speakers.raw") / 88200)); }
# Mean absolute level (0..1) of the last $1 seconds recorded (all of it for no $1).
recorded_level() {
    local bytes=${1:+$(($1 * 88200))}
    tail -c "${bytes:-+1}" "$work/speakers.raw" |
        sox -t raw -r 44100 -e signed -b 16 -c 1 - -n stat 2>&1 |
        awk '/Mean    norm/ {print $3}'
}
loud() { awk -v v="${1:-0}" 'BEGIN { exit !(v > 0.01) }'; }

# The noisy room keeps Zelim silent for $1 seconds ($2 says when, for the message).
expect_no_music() {
    record_speakers
    sleep "$1"
    stop_recording
    local level
    level=$(recorded_level)
    (($(recorded_seconds) >= $1 / 2)) || fail "$2: the speakers could not be recorded"
    if loud "$level"; then fail "$2: music in a noisy room within $1 s (level $level)"; fi
}
# The room falls silent and a track is heard within $1 seconds (scaled).
expect_music() {
    noise_off
    record_speakers
    local started=$SECONDS level bound
    bound=$(scaled_int "$1")
    while ((SECONDS - started < bound)); do
        sleep 0.5
        level=$(recorded_level 1)
        if loud "$level"; then
            stop_recording
            echo "$(basename "$0"): $2: music after about $((SECONDS - started)) s of silence"
            return 0
        fi
    done
    stop_recording
    fail "$2: no music within $bound s of silence"
}
# Waits until the speakers have been quiet for a second (a track ended), up to $1 seconds
# (scaled).
expect_quiet_speakers() {
    record_speakers
    local started=$SECONDS bound
    bound=$(scaled_int "$1")
    while ((SECONDS - started < bound)); do
        if (($(recorded_seconds) >= 1)) && ! loud "$(recorded_level 1)"; then
            stop_recording
            return 0
        fi
        sleep 0.5
    done
    stop_recording
    fail "$2: the speakers still sound after $bound s"
}

# The button's caption as the window shows it: the width of its text, read from the pixels
# inside the button's frame, where hover, press and focus change only the shading. Each
# click must be answered within answer_limit seconds (a second, scaled); $1 of the callers
# says when, for the message.
answer_limit=$(scaled 1.0) slowest_answer=0 late_answers=()
caption_area=104,80,100,36
declare -A caption_width
caption=Start
click() { xdotool mousemove --window "$window" 154 98 click 1 mousemove --window "$window" 8 8; }
since() { awk -v a="$1" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.2f", b - a }'; }
late() { awk -v t="$1" -v l="$answer_limit" 'BEGIN { exit !(t > l) }'; }
shown_width() { "$caption_helper" "$window" "$caption_area" || fail "the window cannot be read"; }
# Keeps what the window shows for the one who reads the failure; prints where.
keep_picture() {
    local kept
    kept=$build/fault-pictures/$(basename "$0")-$flavour-$$.ppm
    mkdir -p "${kept%/*}"
    "$caption_helper" "$window" "$caption_area" "$kept" && echo "$kept"
}
# "Start" is on the button from the beginning; "Stop" is what the first click puts there.
learn_captions() {
    caption_width[Start]=$(shown_width)
    ((caption_width[Start] > 0)) || fail "no caption on the button ($(keep_picture))"
    local before=$EPOCHREALTIME now
    click
    for _ in $(seq "$(scaled_int 500)"); do
        now=$(shown_width)
        ((now - caption_width[Start] > 2 || caption_width[Start] - now > 2)) && break
        sleep 0.02
    done
    local took
    took=$(since "$before")
    ((now - caption_width[Start] > 2 || caption_width[Start] - now > 2)) ||
        fail "$1: a click on \"Start\" was not answered within $(scaled 10) s ($(keep_picture))"
    note_answer "$took" "$1"
    caption_width[Stop]=$now
    caption=Stop
    click_answered "$1"
}
# A real click, answered when the window shows the other caption.
click_answered() {
    local want=Stop
    [ "$caption" = Stop ] && want=Start
    local before=$EPOCHREALTIME shown
    click
    if ! shown=$("$caption_helper" "$window" "$caption_area" "${caption_width[$want]}" \
        "$(scaled_int 5000)"); then
        if ((shown - caption_width[$caption] <= 1 && caption_width[$caption] - shown <= 1)); then
            shown="still \"$caption\""
        else
            shown="a caption $shown pixels wide ($(keep_picture))"
        fi
        fail "$1: a click on \"$caption\" was not answered within $(scaled 5) s: the window shows $shown"
    fi
    note_answer "$(since "$before")" "$1"
    caption=$want
}
# A late answer is told at once and fails the test at its end, so that one slow click does not
# hide what the faults after it do; a click not answered at all ends the test at once.
note_answer() { # the seconds a click took, when
    if late "$1"; then
        late_answers+=("$2: a click on \"$caption\" was answered after $1 s")
        echo "$(basename "$0"): late: ${late_answers[-1]}"
    fi
    slowest_answer=$(awk -v a="$1" -v b="$slowest_answer" 'BEGIN { print (a > b ? a : b) }')
}
# Clicks twice (back to the same state), each answered, every $2 seconds for $1 seconds.
keep_clicking() {
    local until=$((SECONDS + $1))
    while ((SECONDS < until)); do
        click_answered "$3"
        click_answered "$3"
        sleep "$2"
    done
}

rss_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$zelim/status"; }
# The sanitizers' allocators keep freed memory (ASan's quarantine holds up to 256 MB), so
# under them only a runaway growth shows; the plain build holds the real bound.
memory_limit_mb=5
grep -q '^ZELIM_[AT]SAN:BOOL=ON' "$build/CMakeCache.txt" && memory_limit_mb=300
# Memory grew by less than the bound between $1 and $2 kB ($3 says over what).
expect_flat_memory() {
    echo "$(basename "$0"): memory over $3: $1 kB -> $2 kB (bound $memory_limit_mb MB)"
    (($2 - $1 < memory_limit_mb * 1024)) ||
        fail "memory grew by $((($2 - $1) / 1024)) MB over $3"
}

# The checks left for the end: every click answered in time, and every line on stderr one of
# Zelim's own, in a user's words.
final_checks() {
    echo "$(basename "$0"): the slowest click was answered in $slowest_answer s (bound $answer_limit s)"
    ((${#late_answers[@]} == 0)) ||
        fail "${#late_answers[@]} clicks answered late; the first: ${late_answers[0]}"
    local foreign
    foreign=$(grep -v '^zelim: ' "$work/stderr" || true)
    [ -z "$foreign" ] || fail "stderr holds lines that are not Zelim's own: $(head -n 3 <<<"$foreign")"
    sed "s/^/$(basename "$0"): stderr said: /" "$work/stderr"
}
