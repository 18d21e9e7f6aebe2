#!/usr/bin/env bash
# kv-updater's instance numbering with real processes on an X server (run
# through run_under_xvfb.sh, which gives a private runtime directory): 21
# copies released at the same moment race for the numbers; 20 of them open
# dialogs titled 1..20, one each, and the last shows the refusal box and,
# once it is dismissed, ends with status 0 having shown no dialog. Numbers of
# killed copies are free again, the lowest first.
set -euo pipefail
program=$1
export KV_MIDI=sim

fail() { echo "FAIL: $*" >&2; exit 1; }

# The lock files live in the runtime directory: a shared one would let the
# user's own copies take numbers from the test.
[[ -n "${XDG_RUNTIME_DIR:-}" && -d "$XDG_RUNTIME_DIR" &&
   "$(stat -c %a "$XDG_RUNTIME_DIR")" == 700 && -z "$(ls -A "$XDG_RUNTIME_DIR")" ]] ||
  fail "needs an empty private XDG_RUNTIME_DIR (run through run_under_xvfb.sh)"

title='TARVO KV-12 v2.00 Updater'
caption='kv-updater'
refusal='It is forbidden to launch more than 20 instance of this application.'
copies=20

work=$(mktemp -d)
pids=()
cleanup() {
  local p
  for p in "${pids[@]}"; do kill -KILL "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  exec 3>&- 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The title copy n shows.
title_of() { if (($1 == 1)); then echo "$title"; else echo "$title ($1)"; fi; }

# Visible windows whose name matches the extended regex $1 (case blind), one
# id a line; none is not an error.
windows_matching() { xdotool search --onlyvisible --name "$1" 2>/dev/null || true; }
dialog_windows() { windows_matching '^TARVO KV-12 v2\.00 Updater( \([0-9]+\))?$'; }
refusal_windows() { windows_matching "^$caption\$"; }

# Fails when one of our copies ended before it was meant to (those in
# $ended were).
ended=" "
all_alive() {
  local p s
  for p in "${pids[@]}"; do
    [[ "$ended" == *" $p "* ]] && continue
    kill -0 "$p" 2>/dev/null || { wait "$p" && s=0 || s=$?; fail "process $p (a copy, or the X client we hold) ended early with status $s"; }
  done
}

# Waits (up to 120 s: 21 Qt programs starting on a busy machine) until
# exactly $1 dialogs and $2 refusal boxes are up. Too many for 10 s fails at
# once (windows of killed copies take only a moment to go).
await_windows() {
  local i d r over=0
  for i in $(seq 480); do
    all_alive
    d=$(dialog_windows | wc -l)
    r=$(refusal_windows | wc -l)
    ((d == $1 && r == $2)) && return 0
    if ((d > $1 || r > $2)); then
      ((++over < 40)) || break
    else
      over=0
    fi
    sleep 0.25
  done
  fail "$d dialogs and $r refusal boxes, expected $1 and $2; titles:$(
    for i in $(dialog_windows) $(refusal_windows); do printf '\n  %s' "$(xdotool getwindowname "$i")"; done)"
}

# Fills the map number -> process from the dialogs' exact titles, after
# checking they are the titles of 1..20 (but the numbers given) once each,
# each from its own copy.
declare -A pid_of
map_dialogs() {
  local id name pid n names=() expected=() owners=() free=" $* "
  pid_of=()
  for id in $(dialog_windows); do
    name=$(xdotool getwindowname "$id")
    pid=$(xdotool getwindowpid "$id")
    names+=("$name")
    owners+=("$pid")
    for n in $(seq $copies); do
      [[ "$name" == "$(title_of "$n")" ]] && pid_of[$n]=$pid
    done
  done
  for n in $(seq $copies); do
    [[ "$free" == *" $n "* ]] || expected+=("$(title_of "$n")")
  done
  [[ "$(printf '%s\n' "${names[@]}" | sort)" == "$(printf '%s\n' "${expected[@]}" | sort)" ]] ||
    fail "dialog titles are:$(printf '\n  %s' "${names[@]}")"
  (($(printf '%s\n' "${owners[@]}" | sort -u | wc -l) == ${#names[@]})) || fail "a copy shows more than one dialog"
}

# Waits up to 20 s for the X input focus to be on window $1.
focus_on() {
  local i
  for i in $(seq 400); do
    [[ "$(xdotool getwindowfocus 2>/dev/null)" == "$1" ]] && return 0
    sleep 0.05
  done
  return 1
}

# Waits up to 30 s for process $1 to end; fails unless it ended with status 0.
expect_exit() {
  local i s
  for i in $(seq 600); do
    kill -0 "$1" 2>/dev/null || break
    sleep 0.05
  done
  kill -0 "$1" 2>/dev/null && fail "copy $1 still runs"
  ended+="$1 "
  wait "$1" && s=0 || s=$?
  ((s == 0)) || fail "copy $1 ended with status $s"
}

# Starts one more copy and checks it takes number $1; the numbers after it
# are those still free afterwards.
expect_next_number() {
  local n=$1 pid
  shift
  "$program" & pids+=($!); pid=$!
  await_windows $((copies - $#)) 0
  map_dialogs "$@"
  [[ "${pid_of[$n]:-}" == "$pid" ]] || fail "the new copy did not take the lowest free number $n"
}

# The X server resets when its last client leaves, and a reset drops the
# connections waiting to be accepted: with 21 copies connecting at once, one
# short-lived connection closing first would make others fail to open the
# display. A client of ours stays connected throughout: xclip, in the
# foreground, owning the secondary selection.
printf held | xclip -quiet -selection secondary -i >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 400); do
  [[ "$(xclip -selection secondary -o 2>/dev/null)" == held ]] && break
  sleep 0.05
done
[[ "$(xclip -selection secondary -o 2>/dev/null)" == held ]] || fail "no lasting X client"

# All 21 copies wait at a gate (a FIFO the script holds open, so opening it
# never blocks) and go through together once each has said it is ready.
mkfifo "$work/gate"
exec 3<>"$work/gate"
for _ in $(seq $((copies + 1))); do
  (
    exec 3>&-
    echo >>"$work/ready"
    read -r _ <"$work/gate"
    exec "$program"
  ) &
  pids+=($!)
done
for _ in $(seq 400); do
  (($(wc -l <"$work/ready" 2>/dev/null || echo 0) == copies + 1)) && break
  sleep 0.05
done
printf 'go\n%.0s' $(seq $((copies + 1))) >&3

await_windows $copies 1
map_dialogs

# The refusal box: from the one copy without a dialog, with the warning's
# exact text (its label is selectable: a triple click puts the text in the
# primary selection, which that copy serves while it runs).
box=$(refusal_windows)
refused=$(xdotool getwindowpid "$box")
[[ " ${pids[*]} " == *" $refused "* ]] || fail "the refusal box belongs to no copy of ours ($refused)"
[[ " ${pid_of[*]} " != *" $refused "* ]] || fail "the refused copy also shows a dialog"
xdotool windowraise "$box"
eval "$(xdotool getwindowgeometry --shell "$box")"
xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 4)) click --repeat 3 --delay 80 1
shown=
for _ in $(seq 40); do
  shown=$(timeout 10 xclip -selection primary -o 2>/dev/null || true)
  [[ "$shown" == "$refusal" ]] && break
  sleep 0.25
done
[[ "$shown" == "$refusal" ]] || fail "the refusal box reads '$shown'"
kill -0 "$refused" 2>/dev/null || fail "the refused copy ended before its box was dismissed"

# Return dismisses the box, and the copy ends with status 0 and no dialog.
xdotool windowfocus --sync "$box"
focus_on "$box" || fail "the refusal box did not take the focus"
sleep 0.2  # Qt activates the window on the focus event
xdotool key --clearmodifiers Return
expect_exit "$refused"
await_windows $copies 0
map_dialogs

# Copies that die without closing anything free their numbers; a new copy
# takes the lowest free one, the next copy the other.
for n in 13 7; do
  kill -KILL "${pid_of[$n]}"
  ended+="${pid_of[$n]} "
  wait "${pid_of[$n]}" 2>/dev/null || true
done
await_windows $((copies - 2)) 0
map_dialogs 7 13
expect_next_number 7 13
expect_next_number 13
echo "kv-updater: 21 copies at once took 1..20 and one refusal; killed copies' numbers taken again, lowest first"
