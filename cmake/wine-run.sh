#!/bin/sh
# Runs a Windows program under Wine: the emulator CMake and CTest put before each Windows test
# program. usage: wine-run.sh [--display] PREFIX PROGRAM.exe [ARGUMENTS...]
#
# The Wine prefix (Wine's C: drive and registry) is PREFIX, inside the build folder, made on the
# first run; nothing of the user's ~/.wine is touched. Nothing may wait for a person: no offer to
# install Mono or Gecko, no debug output, and no display, except with --display: a program that
# opens windows gets a virtual X display of its own (Xvfb), never the user's screen.
set -eu
display=no
if [ "$1" = "--display" ]; then
    display=yes
    shift
fi
prefix=$1
shift
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
unset DISPLAY WAYLAND_DISPLAY
if [ ! -f "$prefix/system.reg" ]; then
    mkdir -p "$prefix"
    # Two tests starting together make the prefix once.
    flock "$prefix/.made" sh -c '[ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1'
fi
if [ "$display" = yes ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" wine "$@"
fi
exec wine "$@"
