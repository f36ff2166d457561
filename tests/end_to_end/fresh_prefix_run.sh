#!/bin/sh
# fresh_prefix_run.sh PREFIX PROGRAM [ARGS...]
# Runs a Windows test program in a Wine prefix made for it alone, as a new
# machine is: no service installed, no settings, no printer lists. The
# prefix is removed afterwards, whatever the program did. Its own
# wineserver keeps the program's SCM, registry and named objects apart from
# every other test's.
set -eu
prefix=$1
shift
root=$(cd "$(dirname "$0")/../.." && pwd)
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
rm -rf "$prefix"
trap '"$root/scripts/wine-prefix" stop "$prefix"; rm -rf "$prefix"' EXIT
"$root/scripts/wine-prefix" start "$prefix"
WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" "$wine" "$@"
