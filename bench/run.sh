#!/usr/bin/env bash
# Benchmarks tqunzip against Info-ZIP unzip, bsdtar and 7z, the engine's Deflate decoder against
# zlib and libdeflate, and the traditional decryption in cycles per byte, on a generated payload
# of about 64 MiB (text, program-like data and incompressible data) in four archives made by
# Info-ZIP zip: deflated, deflated and encrypted with the setup program's built-in password,
# stored, stored and encrypted. Then the same programs on archives of many small files, where
# the costs per file and per folder count (5,000 and 10,000 text files of 100 to 1,200 bytes in
# 400 folders, made by Info-ZIP zip -r as users make them). Everything happens on tmpfs
# (/dev/shm). Not part of the test run; takes several minutes. The tables go to
# bench/RESULTS.md.
#   bench/run.sh [RUNS]     medians of RUNS interleaved rounds (default 5)
# TQ_BENCH_CALLGRIND=0 leaves out the instruction counts (valgrind's callgrind, a few minutes).
# TQ_BENCH_WORK=FOLDER works there instead of /dev/shm/tq-bench (the payloads stay for later runs).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
work=${TQ_BENCH_WORK:-/dev/shm/tq-bench}   # another folder keeps two benchmarks apart
password='Rv4-Tg9 Lm2 Qz7-Kp5 Vx8 Hc3-Nb6 Js1 Df0-Ya7E'

for program in zip unzip bsdtar 7z python3 /usr/bin/time; do
  command -v "$program" >/dev/null || { echo "bench: $program is missing (packages zip unzip libarchive-tools p7zip-full time)"; exit 1; }
done
cmake --preset native >/dev/null
cmake --build --preset native --target tqunzip inflate_bench decrypt_bench -j2 >/dev/null
bin=build/native

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
for count in 5000 10000; do
  if [ ! -d "$work/many-$count" ]; then
    python3 bench/make_payload.py --many "$count" "$work/many-$count.tmp" >/dev/null
    mv "$work/many-$count.tmp" "$work/many-$count"
  fi
  [ -f "$work/many-$count.zip" ] || (cd "$work/many-$count" && zip -r -q "../many-$count.zip" src)
done

# Instructions per decoded byte do not depend on the machine's load.
instructions() { # DECODER
  local out=$work/callgrind.out
  valgrind --tool=callgrind --callgrind-out-file="$out" --toggle-collect='*Round*' \
    "$bin/bench/inflate_bench" "$work/deflated.zip" 1 "$1" >/dev/null 2>&1
  sed -n 's/^totals: *//p' "$out"
  rm -f "$out"
}

jobs=()
"$bin/tools/tqunzip/tqunzip" -h 2>&1 | grep -q -- '--jobs' && jobs=(2)
{
  echo "# Benchmark results"
  echo
  echo "Made by bench/run.sh on $(nproc) CPUs ($(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //')),"
  echo "$(date -u '+%Y-%m-%d %H:%M UTC'). Peers: $(unzip -v | head -1 | cut -d' ' -f1-2), $(bsdtar --version | cut -d' ' -f1-2),"
  echo "$(7z i | grep -m1 -o '7-Zip[^:]*' | sed 's/ *$//'). Load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
  echo "(wall times stretch with the machine's load; CPU times, user and system, much less)."
  echo
  echo "## Extraction, whole programs"
  echo
  python3 bench/measure.py "$bin/tools/tqunzip/tqunzip" "$work" "$runs" "${jobs[@]}"
  echo
  echo "Stored and encrypted, one process: the decryption alone (next section) is its floor."
  echo
  echo "## Many small files"
  echo
  python3 bench/measure.py --many "$bin/tools/tqunzip/tqunzip" "$work" "$runs" "${jobs[@]}"
  echo
  echo "Small work stays in one process under --jobs (the rule in tools/tqunzip/parallel.cpp);"
  echo "what --jobs adds there is the decision alone."
  echo
  echo "## Deflate decoder alone (deflated.zip, in memory, output through the CRC-32)"
  echo
  "$bin/bench/inflate_bench" "$work/deflated.zip" "$((runs + 4))"
  if [ "${TQ_BENCH_CALLGRIND:-1}" != 0 ] && command -v valgrind >/dev/null; then
    echo
    echo "Instructions per decoded byte, one round under callgrind (independent of the load):"
    bytes=$(python3 -c "import os; p='$work/payload'; print(sum(os.path.getsize(os.path.join(p, n)) for n in os.listdir(p)))")
    for decoder in tqengine zlib libdeflate; do
      count=$(instructions "$decoder")
      echo "- $decoder: $(python3 -c "print('%.2f' % ($count / $bytes))")"
    done
  fi
  echo
  echo "## Traditional decryption"
  echo
  "$bin/bench/decrypt_bench" "$((runs + 4))" "$(stat -c %s "$work/stored-encrypted.zip")"
  echo
  echo "Load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
} | tee bench/RESULTS.md
