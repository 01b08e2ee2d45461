#!/usr/bin/env bash
# wine_run.sh DIR PROGRAM [ARGS...]: runs a Windows program in the Wine
# session that wine_session.sh started in DIR; its exit status is the program's.
set -euo pipefail
dir=$1
shift
export WINEPREFIX="$dir/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
DISPLAY=$(cat "$dir/display")
export DISPLAY
exec wine "$@"
