#!/usr/bin/env bash
# The main job: installs what is missing, builds everything and installs the sample
# distribution under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh
for preset in native win64 win32; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
echo "demo: setup.exe is built (build/win64/setup.exe, build/win32/setup.exe)."
echo "demo: the install sequence and the sample distribution are not in place yet."
