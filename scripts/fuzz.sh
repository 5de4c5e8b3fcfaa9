#!/usr/bin/env bash
# Builds and runs the engine's libFuzzer targets in their own clang tree, build/fuzz, where the
# whole engine carries AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer.
#   scripts/fuzz.sh build                          configure (once) and build both targets
#   scripts/fuzz.sh replay TARGET                  run every input of fuzz/corpus/TARGET once
#   scripts/fuzz.sh run TARGET SECONDS [OPTION...]  fuzz inflate or extract for SECONDS;
#                                                   further libFuzzer options are passed on
# fuzz/corpus/TARGET is the fixed regression corpus (the seeds of fuzz/make_seeds.py and every
# input that found a fault); a timed run starts from it and grows its own corpus in
# build/fuzz/corpus/TARGET; a crash leaves its input in build/fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."
tree=build/fuzz
sanitizers="-fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=undefined -fno-omit-frame-pointer"

case "${1:-}" in
build)
  if [ ! -f "$tree/build.ninja" ]; then
    CC=clang CXX=clang++ cmake -S . -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTQ_FUZZ=ON \
      -DCMAKE_C_FLAGS="$sanitizers" -DCMAKE_CXX_FLAGS="$sanitizers" >/dev/null
  fi
  cmake --build "$tree" --target fuzz_inflate fuzz_extract -j2
  ;;
replay)
  target=${2:?target: inflate or extract}
  log="$tree/$target-replay.log"
  status=0
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    "$tree/fuzz/fuzz_$target" fuzz/corpus/"$target"/* >"$log" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    tail -n 80 "$log"
    exit "$status"
  fi
  echo "replayed $(grep -c '^Executed ' "$log") inputs of fuzz/corpus/$target"
  ;;
run)
  target=${2:?target: inflate or extract}
  seconds=${3:?seconds}
  shift 3
  mkdir -p "$tree/corpus/$target" "$tree/artifacts"
  max_len=4096
  [ "$target" = extract ] && max_len=16384
  log="$tree/$target.log"
  status=0
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    "$tree/fuzz/fuzz_$target" -max_total_time="$seconds" -max_len="$max_len" -print_final_stats=1 \
    -artifact_prefix="$tree/artifacts/$target-" "$@" "$tree/corpus/$target" "fuzz/corpus/$target" \
    >"$log" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    tail -n 80 "$log"
    exit "$status"
  fi
  grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|stat::new_units_added|#[0-9]+ +DONE)' "$log"
  ;;
*)
  sed -n '2,10p' "$0"
  exit 64
  ;;
esac
