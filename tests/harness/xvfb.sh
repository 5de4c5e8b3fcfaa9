# A virtual display of one's own, for scripts/test.sh and tests/harness/wine-run.sh to source:
#   start_display FOLDER   starts Xvfb, exports DISPLAY and sets xvfb_pid; returns 1 (with
#                          Xvfb's errors in FOLDER/xvfb.log) when no display could be had
# Xvfb takes a display number only when no other server holds it, and writes the number to the
# pipe once it accepts connections; when it cannot start it closes the pipe unwritten, and the
# next number is tried. Numbers from 100 up, clear of a desktop's own displays.
start_display() {
  local folder=$1 first candidate number=
  first=$((100 + RANDOM % 400))
  for candidate in $(seq "$first" $((first + 19))); do
    rm -f "$folder/display"
    mkfifo "$folder/display"
    Xvfb ":$candidate" -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$folder/display" \
      2>"$folder/xvfb.log" &
    xvfb_pid=$!
    if read -r number <"$folder/display" && [ -n "$number" ]; then
      export DISPLAY=:$number
      unset WAYLAND_DISPLAY XAUTHORITY
      return 0
    fi
    wait "$xvfb_pid" 2>/dev/null
    xvfb_pid=
  done
  return 1
}
