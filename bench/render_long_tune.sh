#!/usr/bin/env bash
# midigen render of a 45-minute tune against FluidSynth's file renderer (fluidsynth -F) on the
# same tune, the tool's own Standard MIDI File export of it, with the same SoundFont and rate.
# Each run is a fresh process timed from outside by GNU time: wall-clock seconds and the
# kernel's peak resident memory of the process (ru_maxrss). The two take turns.
# Usage: bench/render_long_tune.sh MIDIGEN [RUNS]   (default 3 runs each)
# The tool renders the tune twice in each turn, into WAV and into FLAC.
# Prints "key value" lines: render-s, render-mb, render-flac-s, render-flac-mb, fluidsynth-s,
# fluidsynth-mb (medians), the ranges (render-s-min, render-s-max, render-flac-s-min,
# render-flac-s-max, fluidsynth-s-min, fluidsynth-s-max), the sizes of the files in bytes
# (render-bytes, render-flac-bytes, fluidsynth-bytes), tune-minutes and runs.
set -euo pipefail
midigen=$1
runs=${2:-3}
soundfont=/usr/share/sounds/sf2/default-GM.sf2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# 2,700 notes a second apart, 0.9 s each, climbing through three octaves: 5,416 stream events,
# within the stream's limit of 5,461.
awk 'BEGIN {
    n = split("C D E F G A B", names, " ")
    printf "C4;90"
    for (i = 1; i < 2700; ++i)
        printf ",%s%s%d", (i == 1 ? "100;" : ""), names[i % n + 1], 3 + int(i / n) % 3
    printf "\n"
}' >"$work/tune.txt"
"$midigen" export string - "$work/tune.mid" <"$work/tune.txt"

# Runs the command after "--" with GNU time; appends seconds and peak kilobytes to files $1, $2.
timed() {
    local seconds=$1 kilobytes=$2
    shift 3
    /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>"$work/err" \
        || { echo "render_long_tune: $1 failed: $(tail -n 1 "$work/err")" >&2; exit 1; }
    awk '{ print $1 }' "$work/time" >>"$seconds"
    awk '{ print $2 }' "$work/time" >>"$kilobytes"
}
for _ in $(seq "$runs"); do
    timed "$work/render-s" "$work/render-kb" -- "$midigen" render string - "$work/ours.wav" <"$work/tune.txt"
    timed "$work/flac-s" "$work/flac-kb" -- "$midigen" render string - "$work/ours.flac" <"$work/tune.txt"
    timed "$work/fluid-s" "$work/fluid-kb" -- fluidsynth -n -i -q -r 44100 -F "$work/theirs.wav" "$soundfont" "$work/tune.mid"
done

median() { sort -g "$1" | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
mb() { median "$1" | awk '{ printf "%.1f\n", $1 / 1024 }'; }
echo "render-s $(median "$work/render-s")"
echo "render-s-min $(sort -g "$work/render-s" | head -n 1)"
echo "render-s-max $(sort -g "$work/render-s" | tail -n 1)"
echo "render-mb $(mb "$work/render-kb")"
echo "render-flac-s $(median "$work/flac-s")"
echo "render-flac-s-min $(sort -g "$work/flac-s" | head -n 1)"
echo "render-flac-s-max $(sort -g "$work/flac-s" | tail -n 1)"
echo "render-flac-mb $(mb "$work/flac-kb")"
echo "fluidsynth-s $(median "$work/fluid-s")"
echo "fluidsynth-s-min $(sort -g "$work/fluid-s" | head -n 1)"
echo "fluidsynth-s-max $(sort -g "$work/fluid-s" | tail -n 1)"
echo "fluidsynth-mb $(mb "$work/fluid-kb")"
echo "render-bytes $(stat -c %s "$work/ours.wav")"
echo "render-flac-bytes $(stat -c %s "$work/ours.flac")"
echo "fluidsynth-bytes $(stat -c %s "$work/theirs.wav")"
echo "tune-minutes $(awk -v b="$(stat -c %s "$work/ours.wav")" 'BEGIN { printf "%.1f", (b - 44) / 4 / 44100 / 60 }')"
echo "runs $runs"
