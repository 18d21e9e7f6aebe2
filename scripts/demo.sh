#!/usr/bin/env bash
# The main job: installs what the build needs, builds kv-update and runs one
# full firmware update against the simulated pedal built into it. The last
# line is the simulator's check of its flash against the four images.
# Extra arguments go to kv-update (for example --sim-chunk-status 5:8:3).
# With a display and no arguments it opens the updater dialog (kv-updater)
# on the simulated pedal instead, ports preselected, ready for Execute.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

dialog=0
target=kv-update
if [[ $# -eq 0 && ( -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ) ]]; then
  dialog=1
  target=kv-updater
fi

log=build/demo-build.log
mkdir -p build
if ! { cmake --preset default -G Ninja && cmake --build --preset default --target "${target}" -j "$(nproc)"; } >"${log}" 2>&1; then
  cat "${log}" >&2
  echo "demo: the build failed (log above, also in ${log})" >&2
  exit 1
fi

if ((dialog)); then
  KV_MIDI=sim exec build/default/ui/qt/kv-updater
fi
exec build/default/cli/kv-update --simulate "$@"
