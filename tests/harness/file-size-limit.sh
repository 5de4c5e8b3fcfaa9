#!/usr/bin/env bash
# Runs a Windows test program through the Wine runner with every file that the program writes
# limited to KIB KiB, so that a write past the limit comes back short and the next one fails
# ("file too large"), as on a full disk, without mounting a small file system:
#   tests/harness/file-size-limit.sh KIB RUNNER PREFIX PROGRAM [ARGUMENTS...]
# The limit must not reach the Wine server, which saves the shared prefix's registry: a first run
# without the limit boots the prefix and leaves its persistent server running, so the limited run
# only connects to it. SIGXFSZ is ignored, so a write past the limit fails instead of killing the
# program. The program learns the limit from TQ_FILE_SIZE_LIMIT_KIB.
set -u
kib=$1 runner=$2 prefix=$3
shift 3
"$runner" "$prefix" "$@" --gtest_list_tests >/dev/null || exit 1
loader=${WINELOADER:-/usr/lib/wine/wine64}
WINEPREFIX=$prefix "$(dirname "$loader")/wineserver" -p </dev/null >/dev/null 2>&1
trap '' XFSZ
ulimit -f "$kib"
export TQ_FILE_SIZE_LIMIT_KIB=$kib
exec "$runner" "$prefix" "$@"
