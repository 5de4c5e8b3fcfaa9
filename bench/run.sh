#!/usr/bin/env bash
# Benchmarks tqunzip against Info-ZIP unzip, bsdtar and 7z, and the engine's Deflate decoder
# against zlib and libdeflate, on a generated payload of about 64 MiB (text, program-like data
# and incompressible data) in four archives made by Info-ZIP zip: deflated, deflated and
# encrypted with the setup program's built-in password, stored, stored and encrypted.
# Everything happens on tmpfs (/dev/shm). Not part of the test run; takes a few minutes.
#   bench/run.sh [RUNS]     median of RUNS runs (default 5); results also go to bench/results.md
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
work=/dev/shm/tq-bench
password='Rv4-Tg9 Lm2 Qz7-Kp5 Vx8 Hc3-Nb6 Js1 Df0-Ya7E'

for program in zip unzip bsdtar 7z python3 /usr/bin/time; do
  command -v "$program" >/dev/null || { echo "bench: $program is missing (packages zip unzip libarchive-tools p7zip-full time)"; exit 1; }
done
cmake --preset native >/dev/null
cmake --build --preset native --target tqunzip inflate_bench -j2 >/dev/null

mkdir -p "$work"
if [ ! -d "$work/payload" ]; then
  python3 bench/make_payload.py "$work/payload.tmp" >/dev/null
  mv "$work/payload.tmp" "$work/payload"
fi
make_archive() { # NAME ZIP-OPTIONS...
  local name=$1
  shift
  [ -f "$work/$name.zip" ] || (cd "$work/payload" && zip -q -X -j "$@" "../$name.zip" ./*)
}
make_archive deflated -6
make_archive deflated-encrypted -6 -P "$password"
make_archive stored -0
make_archive stored-encrypted -0 -P "$password"

{
  echo "# Benchmark results"
  echo
  echo "Made by bench/run.sh on $(nproc) CPUs ($(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //')),"
  echo "$(date -u +%Y-%m-%d). Peers: $(unzip -v | head -1 | cut -d' ' -f1-2), $(bsdtar --version | cut -d' ' -f1-2),"
  echo "$(7z i | grep -m1 -o '7-Zip[^:]*' | sed 's/ *$//'). Load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
  echo "(wall times stretch with the machine's load; CPU times, user and system, much less)."
  echo
  echo "## Extraction, whole programs"
  echo
  python3 bench/measure.py build/native/tools/tqunzip/tqunzip "$work" "$runs"
  echo
  echo "## Deflate decoder alone (deflated.zip, in memory, output through the CRC-32)"
  echo
  build/native/bench/inflate_bench "$work/deflated.zip" "$((runs + 2))"
} | tee bench/results.md
