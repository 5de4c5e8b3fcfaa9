#!/usr/bin/env bash
# Builds and runs the engine's libFuzzer targets in their own clang tree, build/fuzz, where the
# whole engine carries AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer.
#   scripts/fuzz.sh build                          configure (once) and build the targets
#   scripts/fuzz.sh replay TARGET                  run every input of fuzz/corpus/TARGET once
#   scripts/fuzz.sh run TARGET SECONDS [OPTION...]  fuzz inflate, extract or roundtrip for
#                                                   SECONDS; further libFuzzer options are passed on
#   scripts/fuzz.sh long [MB] [SEED]               the differential test over MB (default 500) of
#                                                   output, entries up to 8 MB, in the native tree
# TARGET is inflate, extract or roundtrip. fuzz/corpus/TARGET is the fixed regression corpus (the
# seeds of fuzz/make_seeds.py and every input that found a fault); a timed run starts from it and
# grows its own corpus in build/fuzz/corpus/TARGET; a crash leaves its input in
# build/fuzz/artifacts/. Every timed run adds its line to fuzz/FUZZING.md, the fuzzing record.
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
  cmake --build "$tree" --target fuzz_inflate fuzz_extract fuzz_roundtrip -j2
  ;;
replay)
  target=${2:?target: inflate, extract or roundtrip}
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
  target=${2:?target: inflate, extract or roundtrip}
  seconds=${3:?seconds}
  shift 3
  mkdir -p "$tree/corpus/$target" "$tree/artifacts"
  max_len=4096
  [ "$target" = extract ] && max_len=16384
  # A log of its own per run: runs of one target side by side (one per core) share the grown
  # corpus, and each adds its own line to the record.
  log="$tree/$target-$$.log"
  status=0
  started=$(date +%s)
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    "$tree/fuzz/fuzz_$target" -max_total_time="$seconds" -max_len="$max_len" -print_final_stats=1 \
    -artifact_prefix="$tree/artifacts/$target-" "$@" "$tree/corpus/$target" "fuzz/corpus/$target" \
    >"$log" 2>&1 || status=$?
  elapsed=$(( $(date +%s) - started ))
  # The record: the final count of executed inputs, or the last progress line's when a finding
  # ended the run early.
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  [ -n "$executions" ] || executions=$(sed -n 's/^#\([0-9][0-9]*\).*/\1/p' "$log" | tail -n 1)
  finding=none
  if [ "$status" -ne 0 ]; then
    finding=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -n 1)
    finding="exit $status${finding:+, input $(basename "$finding")}"
  fi
  printf '| %s | %s | %s | %s | %s |\n' "$(date -u +%Y-%m-%d)" "$target" "${executions:-0}" "$elapsed" \
    "$finding" >>fuzz/FUZZING.md
  if [ "$status" -ne 0 ]; then
    tail -n 80 "$log"
    exit "$status"
  fi
  grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|stat::new_units_added|#[0-9]+ +DONE)' "$log"
  ;;
long)
  # The differential test of the engine suite at volume, in the native preset's tree.
  megabytes=${2:-500}
  [ -f build/native/build.ninja ] || cmake --preset native >/dev/null
  cmake --build --preset native --target unzip_tests
  TQ_DIFF_VOLUME_MB="$megabytes" TQ_DIFF_ENTRY_MB=8 ${3:+TQ_TEST_SEED=$3} \
    build/native/tests/unzip/unzip_tests --gtest_filter='Differential*'
  ;;
*)
  sed -n '2,13p' "$0"
  exit 64
  ;;
esac
