#!/usr/bin/env bash
# Builds the Debian packages with scripts/make-packages (a build of their own below the build
# folder, prefix /usr, BUILD_TESTING=OFF) and checks them: exactly four (noggix, midigen,
# libmidigen2, libmidigen-dev), each installing exactly its files (checked after dpkg -x into a
# clean folder), the library in the multiarch folder, the program's icons and menu entry, the
# dependencies between the packages and on the system, the shlibs entry and the maintainer
# scripts, the hardening of every binary, and lintian reporting no error or warning.
# Usage: tests/package/check-deb.sh <build dir> <source dir>
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 <build dir> <source dir>" >&2; exit 2; }
build=$(realpath "$1")
source=$(realpath "$2")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "package: FAIL: $*" >&2; failures=$((failures + 1)); }

package_build=$build/package-build
if ! PACKAGE_BUILD=$package_build "$source/scripts/make-packages" "$work/out" >"$work/make.log" 2>&1; then
    cat "$work/make.log" >&2
    echo "package: FAIL: scripts/make-packages" >&2
    exit 1
fi
# The packages' build looked for no test framework.
for package in GTest benchmark Qt6Test; do
    ! grep -q "^${package}_DIR:" "$package_build/CMakeCache.txt" ||
        fail "the build with BUILD_TESTING=OFF looked for $package"
done
declare -A debs
for deb in "$work"/out/*.deb; do
    debs[$(dpkg-deb -f "$deb" Package)]=$deb
done
[ "$(printf '%s\n' "${!debs[@]}" | sort | tr '\n' ' ')" = "libmidigen-dev libmidigen2 midigen noggix " ] \
    || { echo "package: FAIL: packages ${!debs[*]}" >&2; exit 1; }
version=$(dpkg-deb -f "${debs[noggix]}" Version)
echo "package: built $(cd "$work/out" && ls *.deb | tr '\n' ' ')"

# Each package alone: exactly its files. The library is in the multiarch folder.
files() { (cd "$1" && find . -type f -o -type l | sed 's|^\./||' | sort); }
for name in "${!debs[@]}"; do dpkg -x "${debs[$name]}" "$work/$name"; done
lib=usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)
doc() { echo "usr/share/doc/$1/copyright usr/share/doc/$1/changelog.gz"; }
icon=org.noggix.Noggix
sizes=(32 48 64 128 256)
expected_noggix="usr/games/noggix usr/share/applications/$icon.desktop
    usr/share/metainfo/$icon.metainfo.xml usr/share/man/man6/noggix.6.gz $(doc noggix)"
for size in "${sizes[@]}"; do expected_noggix+=" usr/share/icons/hicolor/${size}x$size/apps/$icon.png"; done
expected_midigen="usr/bin/midigen usr/share/man/man1/midigen.1.gz $(doc midigen)"
expected_lib="$lib/libmidigen.so.2 $lib/libmidigen.so.$version $(doc libmidigen2)
    usr/share/lintian/overrides/libmidigen2"
headers=$(cd "$source" && for root in midigen midiout; do
    (cd "$root/include" && find "$root" -name '*.h' | sed 's|^|usr/include/|'); done)
reference=$(cd "$package_build/doc/api/html" && find . -type f | sed 's|^\./|usr/share/doc/libmidigen-dev/html/|')
expected_dev="$headers $lib/libmidigen.so $lib/pkgconfig/midigen.pc $(doc libmidigen-dev) $reference
    usr/share/doc-base/libmidigen-dev
    $lib/cmake/MidiGen/MidiGenConfig.cmake $lib/cmake/MidiGen/MidiGenConfigVersion.cmake
    $lib/cmake/MidiGen/MidiGenTargets.cmake $(cd "$work/libmidigen-dev" && find . -name 'MidiGenTargets-*.cmake' | sed 's|^\./||')"
for name in noggix midigen libmidigen2 libmidigen-dev; do
    case $name in
        noggix) expected=$expected_noggix ;;
        midigen) expected=$expected_midigen ;;
        libmidigen2) expected=$expected_lib ;;
        libmidigen-dev) expected=$expected_dev ;;
    esac
    wanted=$(echo $expected | tr ' ' '\n' | sort)
    actual=$(files "$work/$name")
    if [ "$actual" != "$wanted" ]; then
        fail "$name installs other files than expected:"
        diff <(echo "$wanted") <(echo "$actual") | sed 's/^/  /' >&2 || true
    fi
    grep -qx 'License: MIT' "$work/$name/usr/share/doc/$name/copyright" ||
        fail "$name's copyright file does not name the MIT licence"
done
[ "$(readlink "$work/libmidigen-dev/$lib/libmidigen.so")" = libmidigen.so.2 ] \
    || fail "libmidigen.so does not point to libmidigen.so.2"
[ "$(readlink "$work/libmidigen-dev/usr/share/doc/libmidigen-dev/html/jquery.js")" = \
    ../../../javascript/jquery/jquery.js ] || fail "the reference does not use Debian's jQuery"
# What a newcomer works from: the class pages, the play-string language and the example programs.
for page in classTMidiGen classTMGCompiledRequest playstring hello-midigen_2main_8cpp-example \
            tune-to-midi_2main_8cpp-example; do
    [ -f "$work/libmidigen-dev/usr/share/doc/libmidigen-dev/html/$page.html" ] ||
        fail "libmidigen-dev's reference has no $page.html"
done

# The library's control files: a shlibs entry for this version or later, a symbols file, dpkg's
# ldconfig trigger, and no maintainer script beside it.
dpkg-deb -e "${debs[libmidigen2]}" "$work/control"
[ "$(cat "$work/control/shlibs")" = "libmidigen 2 libmidigen2 (>= $version)" ] ||
    fail "shlibs is '$(cat "$work/control/shlibs")'"
grep -qx 'activate-noawait ldconfig' "$work/control/triggers" || fail "no ldconfig trigger"
# The symbols file lists exactly what the library exports (scripts/update-abi-baseline renews it).
listed=$(sed -n 's/^ \([^@ ]*\)@Base .*/\1/p' "$work/control/symbols" | sort)
exported=$(nm -D --defined-only "$work/libmidigen2/$lib/libmidigen.so.$version" | awk '{ print $3 }' | sort)
[ -n "$listed" ] && [ "$listed" = "$exported" ] ||
    fail "the symbols file does not list the library's exports: $(diff <(echo "$listed") <(echo "$exported") | grep '^[<>]' | head -n 5 | tr '\n' ' ')"
for script in preinst postinst prerm postrm; do
    [ ! -e "$work/control/$script" ] || fail "libmidigen2 has a $script"
done

# All four unpacked together: the programs' libraries all resolve, the tone generator's from
# libmidigen2; nothing of FluidSynth is linked but by the library, which loads it itself.
root=$work/root
for name in "${!debs[@]}"; do dpkg -x "${debs[$name]}" "$root"; done
for bin in usr/games/noggix usr/bin/midigen; do
    if ! LD_LIBRARY_PATH=$root/$lib ldd "$root/$bin" >"$work/ldd" 2>&1; then
        fail "ldd $bin: $(cat "$work/ldd")"
    elif grep -q 'not found' "$work/ldd"; then
        fail "$bin: unresolved libraries: $(grep 'not found' "$work/ldd" | tr -s ' \t' ' ')"
    else
        grep -q "libmidigen.so.2 => $root/$lib/libmidigen.so.2" "$work/ldd" \
            || fail "$bin does not use libmidigen.so.2 of libmidigen2"
    fi
    ! grep -q fluidsynth <<<"$(readelf -d "$root/$bin")" || fail "$bin links FluidSynth itself"
done
# Hardened: every binary bound at start with read-only relocations and a stack protector; the
# programs' fortified calls show (the library has none left to check, see its lintian override).
for bin in usr/games/noggix usr/bin/midigen "$lib/libmidigen.so.$version"; do
    dynamic=$(readelf -d "$root/$bin")
    segments=$(readelf -l "$root/$bin")
    symbols=$(readelf --dyn-syms --wide "$root/$bin")
    grep -q 'BIND_NOW\|FLAGS.*NOW' <<<"$dynamic" || fail "$bin is not bound at start"
    grep -q GNU_RELRO <<<"$segments" || fail "$bin has no read-only relocations"
    grep -q __stack_chk_fail <<<"$symbols" || fail "$bin has no stack protector"
    # The library is in the system's folder: no run-time path (lintian forbids one).
    ! grep -q 'RPATH\|RUNPATH' <<<"$dynamic" || fail "$bin carries a run-time path"
    if [[ "$bin" != "$lib"/* ]]; then
        grep -v __stack_chk <<<"$symbols" | grep -c '__[a-z_]*_chk' >/dev/null ||
            fail "$bin is not fortified"
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
for name in noggix midigen libmidigen2 libmidigen-dev; do echo "package: $name Depends: $(depends $name | tr '\n' ',')"; done
needs noggix "libmidigen2 (= $version)"
needs noggix libqt6widgets6
needs noggix libjpeg62-turbo
needs noggix fonts-liberation
needs libmidigen2 libfluidsynth3
needs libmidigen2 libqt6core6
needs midigen "libmidigen2 (= $version)"
needs midigen libqt6core6
needs midigen libsndfile1
needs libmidigen2 fluid-soundfont-gm
needs libmidigen2 libpulse0
needs libmidigen-dev "libmidigen2 (= $version)"
needs libmidigen-dev qt6-base-dev
needs libmidigen-dev libjs-jquery
[ "$(dpkg-deb -f "${debs[midigen]}" Section)" = sound ] || fail "midigen is not in section sound"
# FluidSynth is the library's own business: the programs reach it only through libmidigen2.
! depends noggix | grep -q fluidsynth || fail "noggix depends on FluidSynth itself"
! depends midigen | grep -q fluidsynth || fail "midigen depends on FluidSynth itself"

# lintian: no error, no warning and no hardening tag. Everything it says is printed.
lintian --tag-display-limit 0 --display-info "${debs[@]}" >"$work/lintian.log" 2>&1 || true
cat "$work/lintian.log"
if grep -q '^[EW]: ' "$work/lintian.log"; then
    fail "lintian reports errors or warnings"
fi
if grep -q ' hardening-' "$work/lintian.log"; then
    fail "lintian reports binaries that are not hardened"
fi

if [ "$failures" -ne 0 ]; then
    echo "package: $failures checks failed" >&2
    exit 1
fi
echo "package: four packages, their files, dependencies and lintian as expected"
