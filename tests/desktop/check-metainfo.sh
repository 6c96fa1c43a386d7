#!/usr/bin/env bash
# Checks the desktop's metadata of the program: the AppStream file and the menu entry validate,
# the AppStream file names the menu entry, and its newest release is the project's version.
# Usage: check-metainfo.sh METAINFO DESKTOP VERSION
set -euo pipefail
[ $# -eq 3 ] || { echo "usage: $0 METAINFO DESKTOP VERSION" >&2; exit 2; }
metainfo=$1 desktop=$2 version=$3
failures=0
fail() { echo "metainfo: FAIL: $*" >&2; failures=$((failures + 1)); }

appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate --no-net $metainfo"
desktop-file-validate "$desktop" || fail "desktop-file-validate $desktop"

launchable=$(sed -n 's|.*<launchable type="desktop-id">\(.*\)</launchable>.*|\1|p' "$metainfo")
[ "$launchable" = "$(basename "$desktop")" ] || fail "launchable '$launchable' is not $(basename "$desktop")"
newest=$(sed -n 's|.*<release version="\([^"]*\)".*|\1|p' "$metainfo" | head -n 1)
[ "$newest" = "$version" ] || fail "newest release '$newest' is not the project's version $version"

[ $failures -eq 0 ] && echo "metainfo: ok (release $newest)"
exit $((failures > 0))
