#!/usr/bin/env bash
# Builds the presets side by side and runs every test in one CTest run: the build half
# (scripts/test-build.sh), then the run half (scripts/test-run.sh). Either half also runs alone,
# the run half over trees built before.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/test-build.sh
exec bash scripts/test-run.sh
