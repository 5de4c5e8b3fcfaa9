#!/usr/bin/env bash
# Installation from the one downloaded file against installation from the distribution folder:
# the win64 sample distribution and its bundle (build/win64/sample-dist, build/win64/tessel81.exe)
# installed RUNS times each, in turn, in a fresh Wine prefix on a virtual display, by the
# whole-installation driver's --bench mode. Each installation is timed from the start of its first
# process until that process has ended; the install-folder dialog is answered as soon as it shows.
# Not part of the test run; about a second per installation.
#   bench/bundle.sh [RUNS]     median of RUNS runs (default 7); results also go to
#                              bench/bundle-results.md
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
runs=${1:-7}
tree=$root/build/win64

cmake --preset native >/dev/null
cmake --build --preset native --target tqpack tqsamplegen -j2 >/dev/null
cmake --preset win64 >/dev/null
cmake --build --preset win64 --target sample_dist e2e_test -j2 >/dev/null

output=$(mktemp)
trap 'rm -f "$output"' EXIT
TQ_FRESH_PREFIX=1 TQ_SETUP_DIST=$tree/sample-dist TQ_SETUP_BUNDLE=$tree/tessel81.exe \
  tests/harness/wine-run.sh "$tree/wineprefix" "$tree/tests/e2e/e2e_test.exe" --bench "$runs" | tee "$output"

{
  echo "# Installation from the bundle against installation from the folder"
  echo
  echo "bench/bundle.sh $runs on $(date -u +%Y-%m-%d), $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
  echo "at the start; 64-bit Wine, the win64 sample distribution ($(du -sb "$tree/sample-dist" | cut -f1) bytes) and its"
  echo "bundle ($(stat -c %s "$tree/tessel81.exe") bytes, of which $(stat -c %s "$tree/sfx/tqsfx.exe") are the self-extractor)."
  echo "Every installation goes into a folder of its own; the first of each kind is a warm-up and not counted."
  echo "Times are wall-clock: on a loaded machine the spread between runs can exceed the difference"
  echo "between the two kinds, so compare the medians and the fastest runs, and repeat the run."
  echo
  sed -n '/^| installation/,$p' "$output"
  echo
  echo "Single runs:"
  echo
  grep '^run ' "$output" | sed 's/^/    /'
} > bench/bundle-results.md
echo "bench: results in bench/bundle-results.md"
