#!/usr/bin/env bash
# Compares the ABI of a shared library with its baseline kept in the tree (abidw's XML, made by
# scripts/update-abi-baseline). Fails on an incompatible change; reports a compatible one (an
# addition) and passes. Changes of private types (tests/abi/private-types.suppr) are not
# reported. The library must carry debug information: abidiff reads the types there.
# Usage: check-abi.sh LIBRARY BASELINE SUPPRESSIONS
set -uo pipefail
library=$1
baseline=$2
suppressions=$3

report=$(abidiff --suppressions "$suppressions" "$baseline" "$library" 2>&1)
status=$?
[ -n "$report" ] && printf '%s\n' "$report"
# abidiff's status is a bit set: 1 error, 2 usage error, 4 a change, 8 an incompatible change.
if (( status & 3 )); then
    echo "abi: abidiff failed (status $status)" >&2
    exit 1
fi
# An incompatible change (8), or a change (4) to a function or variable that was there: only
# additions keep every program built against the baseline working.
changed=$(printf '%s\n' "$report" |
    sed -n 's/^\(Functions\|Variables\) changes summary: \([0-9]*\) Removed, \([0-9]*\) Changed.*/\2 \3/p' |
    awk '{ n += $1 + $2 } END { print n + 0 }')
if (( status & 8 )) || (( status & 4 && changed > 0 )); then
    echo "abi: $library breaks the ABI of $baseline: restore compatibility, or change the SONAME" \
         "and the version and renew the baseline with scripts/update-abi-baseline" >&2
    exit 1
fi
if (( status & 4 )); then
    echo "abi: compatible additions to the baseline; renew it with scripts/update-abi-baseline" \
         "when they are released"
else
    echo "abi: $library has the ABI of the baseline"
fi
