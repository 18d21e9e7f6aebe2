#!/usr/bin/env bash
# The main job: installs what the build needs, builds kv-update and runs one
# full firmware update against the simulated pedal built into it. The last
# line is the simulator's check of its flash against the four images.
# Extra arguments go to kv-update (for example --sim-chunk-status 5:8:3).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

log=build/demo-build.log
mkdir -p build
if ! { cmake --preset default -G Ninja && cmake --build --preset default --target kv-update -j "$(nproc)"; } >"${log}" 2>&1; then
  cat "${log}" >&2
  echo "demo: the build failed (log above, also in ${log})" >&2
  exit 1
fi

exec build/default/cli/kv-update --simulate "$@"
