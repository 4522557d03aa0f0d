#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# Runs one command on a private X server (Xvfb) with the openbox window
# manager, for the desktop tests that need a real window manager: one that
# maps windows on its own time and decides which window gets the focus.
#   run-under-wm.sh WORKDIR COMMAND [ARGS...]
# The server takes a free display number (-displayfd); openbox's files go to
# WORKDIR. Both are stopped when the command ends, however it ends; the
# server is a child of this script, so a test driver that ends the script's
# process tree ends it too, and a watchdog ends both if only the script is
# killed.
set -uo pipefail

work="$1"
shift
rm -rf "$work"
mkdir -p "$work/home" "$work/runtime"
chmod 700 "$work/runtime"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/config" XDG_CACHE_HOME="$work/home/cache"
export XDG_RUNTIME_DIR="$work/runtime"

xvfb_pid="" wm_pid=""
stop() {
  [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null && wait "$wm_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  wm_pid="" xvfb_pid=""
}
trap stop EXIT
trap 'exit 130' INT TERM HUP

# The server writes its display number to the pipe once it accepts clients.
exec {fd}<> <(:)
Xvfb -displayfd "$fd" -screen 0 1280x1024x24 -nolisten tcp -noreset \
  >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
display=""
if ! read -r -t 60 -u "$fd" display || [ -z "$display" ]; then
  echo "run-under-wm: Xvfb did not start" >&2
  cat "$work/xvfb.log" >&2
  exit 1
fi
exec {fd}<&-
export DISPLAY=":$display"

openbox --sm-disable >"$work/openbox.log" 2>&1 &
wm_pid=$!
# The window manager is up once it has claimed the screen: the root window
# then names its check window.
for _ in $(seq 600); do
  if xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; then
    break
  fi
  if ! kill -0 "$wm_pid" 2>/dev/null; then
    echo "run-under-wm: openbox ended" >&2
    cat "$work/openbox.log" >&2
    exit 1
  fi
  sleep 0.1
done
if ! xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; then
  echo "run-under-wm: openbox did not take the screen" >&2
  exit 1
fi

# A watchdog ends both should this script itself be killed outright (a
# test driver's timeout, kill -9), when no trap runs.
script_pid=$$
(
  trap '' INT TERM HUP
  while kill -0 "$script_pid" 2>/dev/null; do sleep 1; done
  kill "$wm_pid" "$xvfb_pid" 2>/dev/null
) </dev/null >/dev/null 2>&1 &

export QT_QPA_PLATFORM=xcb
"$@"
