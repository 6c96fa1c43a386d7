#!/usr/bin/env bash
# Builds the play-string fuzz target with clang (in BUILD/fuzz-build) and runs it for SECONDS
# seconds (default 30) over a copy of the committed seed corpus. Fails on any finding.
# Usage: run-fuzz.sh BUILD [SECONDS]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=$(realpath -m "${1:?usage: run-fuzz.sh BUILD [SECONDS]}/fuzz-build")
seconds=${2:-30}

if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$here/project" -B "$build" -G Ninja \
        -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$build.configure.log" 2>&1 ||
        { cat "$build.configure.log"; exit 1; }
fi
cmake --build "$build" --target fuzz_playstring -- -j2

# The fuzzer adds what it finds to its corpus directory; work on a copy so the repository is
# left as it is.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$here/corpus" "$work/corpus"
cd "$work"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
status=0
"$build/bin/fuzz_playstring" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
    -print_final_stats=1 "$work/corpus" >"$work/log" 2>&1 || status=$?
grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units|stat::average_exec_per_sec|stat::peak_rss_mb)' "$work/log" || true
if [ "$status" -ne 0 ]; then
    tail -n 60 "$work/log"
    echo "fuzz.playstring: the fuzzer failed with exit status $status" >&2
    exit 1
fi
echo "fuzz.playstring: nothing found in ${seconds} s"
