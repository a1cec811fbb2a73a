#!/bin/bash
# ctest's emulator for the Windows build's QtTest programs: runs one under Wine on the test
# platform plugin. QtTest's console output does not come back through Wine, so the results
# go to a file that is printed here.
# Usage: wine-qtest.sh <prefix> <DLL folders, colon-separated> <plugin folder> <program> [args]
set -u
. "$(dirname "$0")/wine.sh"
prefix=$1 dlls=$2 plugins=$3
shift 3
wine_prefix "$prefix" || exit 1

path=""
IFS=: read -ra dirs <<<"$dlls"
for dir in "${dirs[@]}"; do path="$path;$(winpath "$dir")"; done
export WINEPATH=${path#;}

results=$(mktemp)
trap 'rm -f "$results"' EXIT
# Wine passes no QT_* variable on to Windows programs, so the platform goes on the command line.
"$WINE" "$@" -platformpluginpath "$(winpath "$plugins")" -platform tesseltest \
    -o "$(winpath "$results"),txt" >/dev/null 2>&1
status=$?
cat "$results"
# A crash can end the program before its summary with any status.
grep -q '^Totals: .* 0 failed' "$results" || [ "$status" -ne 0 ] || status=1
exit "$status"
