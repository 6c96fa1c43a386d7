#!/usr/bin/env bash
# Builds the Debian packages of a built tree into a folder of their own and checks them: exactly
# three (noggix, libmidigen1, libmidigen-dev), each installing exactly its files (checked after
# dpkg -x into a clean folder), the program's icons and menu entry, the dependencies between the
# packages and on the system, and lintian reporting no error.
# Usage: tests/package/check-deb.sh <build dir> <source dir>
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 <build dir> <source dir>" >&2; exit 2; }
build=$(realpath "$1")
source=$(realpath "$2")
[ -f "$build/CPackConfig.cmake" ] || { echo "package: $build is not a configured build" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "package: FAIL: $*" >&2; failures=$((failures + 1)); }

# cpack installs into its own staging folder below -B, so other tests' files stay untouched.
if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log" >&2
    echo "package: FAIL: cpack -G DEB" >&2
    exit 1
fi
declare -A debs
for deb in "$work"/out/*.deb; do
    debs[$(dpkg-deb -f "$deb" Package)]=$deb
done
[ "$(printf '%s\n' "${!debs[@]}" | sort | tr '\n' ' ')" = "libmidigen-dev libmidigen1 noggix " ] \
    || { echo "package: FAIL: packages ${!debs[*]}" >&2; exit 1; }
version=$(dpkg-deb -f "${debs[noggix]}" Version)
echo "package: built $(cd "$work/out" && ls *.deb | tr '\n' ' ')"

# Each package alone: exactly its files. The library folder is the one libmidigen1 uses.
files() { (cd "$1" && find . -type f -o -type l | sed 's|^\./||' | sort); }
for name in "${!debs[@]}"; do dpkg -x "${debs[$name]}" "$work/$name"; done
lib=$(cd "$work/libmidigen1" && dirname "$(find . -name 'libmidigen.so.1' | sed 's|^\./||')")
doc() { echo "usr/share/doc/$1/copyright usr/share/doc/$1/changelog.gz"; }
icon=org.noggix.Noggix
sizes=(32 48 64 128 256)
expected_noggix="usr/games/noggix usr/bin/midigen usr/share/applications/$icon.desktop
    usr/share/metainfo/$icon.metainfo.xml usr/share/man/man1/midigen.1.gz
    usr/share/man/man6/noggix.6.gz $(doc noggix)"
for size in "${sizes[@]}"; do expected_noggix+=" usr/share/icons/hicolor/${size}x$size/apps/$icon.png"; done
expected_lib="$lib/libmidigen.so.1 $lib/libmidigen.so.$version $(doc libmidigen1)"
headers=$(cd "$source" && for root in midigen midiout; do
    (cd "$root/include" && find "$root" -name '*.h' | sed 's|^|usr/include/|'); done)
expected_dev="$headers $lib/libmidigen.so $lib/pkgconfig/midigen.pc $(doc libmidigen-dev)
    $lib/cmake/MidiGen/MidiGenConfig.cmake $lib/cmake/MidiGen/MidiGenConfigVersion.cmake
    $lib/cmake/MidiGen/MidiGenTargets.cmake $(cd "$work/libmidigen-dev" && find . -name 'MidiGenTargets-*.cmake' | sed 's|^\./||')"
for name in noggix libmidigen1 libmidigen-dev; do
    case $name in
        noggix) expected=$expected_noggix ;;
        libmidigen1) expected=$expected_lib ;;
        libmidigen-dev) expected=$expected_dev ;;
    esac
    wanted=$(echo $expected | tr ' ' '\n' | sort)
    actual=$(files "$work/$name")
    if [ "$actual" != "$wanted" ]; then
        fail "$name installs other files than expected:"
        diff <(echo "$wanted") <(echo "$actual") | sed 's/^/  /' >&2 || true
    fi
done
[ "$(readlink "$work/libmidigen-dev/$lib/libmidigen.so")" = libmidigen.so.1 ] \
    || fail "libmidigen.so does not point to libmidigen.so.1"

# All three unpacked together: the programs' libraries all resolve, the tone generator's from
# libmidigen1.
root=$work/root
for name in "${!debs[@]}"; do dpkg -x "${debs[$name]}" "$root"; done
for bin in usr/games/noggix usr/bin/midigen; do
    if ! LD_LIBRARY_PATH=$root/$lib ldd "$root/$bin" >"$work/ldd" 2>&1; then
        fail "ldd $bin: $(cat "$work/ldd")"
    elif grep -q 'not found' "$work/ldd"; then
        fail "$bin: unresolved libraries: $(grep 'not found' "$work/ldd" | tr -s ' \t' ' ')"
    else
        grep -q "libmidigen.so.1 => $root/$lib/libmidigen.so.1" "$work/ldd" \
            || fail "$bin does not use libmidigen.so.1 of libmidigen1"
    fi
done

# The menu entry: named Noggix, starting the installed program, with the installed icon.
desktop=$root/usr/share/applications/$icon.desktop
field() { sed -n "s/^$1=//p" "$desktop" | head -n 1; }
if [ -f "$desktop" ]; then
    [ "$(field Name)" = Noggix ] || fail ".desktop Name is '$(field Name)'"
    exec=$(field Exec)
    [ -f "$root/usr/games/${exec%% *}" ] || fail ".desktop Exec '$exec' does not start the installed program"
    [ "$(field Icon)" = $icon ] || fail ".desktop Icon '$(field Icon)' is not $icon"
    desktop-file-validate "$desktop" >&2 || fail "desktop-file-validate"
fi
appstreamcli validate --no-net "$root/usr/share/metainfo/$icon.metainfo.xml" >/dev/null \
    || fail "appstreamcli validate of the installed metadata"

# Each icon: a PNG whose width and height match its folder.
for size in "${sizes[@]}"; do
    png=$root/usr/share/icons/hicolor/${size}x$size/apps/$icon.png
    [ -f "$png" ] || continue
    [ "$(head -c 8 "$png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || { fail "$png is not PNG"; continue; }
    dims=$(od -An -tx1 -j16 -N8 "$png" | tr -d ' \n')
    [ "$((16#${dims:0:8}))x$((16#${dims:8:8}))" = "${size}x$size" ] \
        || fail "icon in ${size}x$size is $((16#${dims:0:8}))x$((16#${dims:8:8}))"
done

# Dependencies: one entry per line with its version, blanks squeezed.
depends() {
    dpkg-deb -f "${debs[$1]}" Depends | tr ',' '\n' | sed -e 's/  */ /g' -e 's/^ //' -e 's/ $//'
}
needs() { # PACKAGE ENTRY: ENTRY is one of PACKAGE's dependencies, versions dropped unless given
    local entries
    entries=$(depends "$1")
    [[ "$2" == *"("* ]] || entries=$(sed -e 's/ ([^)]*)//g' <<<"$entries")
    grep -qxF "$2" <<<"$entries" || fail "$1 Depends lacks '$2': $(depends "$1" | tr '\n' ',')"
}
for name in noggix libmidigen1 libmidigen-dev; do echo "package: $name Depends: $(depends $name | tr '\n' ',')"; done
needs noggix "libmidigen1 (= $version)"
needs noggix libqt6widgets6
needs noggix libjpeg62-turbo
needs noggix fonts-liberation
needs libmidigen1 libfluidsynth3
needs libmidigen1 libqt6core6
needs libmidigen1 'fluid-soundfont-gm | timgm6mb-soundfont'
needs libmidigen-dev "libmidigen1 (= $version)"
needs libmidigen-dev qt6-base-dev
# FluidSynth is the library's own business: the program reaches it only through libmidigen1.
! depends noggix | grep -q fluidsynth || fail "noggix depends on FluidSynth itself"

# lintian: no error. Warnings and notes are printed for the record.
lintian --tag-display-limit 0 "${debs[@]}" >"$work/lintian.log" 2>&1 || true
cat "$work/lintian.log"
if grep -q '^E: ' "$work/lintian.log"; then
    fail "lintian reports errors"
fi

if [ "$failures" -ne 0 ]; then
    echo "package: $failures checks failed" >&2
    exit 1
fi
echo "package: three packages, their files, dependencies and lintian as expected"
