#!/usr/bin/env bash
# Runs a command on an X server of its own: Xvfb picks a free display and
# reports its number, the command runs with DISPLAY set to it and the xcb
# platform, and the server stops afterwards. The command also gets a private
# runtime directory, so the instance numbering of the programs it starts
# meets no other copy.
set -euo pipefail

work=$(mktemp -d)
chmod 700 "$work"
xvfb_pid=
cleanup() {
  if [[ -n "$xvfb_pid" ]]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# -noreset: a server reset when the last client leaves drops connections
# still waiting to be accepted, which many programs starting at once hit.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 200); do
  [[ -s "$work/display" ]] && break
  sleep 0.05
done
display=$(head -n 1 "$work/display" 2>/dev/null || true)
if [[ -z "$display" ]]; then
  echo "Xvfb did not start:" >&2
  cat "$work/xvfb.log" >&2
  exit 1
fi

mkdir -p "$work/runtime"
chmod 700 "$work/runtime"
export DISPLAY=":$display" QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work/runtime"
"$@"
