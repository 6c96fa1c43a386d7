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
    exec timeout -k 5 240 xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96 -nolisten tcp -noreset" \
        "$0" --inside "$bin"
fi

bin=$2
work=$(mktemp -d)
# A browser that only notes that it was asked to open something.
mkdir "$work/bin"
printf '#!/bin/sh\necho "$*" >>"%s/browser"\n' "$work" >"$work/bin/xdg-open"
chmod +x "$work/bin/xdg-open"
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
    env -u XDG_CONFIG_HOME -u XDG_DATA_HOME -u XDG_CACHE_HOME -u XDG_CURRENT_DESKTOP \
        HOME="$home" XDG_RUNTIME_DIR="$work/$case/runtime" QT_QPA_PLATFORM=xcb \
        PATH="$work/bin:$PATH" \
        "$bin" >"$work/$case/log" 2>&1 &
    pid=$!
    pids+=("$pid")
}

# The id of the visible window whose title is exactly $1, waiting up to 30 s for it (a
# sanitizer's build beside another test starts slowly). Asks again until the 30 s have passed or
# the program has ended, and keeps the last search's own message for the failure.
window() {
    local id= errors=$work/xdotool-errors deadline=$((SECONDS + 30))
    while [ "$SECONDS" -lt "$deadline" ]; do
        id=$(xdotool search --onlyvisible --name "^$1\$" 2>"$errors" | head -n 1) || true
        [ -n "$id" ] && break
        kill -0 "$pid" 2>/dev/null || fail "$case: the program ended before \"$1\" showed"
        sleep 0.1
    done
    [ -n "$id" ] || fail "$case: no window \"$1\" within 30 s$(sed 's/^/; xdotool: /' "$errors")"
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
# "I'm ready!" and "Cancel" in the bottom bar of "Get ready!", which starts at y 177.
click_ready() { click "$1" $((456 + 37)) $((177 + 8 + 12)); }
click_cancel() { click "$1" $((584 + 37)) $((177 + 8 + 12)); }
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

# Waits up to 5 s for the backup file at $1 to reach its full size.
wait_file() {
    local i
    for i in $(seq 100); do
        [ "$(stat -c %s "$1" 2>/dev/null || echo 0)" -ge 150001 ] && return 0
        sleep 0.05
    done
    fail "$case: no complete file at $1"
}

# Presses each key of $@ and checks that the program still runs, shows no window but its main
# window and asked no browser for anything.
keys_do_nothing() {
    local key shown
    for key in "$@"; do
        xdotool key "$key"
        sleep 0.5
        kill -0 "$pid" 2>/dev/null || fail "$case: $key ended the program"
        shown=$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | grep -vx "$main" || true)
        [ -z "$shown" ] || fail "$case: $key opened a window"
        [ ! -e "$work/browser" ] || fail "$case: $key opened the home page"
    done
}

# Clicks "Noggix now!" and confirms "Get ready!", by Return (key) or by clicking "I'm ready!"
# (click), and waits until the dialog has gone.
confirm_run() {
    local dialog
    click_backup
    dialog=$(window 'Get ready!')
    if [ "$1" = key ]; then xdotool key Return; else click_ready "$dialog"; fi
    gone "$dialog" 'Get ready!'
}

# Checks that "Noggix now!" has the focus: Space opens "Get ready!", which "Cancel" closes.
space_opens_dialog() {
    local dialog
    xdotool key space
    dialog=$(window 'Get ready!')
    click_cancel "$dialog"
    gone "$dialog" 'Get ready!'
}

# One item left checked: the run completes within the click and leaves the file.
start one-item
main=$(window 'Noggix 1.0')
for i in $(seq 2 17); do toggle_box "$i"; done
confirm_run key
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
confirm_run key
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
confirm_run key
kill -0 "$pid" 2>/dev/null || fail "$case: ended before Exit"
click_exit
ended_ok 3
[ -z "$(ls -A "$home/Documents")" ] || fail "$case: a file was written"
echo "e2e: Exit during a run: ended with status 0 within 3 s, no file"
# The keyboard after a one-item run started with the mouse: Space and Enter neither end the
# program nor open anything else; the focus is back on "Noggix now!", also after "Cancel".
start focus-after-run
main=$(window 'Noggix 1.0')
for i in $(seq 2 17); do toggle_box "$i"; done
confirm_run click
wait_file "$home/Documents/$backup"
keys_do_nothing Return KP_Enter
space_opens_dialog
keys_do_nothing Return
space_opens_dialog
click_exit
ended_ok 3
echo "e2e: after a run and after Cancel: Enter did nothing, Space reopened Get ready!"

# The keyboard during a run over the seventeen default items: nothing takes "Noggix now!"'s focus.
start focus-during-run
main=$(window 'Noggix 1.0')
confirm_run click
keys_do_nothing space Return space
# The keys did reach the window: Tab moves the focus on to "Home Page", and Space presses it.
xdotool key Tab space
for i in $(seq 60); do [ -e "$work/browser" ] && break; sleep 0.05; done
[ -e "$work/browser" ] || fail "$case: Tab and Space did not open the home page"
rm "$work/browser"
click_exit
ended_ok 3
echo "e2e: during a run: Space and Enter did nothing; Tab led to Home Page"

# The keyboard after a failed write: the failure report goes with Enter, then the focus is back.
start focus-after-failure
main=$(window 'Noggix 1.0')
for i in $(seq 2 17); do toggle_box "$i"; done
click "$main" $((297 + 200)) 26
xdotool key ctrl+a type "$home/missing/x.brains"
confirm_run click
report=$(window 'Noggix')
xdotool key Return
gone "$report" 'Noggix'
keys_do_nothing Return
space_opens_dialog
[ ! -e "$home/missing" ] || fail "$case: the missing folder was made"
click_exit
ended_ok 3
echo "e2e: after a failed write: Enter did nothing, Space reopened Get ready!"
echo "e2e: every case passed"
