#!/usr/bin/env bash
# Runs a Windows program under the 64-bit Wine loader for CTest:
#   tests/wine-run.sh PREFIX PROGRAM [ARGUMENTS...]
# PREFIX is booted once (under a lock) and then shared by every test. With TQ_FRESH_PREFIX=1 in
# the environment the program runs in a throw-away copy of it instead, with its own wineserver.
# Output goes through a file: Wine's service processes outlive the program, and if they held
# CTest's pipes CTest would wait for them forever.
set -u
template=$1
shift
loader=${WINELOADER:-/usr/lib/wine/wine64}
server=$(dirname "$loader")/wineserver
export WINELOADER=$loader WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}mscoree,mshtml="

mkdir -p "$(dirname "$template")"
(
  flock 9
  if [ ! -f "$template/.booted" ]; then
    WINEPREFIX=$template "$loader" wineboot -i </dev/null >/dev/null 2>&1
    # Windows not managed by an X window manager: there is none on the virtual display, and
    # Wine would wait 2 s for one whenever a window is hidden (each message box, each dialog).
    WINEPREFIX=$template "$loader" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
    WINEPREFIX=$template "$server" -w </dev/null >/dev/null 2>&1
    touch "$template/.booted"
  fi
) 9>"$template.lock"

work=$(mktemp -d)
cleanup() {
  if [ -n "${fresh:-}" ]; then
    WINEPREFIX=$fresh "$server" -k </dev/null >/dev/null 2>&1
    WINEPREFIX=$fresh "$server" -w </dev/null >/dev/null 2>&1
  fi
  rm -rf "$work"
}
trap cleanup EXIT

if [ "${TQ_FRESH_PREFIX:-0}" = 1 ]; then
  fresh=$work/prefix
  cp -a "$template" "$fresh"
  export WINEPREFIX=$fresh
else
  export WINEPREFIX=$template
  # A persistent server keeps start-up at a fraction of a second per program.
  "$server" -p </dev/null >/dev/null 2>&1
fi

run=("$loader" "$@")
[ -n "${DISPLAY:-}" ] || run=(xvfb-run -a -s "-screen 0 1024x768x24" "${run[@]}")
"${run[@]}" </dev/null >"$work/output" 2>&1
status=$?
cat "$work/output"
exit $status
