#!/usr/bin/env bash
# Installs a built tree into a temporary prefix and uses the tone generator from there alone, as
# another program would: the installed headers are exactly the public ones and each compiles on
# its own; the examples are configured with find_package against the prefix (no build tree, no
# package registry) and built, and built once more through pkg-config; both builds of
# hello-midigen play its tune on a private PulseAudio server with a null sink, and both of
# tune-to-midi write the file that the installed midigen export writes. The installed programs
# run from the prefix, and from a copy of it elsewhere, without LD_LIBRARY_PATH.
# Usage: tests/package/check-install.sh <source dir> <build dir>
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 <source dir> <build dir>" >&2; exit 2; }
source=$(realpath "$1")
build=$(realpath "$2")

work=$(mktemp -d)
server=
cleanup() {
    [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "install: FAIL: $*" >&2; failures=$((failures + 1)); }

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log" >&2; exit 1; }
libdir=$(dirname "$(find "$prefix" -name 'libmidigen.so.2' | head -n 1)")
[ -f "$libdir/libmidigen.so.2" ] || { fail "no libmidigen.so.2 installed"; exit 1; }
soname=$(objdump -p "$libdir/libmidigen.so.2" | awk '$1 == "SONAME" { print $2 }')
[ "$soname" = libmidigen.so.2 ] || fail "SONAME is '$soname'"

# Headers: the public include roots of the source, nothing more, each compiling on its own.
for root in midigen midiout; do
    diff <(cd "$source/$root/include/$root" && find . -type f | sort) \
         <(cd "$prefix/include/$root" 2>/dev/null && find . -type f | sort) >&2 \
        || fail "include/$root differs from the public headers of $root/"
done
installed_roots=$(cd "$prefix/include" && ls)
[ "$installed_roots" = "$(printf 'midigen\nmidiout')" ] || fail "include/ holds: $installed_roots"
! grep -rl -i 'fluid' "$prefix/include" >&2 || fail "a public header names FluidSynth"
export PKG_CONFIG_PATH=$libdir/pkgconfig
cflags=$(pkg-config --cflags midigen) || fail "pkg-config --cflags midigen"
for header in $(cd "$prefix/include" && find . -name '*.h' | sed 's|^\./||' | sort); do
    echo "#include <$header>" >"$work/one.cpp"
    g++ -std=c++20 -fPIC -fsyntax-only $cflags "$work/one.cpp" 2>"$work/one.log" \
        || { cat "$work/one.log" >&2; fail "<$header> does not compile on its own"; }
done

# The examples, copied out of the source tree so that nothing of the tree can be found, each
# built with find_package into EXAMPLE-build/ and with pkg-config into EXAMPLE-pkg-config.
for example in hello-midigen tune-to-midi; do
    cp -r "$source/examples/$example" "$work/$example"
    if cmake -S "$work/$example" -B "$work/$example-build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
            -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF \
            >"$work/configure.log" 2>&1 &&
        cmake --build "$work/$example-build" >"$work/build.log" 2>&1; then
        found=$(sed -n 's/^MidiGen_DIR:PATH=//p' "$work/$example-build/CMakeCache.txt")
        [[ "$found" == "$prefix"/* ]] || fail "find_package found MidiGen in '$found'"
        ! grep -l -e "$source" -e "$build" -r "$work/$example-build" --include='*.ninja' >&2 \
            || fail "the build of $example refers to the source or build tree"
    else
        cat "$work/configure.log" "$work/build.log" >&2 2>/dev/null
        fail "$example does not configure and build against the prefix"
    fi
    g++ -std=c++20 -fPIC -o "$work/$example-pkg-config" "$work/$example/main.cpp" \
        $(pkg-config --cflags --libs midigen) -Wl,-rpath,"$libdir" 2>"$work/pc.log" \
        || { cat "$work/pc.log" >&2; fail "$example does not build with pkg-config"; }
done

# The compile step and the file export of a program of ours: the file is the installed tool's.
tune="I94,G3,100;I31,50;G4,B,G,G3,D4"
"$prefix/bin/midigen" export string "$tune" "$work/tool.mid" --set Duration=400 ||
    fail "the installed midigen export failed"
# And a render through libsndfile, read back by sox.
"$prefix/bin/midigen" render string "$tune" "$work/tune.flac" --set Duration=400 ||
    fail "the installed midigen render failed"
[ "$(soxi -t "$work/tune.flac" 2>/dev/null)" = flac ] || fail "the installed midigen wrote no FLAC"
for program in "$work/tune-to-midi-build/tune-to-midi" "$work/tune-to-midi-pkg-config"; do
    [ -x "$program" ] || continue
    rm -f "$work/tune.mid"
    "$program" "$tune" "$work/tune.mid" >"$work/run.log" 2>&1 ||
        { cat "$work/run.log" >&2; fail "$(basename "$program") failed"; }
    cmp -s "$work/tune.mid" "$work/tool.mid" ||
        fail "$(basename "$program") wrote another file than midigen export"
    grep -q '^ *750 off ' "$work/run.log" || fail "$(basename "$program") printed no event list"
done

# A private sound server with a null sink stands in for the sound card.
export HOME=$work/home XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
pulseaudio -n --daemonize=no --exit-idle-time=-1 --load=module-null-sink \
    --load="module-native-protocol-unix auth-anonymous=1" >"$work/pulse.log" 2>&1 &
server=$!
for _ in $(seq 100); do [ -S "$XDG_RUNTIME_DIR/pulse/native" ] && break; sleep 0.05; done
[ -S "$XDG_RUNTIME_DIR/pulse/native" ] || { cat "$work/pulse.log" >&2; fail "no sound server"; }

for program in "$work/hello-midigen-build/hello-midigen" "$work/hello-midigen-pkg-config"; do
    [ -x "$program" ] || continue
    library=$(ldd "$program" | awk '$1 == "libmidigen.so.2" { print $3 }')
    [ "$library" -ef "$libdir/libmidigen.so.2" ] || fail "$(basename "$program") loads '$library'"
    start=$(date +%s%N)
    if timeout 20 "$program" >"$work/run.log" 2>&1; then
        ms=$((($(date +%s%N) - start) / 1000000))
        echo "install: $(basename "$program") played its tune in $ms ms"
        # The tune lasts 1.2 s: an example that quits sooner did not wait for its end.
        [ "$ms" -ge 1200 ] || fail "$(basename "$program") ended after $ms ms"
    else
        cat "$work/run.log" >&2
        fail "$(basename "$program") failed"
    fi
done

# The installed programs run from the prefix as they are, without LD_LIBRARY_PATH: each finds the
# library through a run-time path relative to itself, also once the prefix has moved.
for program in bin/midigen games/noggix; do
    runpath=$(readelf -d "$prefix/$program" | sed -n 's/.*(\(RUNPATH\|RPATH\)).*\[\(.*\)\]/\2/p')
    [ "$runpath" = "\$ORIGIN/../$(realpath --relative-to="$prefix" "$libdir")" ] ||
        fail "$program has the run-time path '$runpath'"
done
cp -a "$prefix" "$work/moved"
for root in "$prefix" "$work/moved"; do
    "$root/bin/midigen" --version >"$work/run.log" 2>&1 ||
        { cat "$work/run.log" >&2; fail "$root/bin/midigen does not start"; }
    # The game has no option that ends it: running after 3 s, it has found its libraries.
    status=0
    QT_QPA_PLATFORM=offscreen timeout 3 "$root/games/noggix" >"$work/run.log" 2>&1 || status=$?
    [ "$status" -eq 124 ] || { cat "$work/run.log" >&2; fail "$root/games/noggix ended with $status"; }
done
rm -rf "$work/moved"

if [ "$failures" -ne 0 ]; then
    echo "install: $failures checks failed" >&2
    exit 1
fi
echo "install: library, headers, CMake package and pkg-config file work from $prefix alone"
