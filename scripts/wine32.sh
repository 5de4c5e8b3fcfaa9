#!/usr/bin/env bash
# Runs commands under 32-bit Wine, which this machine's kernel cannot start by itself: 32-bit
# Linux programs go to qemu-i386 through a binfmt_misc entry, and a small library of ours
# (scripts/qemu_mend.c) is preloaded to mend two faults of Debian 12's qemu that stop Wine.
#   bash scripts/wine32.sh check           says whether 32-bit Wine can run here, and if not why
#   bash scripts/wine32.sh run CMD [ARG...] runs CMD with WINELOADER, WINEARCH and LD_PRELOAD set
#                                          for 32-bit Wine; exits 77 with the reason when it
#                                          cannot (CTest's skip code)
# The binfmt_misc entry is private where the kernel allows it (Linux 6.7 and later: an instance
# of binfmt_misc per user namespace), so no other program of the machine sees it. Otherwise the
# machine's own binfmt_misc gets an entry "tessel-i386" that is enabled only while CMD runs:
# enabled, every 32-bit program of the machine runs under qemu, among them the 32-bit half of any
# 64-bit Wine prefix booted meanwhile, which then boots for minutes.
# The packages (qemu-user-static, wine32:i386) come from scripts/bootstrap.sh.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
skip=77
qemu=/usr/bin/qemu-i386-static
loader=/usr/lib/wine/wine
entry=tessel-i386
mend=$root/build/qemu-mend
# i386 ELF executables and shared objects (e_type 2 or 3, e_machine 3).
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

# Prints why 32-bit Wine cannot run here, or nothing.
why_not() {
  [ -x "$qemu" ] || { echo "no $qemu (package qemu-user-static)"; return; }
  [ -x "$loader" ] || { echo "no 32-bit Wine loader $loader (package wine32:i386)"; return; }
  command -v gcc >/dev/null || { echo "no gcc for the preload library"; return; }
  if ! private_binfmt true 2>/dev/null; then
    [ "$(id -u)" -eq 0 ] || { echo "binfmt_misc is not private to a user namespace here, and only root may change the machine's"; return; }
    global_binfmt_ready 2>/dev/null || { echo "no binfmt_misc on this machine (the kernel lacks it, or it cannot be mounted)"; return; }
  fi
}

# Builds both widths of the preload library, each where ld.so's $LIB leads it.
build_mend() {
  local source=$root/scripts/qemu_mend.c width dir
  for width in 32 64; do
    dir=$mend/lib/i386-linux-gnu
    [ "$width" = 64 ] && dir=$mend/lib/x86_64-linux-gnu
    if [ ! -f "$dir/libtqqemumend.so" ] || [ "$source" -nt "$dir/libtqqemumend.so" ]; then
      mkdir -p "$dir"
      gcc -m"$width" -O2 -Wall -Wextra -Werror -ffreestanding -nostdlib -shared -fPIC \
        -o "$dir/libtqqemumend.so.$$" "$source"
      mv "$dir/libtqqemumend.so.$$" "$dir/libtqqemumend.so"
    fi
  done
}

register() { # DIRECTORY: adds the entry to the binfmt_misc mounted there, unless it is there
  [ -e "$1/$entry" ] || printf '%s' ":$entry:M::$magic:$mask:$qemu:F" >"$1/register"
}

# Runs "$@" in a new user and mount namespace with binfmt_misc of its own: this script again,
# as its "inside" command, which mounts that binfmt_misc and registers the entry there.
private_binfmt() {
  unshare --user --map-root-user --mount bash "$0" inside "$@"
}

global_binfmt_ready() {
  [ -e /proc/sys/fs/binfmt_misc/register ] ||
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
}

case "${1:-}" in
inside)
  # Within the namespace of private_binfmt, never called directly.
  shift
  mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  register /proc/sys/fs/binfmt_misc
  exec "$@"
  ;;
check)
  reason=$(why_not)
  if [ -n "$reason" ]; then
    echo "32-bit Wine cannot run here: $reason"
    exit 1
  fi
  echo "32-bit Wine runs here through qemu-i386"
  ;;
run)
  shift
  [ $# -gt 0 ] || { echo "usage: bash scripts/wine32.sh run CMD [ARG...]" >&2; exit 64; }
  if [ "${TQ_WINE32:-}" = 1 ]; then
    exec "$@" # already set up by an enclosing run
  fi
  reason=$(why_not)
  if [ -n "$reason" ]; then
    echo "SKIPPED: 32-bit Wine cannot run here: $reason"
    exit $skip
  fi
  build_mend
  export TQ_WINE32=1 WINELOADER=$loader WINEARCH=win32 LD_PRELOAD="$mend/\$LIB/libtqqemumend.so"
  # A crash would otherwise start the debugger, which hangs under qemu.
  export WINEDLLOVERRIDES="winedbg.exe=d${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
  if private_binfmt true 2>/dev/null; then
    private_binfmt "$@"
    exit
  fi
  # The machine's binfmt_misc, the entry enabled while a run needs it. Runs at the same time
  # (CTest's parallel tests) each hold a shared lock; the last to end disables the entry.
  global_binfmt_ready
  register /proc/sys/fs/binfmt_misc
  exec 8>"${TMPDIR:-/tmp}/$entry.lock"
  flock -s 8
  trap 'flock -n -x 8 && echo 0 >/proc/sys/fs/binfmt_misc/$entry' EXIT
  trap 'exit 130' INT TERM
  echo 1 >/proc/sys/fs/binfmt_misc/$entry
  "$@" 8>&- # programs that outlive the run (a persistent wineserver) must not hold the lock
  ;;
*)
  sed -n '2,8p' "$0"
  exit 64
  ;;
esac
