#!/usr/bin/env bash
# Runs a Windows program under Wine for CTest, with the loader WINELOADER names (by default the
# 64-bit one):
#   tests/harness/wine-run.sh PREFIX PROGRAM [ARGUMENTS...]
# Wine prefixes are made from one booted template per machine and Wine version, kept read-only
# in the user's cache folder (TQ_WINE_CACHE overrides it): booting takes half a minute and writes
# about a gigabyte, a copy that shares the template's files through hard links takes a fraction
# of a second and a few megabytes. PREFIX, the build tree's prefix, is such a copy, shared by the
# tests and kept; with TQ_FRESH_PREFIX=1 in the environment the program runs in a throw-away copy
# of its own (PREFIX-fresh.*), with its own wineserver.
# Without DISPLAY, or with TQ_OWN_DISPLAY=1, the program gets a virtual display of its own.
# Output goes through a file: Wine's service processes outlive the program, and if they held
# CTest's pipes CTest would wait for them forever.
set -u
source "$(dirname "$0")/xvfb.sh"
prefix=$1
shift
loader=${WINELOADER:-/usr/lib/wine/wine64}
server=$(dirname "$loader")/wineserver
# Not loaded: the .NET and HTML engines, which the tests do not use; the menu builder, which
# would write the host's desktop menus, and the USB driver, each of which a Wine session would
# start in every prefix (a fifth of a session's start, a third under qemu).
export WINELOADER=$loader WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}mscoree,mshtml=;winemenubuilder.exe,wineusb.sys=d"

# One template for each Wine build and loader: the 32-bit loader (scripts/wine32.sh) makes a
# 32-bit prefix, and reports the same version as the 64-bit one.
key=$({ [ "$loader" = /usr/lib/wine/wine64 ] || echo "$loader"; "$loader" --version; ls -d /usr/lib/*/wine/*-windows; } 2>/dev/null | md5sum | cut -c1-12)
cache=${TQ_WINE_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tessel-tests}
template=$cache/wineprefix-$key

# A prefix that shares FROM's files through hard links. Wine replaces a registry file by writing
# a new one and renaming it over the old, and a program creates the files it writes anew; what
# Wine or a program could still rewrite in place (the files at the top, the *.ini files) is
# copied. Across file systems it is a whole copy.
link_copy() {
  local from=$1 to=$2
  if ! cp -al "$from/." "$to" 2>/dev/null; then
    rm -rf "$to" && mkdir -p "$to" && cp -a --reflink=auto "$from/." "$to"
    return
  fi
  (cd "$from" && find . -maxdepth 1 -type f -print0 && find drive_c -type f -iname '*.ini' -print0) |
    while IFS= read -r -d '' file; do
      rm -f "$to/$file"
      cp -p "$from/$file" "$to/$file"
    done
}

mkdir -p "$cache" "$(dirname "$prefix")"
(
  flock 9
  # The template is never run in. A file changed after its boot means a copy wrote through a
  # hard link; then it is booted again rather than handed on.
  if [ -f "$template/.booted" ] && [ -n "$(find "$template" -newer "$template/.booted" -print -quit)" ]; then
    echo "wine-run.sh: $template changed after its boot; booting it again" >&2
    rm -rf "$template"
  fi
  # Under qemu-i386 (32-bit Wine) a service process of the boot now and then hangs for good: a
  # boot that has not ended within its time is given up, its processes killed, and tried once
  # more.
  for attempt in 1 2; do
    [ -f "$template/.booted" ] && break
    rm -rf "$template"
    if WINEPREFIX=$template timeout 240 "$loader" wineboot -i </dev/null >/dev/null 2>&1 &&
       # Windows not managed by an X window manager: there is none on the virtual display, and
       # Wine would wait 2 s for one whenever a window is hidden (each message box, each dialog).
       WINEPREFIX=$template timeout 60 "$loader" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1 &&
       WINEPREFIX=$template timeout 60 "$server" -w </dev/null >/dev/null 2>&1; then
      touch "$template/.booted"
    else
      echo "wine-run.sh: booting $template did not end in time (attempt $attempt)" >&2
      WINEPREFIX=$template "$server" -k </dev/null >/dev/null 2>&1
      sleep 1
    fi
  done
) 9>"$template.lock"
(
  flock 9
  if [ ! -f "$prefix/.booted" ]; then
    rm -rf "$prefix"
    mkdir -p "$prefix"
    ( flock -s 8 && link_copy "$template" "$prefix" ) 8>"$template.lock"
  fi
) 9>"$prefix.lock"

work=$(mktemp -d)
cleanup() {
  trap '' TERM INT   # a signal that ends the run still lets the clean-up finish
  if [ -n "${fresh:-}" ]; then
    WINEPREFIX=$fresh "$server" -k </dev/null >/dev/null 2>&1
    WINEPREFIX=$fresh "$server" -w </dev/null >/dev/null 2>&1
  fi
  if [ -n "${xvfb_pid:-}" ]; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
  rm -rf "$work" ${fresh:+"$fresh"}
}
trap cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT
trap '' PIPE   # CTest gone: the output is lost, the clean-up still runs

if [ "${TQ_FRESH_PREFIX:-0}" = 1 ]; then
  fresh=$(mktemp -d "$prefix-fresh.XXXXXX")
  ( flock -s 9 && link_copy "$template" "$fresh" ) 9>"$template.lock"
  export WINEPREFIX=$fresh
else
  export WINEPREFIX=$prefix
  # A persistent server keeps start-up at a fraction of a second per program.
  "$server" -p </dev/null >/dev/null 2>&1
fi

if [ -z "${DISPLAY:-}" ] || [ "${TQ_OWN_DISPLAY:-0}" = 1 ]; then
  if ! start_display "$work"; then
    echo "wine-run.sh: Xvfb did not start:"
    cat "$work/xvfb.log"
    exit 1
  fi
fi
# Under qemu-i386 (32-bit Wine, scripts/wine32.sh) the start of a Wine session (wineboot
# --init, the service processes) now and then hangs for good. It is started ahead of the
# program, with a persistent server, within a time, and once more when it hangs.
if [ "${TQ_WINE32:-0}" = 1 ]; then
  for attempt in 1 2; do
    "$server" -p </dev/null >/dev/null 2>&1
    timeout 100 "$loader" cmd /c exit </dev/null >/dev/null 2>&1 && break
    echo "wine-run.sh: the Wine session in $WINEPREFIX did not start in time (attempt $attempt)" >&2
    "$server" -k </dev/null >/dev/null 2>&1
    timeout 30 "$server" -w </dev/null >/dev/null 2>&1
  done
fi
"$loader" "$@" </dev/null >"$work/output" 2>&1
status=$?
cat "$work/output"
exit $status
