#!/usr/bin/env bash
# Runs a Windows program under Wine in a private prefix:
#   wine-run.sh ROOT PROGRAM.exe [ARGS...]
# ROOT holds the prefix and a private HOME (Wine writes into ~/.local and
# ~/.config otherwise). The prefix is made once, with the crash dialog off and
# Wine drawing its own window frames, and the wineserver is started detached
# so that it never holds a caller's output pipe open (ctest waits for that
# pipe to close). `WINEPREFIX=ROOT/prefix wineserver -k` ends the server.
set -euo pipefail

root=$1
shift
mkdir -p "${root}/home"
root=$(cd "${root}" && pwd)

export WINEPREFIX="${root}/prefix"
export HOME="${root}/home"
export XDG_CONFIG_HOME="${root}/home/.config"
export XDG_DATA_HOME="${root}/home/.local/share"
export XDG_CACHE_HOME="${root}/home/.cache"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=d"
unset WINESERVER

# Nothing started here may keep the lock (fd 9) or the caller's output open.
quiet() { "$@" </dev/null >/dev/null 2>&1 9>&-; }

# Starts the server if none runs, and then Wine's own services from a
# process of ours whose output goes nowhere: services started on demand by
# the program would inherit the caller's output pipe and hold it open.
start_server() {
  if quiet wineserver -p300; then
    quiet wine wineboot || true
  fi
}

{
  flock 9
  if [[ ! -f "${root}/prefix.ready" ]]; then
    rm -rf "${WINEPREFIX}"
    quiet wineserver -p300 || true
    quiet wine wineboot -i
    quiet wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f
    quiet wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f
    # Wine's own fonts, so caption buttons draw as symbols and not letters.
    fonts="${WINEPREFIX}/drive_c/windows/Fonts"
    mkdir -p "${fonts}"
    cp -n /usr/share/wine/fonts/* "${fonts}/" 2>/dev/null || true
    touch "${root}/prefix.ready"
  fi
  start_server
} 9>"${root}/prefix.lock"

exec wine "$@"
