#!/usr/bin/env bash
# End-to-end test of the real program on a real X server (Xvfb), driven from outside as a user
# drives it: mouse clicks and key presses through xdotool. Every case starts a fresh process
# with a home folder of its own and looks only at what a user sees: windows and files.
# Usage: tests/e2e/run-e2e.sh <path to noggix>
set -euo pipefail

if [ "${1:-}" != --inside ]; then
    [ $# -eq 1 ] || { echo "usage: $0 <path to noggix>" >&2; exit 2; }
    bin=$(realpath "$1")
    [ -x "$bin" ] || { echo "e2e: no program at $bin" >&2; exit 2; }
    # timeout signals its whole process group, so the X server goes too if anything hangs.
    exec timeout -k 5 50 xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96 -nolisten tcp" \
        "$0" --inside "$bin"
fi

bin=$2
work=$(mktemp -d)
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do kill -KILL "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "e2e: FAIL: $*" >&2
    [ -f "$work/$case/log" ] && sed 's/^/  noggix: /' "$work/$case/log" >&2
    exit 1
}

# Starts the program for case $1 with a home of its own holding an empty Documents folder;
# sets pid and home.
start() {
    case=$1
    home=$work/$case/home
    mkdir -p "$home/Documents" "$work/$case/runtime"
    chmod 700 "$work/$case/runtime"
    env -u XDG_CONFIG_HOME -u XDG_DATA_HOME -u XDG_CACHE_HOME HOME="$home" \
        XDG_RUNTIME_DIR="$work/$case/runtime" QT_QPA_PLATFORM=xcb \
        "$bin" >"$work/$case/log" 2>&1 &
    pid=$!
    pids+=("$pid")
}

# The id of the visible window whose title is exactly $1, waiting up to 10 s for it.
window() {
    local id
    id=$(timeout 10 xdotool search --sync --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1) \
        || true
    [ -n "$id" ] || fail "$case: no window \"$1\" within 10 s"
    echo "$id"
}

viewable() { xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable'; }

# Waits up to 5 s for window $1 (named $2 in messages) to be hidden or destroyed.
gone() {
    local i
    for i in $(seq 100); do
        viewable "$1" || return 0
        sleep 0.05
    done
    fail "$case: \"$2\" still shown after 5 s"
}

click() { xdotool mousemove --window "$1" "$2" "$3" click 1; }

# Positions in the main window: the bottom bar starts at y 441; the option boxes stand in
# gbxOptions at (297, 49), each 17 pixels high.
click_backup() { click "$main" $((488 + 85)) $((441 + 8 + 12)); }
click_exit() { click "$main" $((704 + 37)) $((441 + 8 + 12)); }
box_left=(0 8 8 8 8 8 8 240 240 240 240 240 240 8 8 8 8 240 240)
box_top=(0 16 40 64 96 120 144 96 120 144 16 40 168 208 232 256 280 208 232)
toggle_box() { click "$main" $((297 + box_left[$1] + 7)) $((49 + box_top[$1] + 8)); }

# Waits up to $1 seconds for the program to end; fails unless it ended with status 0.
ended_ok() {
    local i status=0
    for i in $(seq $(($1 * 20))); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.05
    done
    kill -0 "$pid" 2>/dev/null && fail "$case: still running $1 s after Exit"
    wait "$pid" || status=$?
    [ "$status" -eq 0 ] || fail "$case: ended with status $status"
}

backup=mybrain.brains

# One item left checked: the run completes within the click and leaves the file.
start one-item
main=$(window 'Noggix 1.0')
for i in $(seq 2 17); do toggle_box "$i"; done
click_backup
dialog=$(window 'Get ready!')
xdotool key Return
gone "$dialog" 'Get ready!'
file=$home/Documents/$backup
for i in $(seq 100); do
    [ "$(stat -c %s "$file" 2>/dev/null || echo 0)" -ge 150001 ] && break
    sleep 0.05
done
[ -f "$file" ] || fail "$case: no file at $file"
[ "$(stat -c %s "$file")" -eq 150001 ] || fail "$case: $(stat -c %s "$file") bytes, not 150001"
[ "$(tr -d A <"$file" | wc -c)" -eq 0 ] || fail "$case: bytes other than 0x41 in the file"
click_exit
ended_ok 3
echo "e2e: one item: 150001 bytes of 0x41 at the default path"

# Every item unchecked: the message comes instead of a run and a key dismisses it.
start no-item
main=$(window 'Noggix 1.0')
for i in $(seq 1 17); do toggle_box "$i"; done
click_backup
dialog=$(window 'Get ready!')
xdotool key Return
gone "$dialog" 'Get ready!'
message=$(window 'Noggix')
xdotool key Return
gone "$message" 'Noggix'
[ -z "$(ls -A "$home/Documents")" ] || fail "$case: a file was written"
click_exit
ended_ok 3
echo "e2e: no item: the message appeared and Return dismissed it"

# Exit during a run over the seventeen default items: the program ends at once, no file.
start exit-during-run
main=$(window 'Noggix 1.0')
click_backup
dialog=$(window 'Get ready!')
xdotool key Return
gone "$dialog" 'Get ready!'
kill -0 "$pid" 2>/dev/null || fail "$case: ended before Exit"
click_exit
ended_ok 3
[ -z "$(ls -A "$home/Documents")" ] || fail "$case: a file was written"
echo "e2e: Exit during a run: ended with status 0 within 3 s, no file"
echo "e2e: every case passed"
