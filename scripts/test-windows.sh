#!/usr/bin/env bash
# The Windows programs: cross-built with MinGW-w64 (preset "windows", in
# build/windows), then every test run under Wine, the portable suites and the
# Windows-only ones alike; ctest starts each test program through
# cmake/wine-run.sh, which keeps a private Wine prefix in build/windows/wine.
# The dialog's tests get a private Xvfb display. Fails when the build or any
# test fails.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc)
echo "=== windows ==="
cmake --preset windows >/dev/null
cmake --build --preset windows -j "${jobs}"

# A display number nobody uses.
display=""
for n in $(seq 90 140); do
  if [[ ! -e /tmp/.X11-unix/X${n} && ! -e /tmp/.X${n}-lock ]]; then
    display=${n}
    break
  fi
done
if [[ -z "${display}" ]]; then
  echo "test-windows: no free X display number" >&2
  exit 1
fi
Xvfb ":${display}" -screen 0 1280x1024x24 -nolisten tcp -noreset >/dev/null 2>&1 &
xvfb_pid=$!

prefix="${PWD}/build/windows/wine/prefix"
cleanup() {
  if [[ -d "${prefix}" ]]; then
    WINEPREFIX="${prefix}" wineserver -k >/dev/null 2>&1 || true
  fi
  kill "${xvfb_pid}" 2>/dev/null || true
  wait "${xvfb_pid}" 2>/dev/null || true
}
trap cleanup EXIT

for _ in $(seq 100); do
  [[ -e /tmp/.X11-unix/X${display} ]] && break
  sleep 0.1
done
if [[ ! -e /tmp/.X11-unix/X${display} ]]; then
  echo "test-windows: Xvfb did not start on :${display}" >&2
  exit 1
fi
export DISPLAY=":${display}"

ctest --preset windows -j "${jobs}"
