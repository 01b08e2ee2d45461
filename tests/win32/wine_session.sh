#!/usr/bin/env bash
# wine_session.sh start|stop DIR
# start: a private Xvfb and a fresh Wine prefix in DIR, with a persistent
# wineserver so each later program starts in well under a second.
# stop: ends both and removes the prefix. wine_run.sh runs programs in the session.
set -euo pipefail
command=$1
dir=$2
export WINEPREFIX="$dir/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

stop() {
  if [[ -d $WINEPREFIX ]]; then
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true  # it writes the registry as it goes
  fi
  if [[ -f $dir/keeper.pid ]]; then
    kill -- "-$(cat "$dir/keeper.pid")" 2>/dev/null || true
    rm -f "$dir/keeper.pid"
  fi
  if [[ -f $dir/xvfb.pid ]]; then
    kill "$(cat "$dir/xvfb.pid")" 2>/dev/null || true
    rm -f "$dir/xvfb.pid" "$dir/display"
  fi
}

case $command in
  start)
    stop
    mkdir -p "$dir"
    rm -rf "$WINEPREFIX"
    # Nothing left running may hold on to CTest's output pipes.
    : >"$dir/display.fd"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$dir/display.fd" \
      </dev/null >"$dir/xvfb.log" 2>&1 &
    echo $! >"$dir/xvfb.pid"
    for _ in $(seq 100); do
      [[ -s $dir/display.fd ]] && break
      sleep 0.1
    done
    [[ -s $dir/display.fd ]] || { echo "Xvfb did not start:"; cat "$dir/xvfb.log"; exit 1; }
    echo ":$(tr -d '\n' <"$dir/display.fd")" >"$dir/display"
    export DISPLAY
    DISPLAY=$(cat "$dir/display")
    mkdir -p "$WINEPREFIX"
    wineserver -p </dev/null >/dev/null 2>&1
    wineboot -i </dev/null >"$dir/wineboot.log" 2>&1
    # Wine ends its desktop and services soon after the last program exits,
    # and starting them again takes ~10 s: a program that only waits for
    # input keeps them up between the tests.
    setsid bash -c 'sleep infinity | wine cmd /c "set /p x="' </dev/null >/dev/null 2>&1 &
    echo $! >"$dir/keeper.pid"
    # The first window starts the desktop; have that done before the tests.
    wine rundll32.exe user32.dll,GetDesktopWindow </dev/null >>"$dir/wineboot.log" 2>&1 || true
    echo "Wine session on display $DISPLAY, prefix $WINEPREFIX"
    ;;
  stop)
    stop
    rm -rf "$WINEPREFIX"  # some 700 MB; the next run makes a fresh one
    ;;
  *)
    echo "usage: $0 start|stop DIR" >&2
    exit 2
    ;;
esac
