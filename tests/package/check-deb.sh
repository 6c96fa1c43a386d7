#!/usr/bin/env bash
# Builds the Debian package of a built tree into a folder of its own, unpacks it into a clean
# folder with dpkg -x and checks what it would install: the program and nothing else of ours
# and its midigen tool, its icons, menu entry, AppStream metadata and manual pages, and the
# declared runtime dependencies.
# Usage: tests/package/check-deb.sh <build dir>
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 <build dir>" >&2; exit 2; }
build=$(realpath "$1")
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
debs=("$work"/out/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "package: FAIL: not one .deb in ${debs[*]}" >&2; exit 1; }
deb=${debs[0]}
echo "package: built $(basename "$deb")"

root=$work/root
dpkg -x "$deb" "$root"

# Exactly these files, nothing more.
icon=org.noggix.Noggix
expected=(usr/bin/noggix usr/bin/midigen usr/share/applications/$icon.desktop
          usr/share/metainfo/$icon.metainfo.xml usr/share/man/man1/midigen.1.gz
          usr/share/man/man6/noggix.6.gz)
sizes=(32 48 64 128 256)
for size in "${sizes[@]}"; do expected+=("usr/share/icons/hicolor/${size}x$size/apps/$icon.png"); done
actual=$(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | sort)
wanted=$(printf '%s\n' "${expected[@]}" | sort)
if [ "$actual" != "$wanted" ]; then
    fail "installed files differ from the expected ones:"
    diff <(echo "$wanted") <(echo "$actual") | sed 's/^/  /' >&2 || true
fi

# The program: an executable ELF file whose libraries all resolve.
bin=$root/usr/bin/noggix
if [ -f "$bin" ]; then
    [ -x "$bin" ] || fail "usr/bin/noggix is not executable"
    [ "$(head -c 4 "$bin" | od -An -tx1 | tr -d ' \n')" = 7f454c46 ] || fail "usr/bin/noggix is not ELF"
    # e_type at offset 16: 2 (executable) or 3 (position-independent executable).
    type=$(od -An -tu2 -j16 -N2 "$bin" | tr -d ' ')
    [ "$type" = 2 ] || [ "$type" = 3 ] || fail "usr/bin/noggix has ELF type $type"
    if ! ldd "$bin" >"$work/ldd" 2>&1; then
        fail "ldd usr/bin/noggix: $(cat "$work/ldd")"
    elif grep -q 'not found' "$work/ldd"; then
        fail "unresolved libraries: $(grep 'not found' "$work/ldd" | tr -s ' \t' ' ')"
    fi
fi

# The menu entry: named Noggix, starting the installed program, with the installed icon.
desktop=$root/usr/share/applications/$icon.desktop
field() { sed -n "s/^$1=//p" "$desktop" | head -n 1; }
if [ -f "$desktop" ]; then
    [ "$(sed -n 1p "$desktop")" = '[Desktop Entry]' ] || fail ".desktop does not start with [Desktop Entry]"
    [ "$(field Type)" = Application ] || fail ".desktop Type is '$(field Type)'"
    [ "$(field Name)" = Noggix ] || fail ".desktop Name is '$(field Name)'"
    exec=$(field Exec)
    exec=${exec%% *}
    [ -f "$root/usr/bin/${exec##*/}" ] && { [ "$exec" = "${exec##*/}" ] || [ "$exec" = /usr/bin/noggix ]; } \
        || fail ".desktop Exec '$(field Exec)' does not start the installed program"
    [ "$(field Icon)" = $icon ] || fail ".desktop Icon '$(field Icon)' is not $icon"
    if command -v desktop-file-validate >/dev/null; then
        desktop-file-validate "$desktop" >&2 || fail "desktop-file-validate"
    fi
fi

# Each icon: a PNG whose width and height match its folder.
for size in "${sizes[@]}"; do
    png=$root/usr/share/icons/hicolor/${size}x$size/apps/$icon.png
    [ -f "$png" ] || continue
    [ "$(head -c 8 "$png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || { fail "$png is not PNG"; continue; }
    dims=$(od -An -tx1 -j16 -N8 "$png" | tr -d ' \n')
    [ "$((16#${dims:0:8}))x$((16#${dims:8:8}))" = "${size}x$size" ] \
        || fail "icon in ${size}x$size is $((16#${dims:0:8}))x$((16#${dims:8:8}))"
done

# Control data: the package and its runtime dependencies.
dpkg-deb -I "$deb" >"$work/info"
[ "$(dpkg-deb -f "$deb" Package)" = noggix ] || fail "package name is '$(dpkg-deb -f "$deb" Package)'"
depends=$(dpkg-deb -f "$deb" Depends)
echo "package: Depends: $depends"
# One dependency entry per line, versions dropped: "a (>= 1) | b" becomes "a | b".
entries=$(echo "$depends" | tr ',' '\n' | sed -e 's/([^)]*)//g' -e 's/  */ /g' -e 's/^ //' -e 's/ $//')
for need in libqt6widgets6 libfluidsynth3 libjpeg62-turbo 'fluid-soundfont-gm | timgm6mb-soundfont' \
    fonts-liberation; do
    grep -qxF "$need" <<<"$entries" || fail "Depends lacks '$need'"
done

if [ "$failures" -ne 0 ]; then
    echo "package: $failures checks failed" >&2
    exit 1
fi
echo "package: $(echo "$actual" | wc -l) files, program, menu entry, icons and dependencies as expected"
