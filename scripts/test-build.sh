#!/usr/bin/env bash
# The build half of scripts/test.sh: configures and builds the presets (native, native under
# AddressSanitizer and UBSan, the engine's tests as 32-bit code, win64, win32) and the fuzz tree
# side by side, each line of output headed by its tree. The configure
# output of each preset stays in build/configure-PRESET.log, which the run half shows when a
# group that must run did not.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh
started=$(date +%s)
mkdir -p build

# The trees are configured and built side by side, each line of output headed by its tree: what
# one build cannot spread over the cores (its configure, its last links) leaves room for the
# others. The Windows trees pack their sample distribution with the native tqpack and
# tqsamplegen, which come first.
configure() { # PRESET
  cmake --preset "$1" >"build/configure-$1.log" 2>&1 || { cat "build/configure-$1.log"; return 1; }
}
configure native
cmake --build --preset native --target tqpack tqsamplegen | sed -u 's/^/[native] /'
builds=()
(cmake --build --preset native 2>&1 | sed -u 's/^/[native] /') &
builds+=($!)
for preset in native-asan native32 win64 win32; do
  ( (configure "$preset" && cmake --build --preset "$preset") 2>&1 | sed -u "s/^/[$preset] /") &
  builds+=($!)
done
# The fuzz targets' own clang tree, whose regression corpus the native tests replay.
if command -v clang++ >/dev/null; then
  (bash scripts/fuzz.sh build 2>&1 | sed -u 's/^/[fuzz] /') &
  builds+=($!)
fi
built_all=1
for build in "${builds[@]}"; do
  wait "$build" || built_all=0
done
[ "$built_all" = 1 ] || { echo "test-build.sh: a build failed (above)"; exit 1; }
echo "test-build.sh: builds $(($(date +%s) - started)) s"
