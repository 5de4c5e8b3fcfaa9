#!/usr/bin/env bash
# The run half of scripts/test.sh, over the trees that scripts/test-build.sh built: every test of
# the five trees in one CTest run, native tests directly (again under the sanitizers, and the
# engine's as 32-bit code through qemu-i386), Windows tests under 64-bit Wine on a
# virtual display of its own, static checks of both setup.exe builds, and whole installations of
# the 32-bit release under 32-bit Wine where qemu-i386 can run it (scripts/wine32.sh; skipped
# with the reason elsewhere).
# The run is red when a test fails and when a test group listed in tests/groups.txt did not run.
# It leaves no process behind: the display, and every Wine process its tests started, end with it.
set -euo pipefail
cd "$(dirname "$0")/.."

started=$(date +%s)
run=$(mktemp -d)
touch "$run/start"
# Every process the tests start inherits this mark, which finds what they leave behind.
mark=TQ_TEST_RUN=$$-$(date +%s%N)
server=/usr/lib/wine/wineserver

# Wine processes of this run still alive: the persistent server of the shared prefix and its
# service processes, or those of a test that was cut short.
leftovers() {
  grep -lszxF "$mark" /proc/[0-9]*/environ | cut -d/ -f3 || true
  return 0
}

finish() {
  local status=$? pids
  trap '' INT TERM   # a second signal does not cut the clean-up short
  if [ -d build/win64/wineprefix ]; then
    WINEPREFIX=$PWD/build/win64/wineprefix "$server" -k </dev/null >/dev/null 2>&1 || true
  fi
  pids=$(leftovers)
  if [ -n "$pids" ]; then
    echo "test-run.sh: ending processes left by the tests: $(echo $pids)"
    kill -TERM $pids 2>/dev/null || true
    # Time to clean up (a throw-away prefix, its wineserver), then no more.
    for _ in $(seq 50); do
      [ -n "$(leftovers)" ] || break
      sleep 0.1
    done
    kill -KILL $(leftovers) 2>/dev/null || true
  fi
  # The throw-away prefixes of tests that were cut short.
  find build/win64 -maxdepth 1 -name 'wineprefix-fresh.*' -newer "$run/start" -exec rm -rf {} + 2>/dev/null || true
  if [ -n "${xvfb_pid:-}" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -rf "$run"
  exit "$status"
}
trap finish EXIT
trap 'exit 130' INT
trap 'exit 143' TERM


# A display of our own for every GUI test, never the caller's.
source tests/harness/xvfb.sh
if ! start_display "$run"; then
  echo "test-run.sh: Xvfb did not start:"
  cat "$run/xvfb.log"
  exit 1
fi

# One CTest run over the three trees: the longest tests (the 32-bit installations under qemu,
# the installation that sits through setup's real library wait) start first and the others fill
# the gaps, on more slots than cores, as most Wine tests spend much of their time waiting. CTest
# runs in the background so that a signal to this script ends the run at once.
bash scripts/wine32.sh check || echo "test-run.sh: the e2e32 tests will be skipped."
mkdir -p build/all
for preset in native native-asan native32 win64 win32; do
  echo "subdirs(\"$PWD/build/$preset\")"
done >build/all/CTestTestfile.cmake
status=0
env "$mark" ctest --test-dir build/all -j"${TQ_TEST_JOBS:-4}" --output-on-failure --timeout 900 \
  --output-junit "$run/all.xml" &
wait $! || status=1
echo "test-run.sh: tests $(($(date +%s) - started)) s"

# Every group that must run has run (passed or failed), so that a tool missing at configure
# time cannot make a run green by dropping its tests.
missing=()
while read -r preset pattern allowance _; do
  case $preset in ''|'#'*) continue ;; esac
  statuses='run|fail'
  [ "$allowance" = or-skipped ] && statuses='run|fail|notrun'
  found=0
  if [ -f "$run/all.xml" ]; then
    while read -r name; do
      # shellcheck disable=SC2053
      [[ $name == $pattern ]] && { found=1; break; }
    done < <(grep -oE "<testcase name=\"[^\"]*\"[^>]*status=\"($statuses)\"" "$run/all.xml" |
             sed -E 's/<testcase name="([^"]*)".*/\1/')
  fi
  [ "$found" = 1 ] || missing+=("$preset $pattern")
done <tests/groups.txt
if [ ${#missing[@]} -gt 0 ]; then
  echo
  echo "test-run.sh: test groups that did not run:"
  printf '  %s\n' "${missing[@]}"
  for preset in native native-asan native32 win64 win32; do
    echo
    echo "test-run.sh: configure output of $preset:"
    cat "build/configure-$preset.log"
  done
  status=1
fi
exit $status
