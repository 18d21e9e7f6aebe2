#!/usr/bin/env bash
# kv-updater itself on an X server (run through run_under_xvfb.sh), driven
# with xdotool as an operator would: two copies get titles 1 and (2), Enter
# starts a run on the simulated pedal, Escape ends a copy at once (during a
# run too) with exit status 0, and a freed number is taken again.
# A screenshot of both windows goes to KV_SCREENSHOT_DIR.
set -euo pipefail
program=$1
shots=${KV_SCREENSHOT_DIR:-.}
mkdir -p "$shots"
export KV_MIDI=sim

title='TARVO KV-12 v2\.00 Updater'
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

# Waits until the X input focus is on window $1 (up to 10 s).
focus_on() {
  local i
  for i in $(seq 200); do
    [[ "$(xdotool getwindowfocus 2>/dev/null)" == "$1" ]] && return 0
    sleep 0.05
  done
  return 1
}

# Waits for the window whose whole name matches $1, and for the copy to have
# taken the focus on showing it (with no window manager, Qt does that itself
# a moment later, and a key sent meanwhile could land in the wrong copy);
# prints its id.
window_named() {
  local id
  id=$(timeout 20 xdotool search --sync --onlyvisible --name "^$1\$" | head -n 1) || return 1
  [[ -n "$id" ]] || return 1
  focus_on "$id" || true
  echo "$id"
}

# Waits up to 10 s for process $1 to end; fails unless it ended with status 0.
expect_exit() {
  local pid=$1 i
  for i in $(seq 200); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  kill -0 "$pid" 2>/dev/null && fail "copy $pid still runs after its window closed"
  wait "$pid" || fail "copy $pid ended with status $?"
}

press() {  # window key
  xdotool windowfocus --sync "$1"
  focus_on "$1" || fail "window $1 did not take the focus"
  sleep 0.2  # Qt activates the window on the focus event
  xdotool key --clearmodifiers "$2"
}

"$program" & pids+=($!); first=$!
w1=$(window_named "$title") || fail "no window titled like the first copy"
"$program" & pids+=($!); second=$!
w2=$(window_named "$title \\(2\\)") || fail "no window titled like the second copy"
xdotool windowmove "$w1" 40 40
xdotool windowmove "$w2" 520 300

# The first copy preselects the simulated pedal's ports; Enter runs the
# update, which takes seconds (1,908 acknowledged chunks after a 500 ms
# pause), so a second later it is under way.
press "$w1" Return
sleep 1
import -window root "$shots/kv-updater-program.png"

press "$w2" Escape
expect_exit "$second"

# Number 2 is free again: the next copy takes it.
"$program" & pids+=($!); third=$!
w3=$(window_named "$title \\(2\\)") || fail "the freed number 2 was not taken again"
press "$w3" Escape
expect_exit "$third"

# Escape during (or, on a slow machine, after) the run ends the first copy
# just as promptly: the worker is never waited for beyond its next wait.
press "$w1" Escape
expect_exit "$first"
echo "kv-updater: titles, instance numbers, Enter and Escape as expected"
