#!/bin/sh
# Runs a Windows program under Wine: the emulator CMake and CTest put before each Windows test
# program. usage: wine-run.sh PREFIX PROGRAM.exe [ARGUMENTS...]
#
# The Wine prefix (Wine's C: drive and registry) is PREFIX, inside the build folder, made on the
# first run; nothing of the user's ~/.wine is touched. Nothing may wait for a person: no display
# (so no window or dialog can open), no offer to install Mono or Gecko, no debug output.
set -eu
prefix=$1
shift
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
unset DISPLAY WAYLAND_DISPLAY
if [ ! -f "$prefix/system.reg" ]; then
    mkdir -p "$prefix"
    # Two tests starting together make the prefix once.
    flock "$prefix/.made" sh -c '[ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1'
fi
exec wine "$@"
