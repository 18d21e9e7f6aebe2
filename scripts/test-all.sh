#!/usr/bin/env bash
# The whole test suite: installs what it needs, then configures, builds and
# runs every test in the normal, AddressSanitizer+UBSan and ThreadSanitizer
# builds. Fails when any build or test fails.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc)
status=0
for preset in default asan tsan; do
  echo "=== ${preset} ==="
  cmake --preset "${preset}" -G Ninja >/dev/null
  cmake --build --preset "${preset}" -j "${jobs}"
  if ! ctest --preset "${preset}" -j "${jobs}"; then
    status=1
  fi
done
bash scripts/test-windows.sh || status=1
exit "${status}"
