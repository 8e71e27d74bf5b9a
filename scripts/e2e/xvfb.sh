# Sourced by the end-to-end checks and the desktop benchmark: starts a virtual X display of its own.
# start_xvfb FIRST LAST WxH LOG [FBDIR]: takes the first free display number in FIRST..LAST (each script its
# own range, so checks may run side by side), starts Xvfb there at WxH with 24-bit colour (its framebuffer
# in FBDIR as an XWD file when given), waits for its socket and exports DISPLAY. Sets xvfb_pid (for the
# caller's clean-up) and display. Returns 1 with a message on standard error when no display can be had.
start_xvfb() {
  local first=$1 last=$2 size=$3 log=$4 fbdir=${5:-} n
  display=""
  for n in $(seq "$first" "$last"); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=$n; break; fi
  done
  [ -n "$display" ] || { echo "no free X display number in $first..$last" >&2; return 1; }
  local fbargs=()
  [ -n "$fbdir" ] && fbargs=(-fbdir "$fbdir")
  Xvfb ":$display" -screen 0 "${size}x24" "${fbargs[@]}" -nolisten tcp >"$log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
  [ -e "/tmp/.X11-unix/X$display" ] || { echo "Xvfb did not start (see $log)" >&2; return 1; }
  export DISPLAY=:$display
}
