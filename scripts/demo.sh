#!/usr/bin/env bash
# The main job, the vendor's whole road: installs what is missing, builds everything (native
# first, for tqpack), makes the sample distribution with `tqpack build`, turns it into the one
# file a customer downloads with `tqpack bundle`, and installs from that file under Wine in a
# fresh prefix, started from a Downloads folder as a customer starts it. It installs the 32-bit
# release, the product, under 32-bit Wine where qemu-i386 can run it (scripts/wine32.sh), and
# the 64-bit build of the same sources under 64-bit Wine otherwise.
#   bash scripts/demo.sh          with a reachable display: the real windows, for a person to
#                                 click through; without one: driven automatically
#   bash scripts/demo.sh --auto   driven automatically on a virtual display in any case
# At the end it prints what happened: the download's path and size, the install folder and its
# files, the registry changes, the command line the main program received, and where the
# screenshots are.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

auto=0
for argument in "$@"; do
  case $argument in
    --auto) auto=1 ;;
    *) echo "usage: bash scripts/demo.sh [--auto]" >&2; exit 64 ;;
  esac
done

bash scripts/bootstrap.sh

for preset in native win64 win32; do
  echo "demo: building $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j2
done
# The sample distributions need the native tqpack; a Windows tree configured before it existed
# learns of it now.
for preset in win64 win32; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j2 --target sample_dist e2e_test
done

echo
if reason=$(bash scripts/wine32.sh check); then
  bits=32
  # Every 32-bit program starts through the script, which sets up qemu-i386 for it.
  wrap=(bash "$root/scripts/wine32.sh" run)
  export WINELOADER=/usr/lib/wine/wine WINEARCH=win32
  echo "demo: the 32-bit release (the product) under 32-bit Wine through qemu-i386; programs"
  echo "      start slowly there, allow a few seconds for each window"
else
  bits=64
  wrap=()
  export WINELOADER=/usr/lib/wine/wine64
  echo "demo: $reason;"
  echo "      the 64-bit build of the same sources under 64-bit Wine instead"
fi
tree=$root/build/win$bits
tqpack=$root/build/native/tools/tqpack/tqpack
driver=$tree/tests/e2e/e2e_test.exe
demo=$root/build/demo
dist=$demo/dist
bundle=$demo/tessel81.exe
screenshots=$demo/screenshots
rm -rf "$dist" "$bundle"
echo
echo "demo: tqpack build: the distribution folder from the $bits-bit setup.exe, the sample payload and texts"
"$tqpack" build --quiet --setup="$tree/setup.exe" --payload="$tree/sample-payload" \
  --texts="$root/sample/texts" --out="$dist"
"$tqpack" verify "$dist"
"$tqpack" list "$dist"
echo
echo "demo: tqpack bundle: the one file to download, the $bits-bit self-extractor with the distribution"
signing=()
if command -v openssl >/dev/null && command -v osslsigncode >/dev/null; then
  # A vendor signs with its own certificate; the demo makes a throw-away one, which no Windows
  # trusts, so verify shows the signature intact but not chaining to a trusted root.
  rm -rf "$demo/signing" && mkdir -p "$demo/signing"
  openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=Demo Vendor (throw-away certificate)" \
    -addext extendedKeyUsage=codeSigning -keyout "$demo/signing/key.pem" -out "$demo/signing/cert.pem" \
    2>/dev/null
  signing=(--sign-key="$demo/signing/key.pem" --sign-cert="$demo/signing/cert.pem")
  echo "demo: the download is signed with a throw-away certificate made just now in $demo/signing"
fi
"$tqpack" bundle --quiet "$dist" --out="$bundle" --stub="$tree/sfx/tqsfx.exe" "${signing[@]}"
"$tqpack" verify "$bundle"
echo "demo: the download is $bundle, $(stat -c %s "$bundle") bytes"

# Not started: the .NET and HTML engines, and the menu builder (it would write the host's
# desktop menus). Under qemu-i386 also not the driver host winedevice.exe and svchost.exe:
# threads of theirs crash there ("qemu: uncaught target signal 11", "Unhandled exception
# 0x000006be"), at the session's start and end, although setup needs neither.
overrides="mscoree,mshtml=;winemenubuilder.exe=d"
[ "$bits" = 64 ] || overrides="mscoree,mshtml=;winemenubuilder.exe,winedevice.exe,svchost.exe=d"
export WINEDEBUG=-all WINEDLLOVERRIDES=$overrides
# What still crashes under qemu-i386 (a Wine service thread as the session ends, never setup)
# goes to a log of its own instead of the screen; the demo names it in one line at the end.
noise=$demo/qemu-noise.log
route_noise() { # stdin: the error output of a Wine run
  local line
  while IFS= read -r line; do
    case $line in
      'qemu: uncaught target signal'*|*'Unhandled exception'*|*'stack smashing detected'*)
        printf '%s\n' "$line" >>"$noise" ;;
      *) printf '%s\n' "$line" >&2 ;;
    esac
  done
}
server=/usr/lib/wine/wineserver
export WINEPREFIX=$demo/prefix
if [ -d "$WINEPREFIX" ]; then
  "$server" -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
fi
rm -rf "$screenshots"
mkdir -p "$demo" "$screenshots"
rm -f "$noise"

if [ "$auto" = 0 ] && [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  mode=interactive
else
  mode=auto
  source tests/harness/xvfb.sh
  if ! start_display "$demo"; then
    echo "demo: Xvfb did not start:"
    cat "$demo/xvfb.log"
    exit 1
  fi
  trap 'kill $xvfb_pid 2>/dev/null || true' EXIT
fi

echo
echo "demo: a fresh Wine prefix in $WINEPREFIX"
wine() { "${wrap[@]}" "$WINELOADER" "$@"; }
wine wineboot -i >/dev/null 2>&1
# Under qemu-i386 a service process of the boot now and then hangs for good.
timeout 60 "$server" -w || "$server" -k
if [ "$mode" = auto ]; then
  # No window manager runs on the virtual display: Wine draws the windows' frames and captions
  # itself, as the pictures should show them, when it leaves its windows unmanaged.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  timeout 60 "$server" -w || "$server" -k
fi

if [ "$mode" = interactive ]; then
  # The download as a customer has it, in a downloads folder of the prefix.
  downloads="$WINEPREFIX/drive_c/users/Public/Downloads"
  mkdir -p "$downloads"
  cp "$bundle" "$downloads/tessel81.exe"
  wine "$driver" --plant-keys
  wine "$driver" --watch "Z:${screenshots//\//\\}" &
  watch_pid=$!
  echo
  echo "demo: tessel81.exe is starting on $DISPLAY: it unpacks setup into a temporary folder and"
  echo "      starts it. Click through setup as a user would; the installed program says"
  echo "      \"Tessel has been installed.\" at the end."
  [ "$bits" = 64 ] || echo "      (Browse... is no use here: the folder browser needs a second thread, which qemu-i386 cannot run.)"
  (cd "$downloads" && TQ_INSTALL_RECORD='C:\install-record.txt' TQ_DEMO=1 \
     wine 'C:\users\Public\Downloads\tessel81.exe' 2> >(route_noise)) || true
  sleep 2 # the main program's own box comes up after setup has ended
  touch "$screenshots/stop"
  wait "$watch_pid" 2>/dev/null || true
  "$server" -w || true # until the main program's box is closed
  echo
  echo "demo: what happened"
  TQ_INSTALL_RECORD='C:\install-record.txt' wine "$driver" --report
else
  echo "demo: installing the $bits-bit release without a person, driven on the virtual display $DISPLAY:"
  echo "      the driver plants the 16 shell-extension keys of an earlier installation, copies the"
  echo "      download to C:\\Downloads\\tessel81.exe and starts it, presses OK in setup's"
  echo "      install-folder dialog and checks the outcome"
  TQ_SETUP_DIST=$dist TQ_SETUP_BUNDLE=$bundle TQ_SCREENSHOTS=$screenshots \
    wine "$driver" --gtest_filter=Install.FromTheBundleInTheDownloadsFolder --gtest_brief=0 \
    2> >(route_noise)
fi
"$server" -k 2>/dev/null || true

for bmp in "$screenshots"/*.bmp; do
  [ -e "$bmp" ] || continue
  convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
echo
echo "demo: done ($mode, $bits-bit). The download: $bundle, $(stat -c %s "$bundle") bytes."
echo "      Screenshots of the dialogs setup showed: $screenshots"
ls -1 "$screenshots"
if [ -s "$noise" ]; then
  echo "      Wine's own processes crashed under qemu-i386 (setup was not among them): $noise"
fi
echo "      The Wine prefix with the installation stays in $WINEPREFIX"
echo "      (the install folder is $WINEPREFIX/drive_c/Program Files/Tessel unless another was chosen)."
