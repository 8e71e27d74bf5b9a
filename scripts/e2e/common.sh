# Sourced by the end-to-end checks and the desktop benchmark: a virtual X display of their own, and the
# program under test (started by the caller in the background, its process id in prog_pid), and screenshots
# of the display's framebuffer ($fb) into the output folder ($out), measured by $screen_py.
# linux_builddir CONFIG: the build folder of the Linux configuration debug or release, as builddir; ends the
# script with status 2 for another name.
linux_builddir() {
  case "$1" in
    debug | release) builddir=$root/build/$1 ;;
    *) echo "unknown configuration: $1 (debug or release)" >&2; exit 2 ;;
  esac
}

# e2e_begin: what both end-to-end checks start from: the screen measurer, a 1024x768 screen and the drawing
# surface on it, the start time and the failure count of pass/fail.
e2e_begin() {
  screen_py=$root/scripts/e2e/screen.py
  screen_w=1024 screen_h=768
  # The drawing surface is the form's size plus 15 by 19 pixels (the stored layout); the wallpaper fills it.
  surface_w=$((screen_w + 15)) surface_h=$((screen_h + 19))
  started=$(date +%s)
  failures=0
}
pass() { echo "PASS: $*"; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
note() { echo "== $*"; }

# e2e_display FIRST LAST: the checks' virtual display (a display number in FIRST..LAST, the screen size of
# e2e_begin) with its framebuffer readable as $fb; ends the script with a FAIL line when it cannot start.
e2e_display() {
  start_xvfb "$1" "$2" "${screen_w}x${screen_h}" "$out/xvfb.log" "$out/fb" || { echo "FAIL: no virtual display"; exit 1; }
  fb=$out/fb/Xvfb_screen0
  [ -f "$fb" ] || { echo "FAIL: Xvfb did not start (see $out/xvfb.log)"; exit 1; }
}

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

# wait_program SECONDS: waits up to SECONDS for the program to end; sets prog_status (empty while it runs).
wait_program() {
  prog_status=""
  for _ in $(seq $(($1 * 10))); do
    if ! kill -0 "$prog_pid" 2>/dev/null; then
      wait "$prog_pid"
      prog_status=$?
      prog_pid=""
      return 0
    fi
    sleep 0.1
  done
  return 1
}
# stop_program: ends the program if it still runs.
stop_program() {
  [ -n "$prog_pid" ] && kill "$prog_pid" 2>/dev/null && wait "$prog_pid" 2>/dev/null
  prog_pid=""
}

# shot NAME: the framebuffer ($fb) as it is now, saved as $out/NAME.png; prints the near-white count.
shot() {
  cp "$fb" "$out/$1.xwd" && python3 "$screen_py" white "$out/$1.xwd" "$out/$1.png" && rm -f "$out/$1.xwd"
}
# mean_white PREFIX N: mean near-white count over N screenshots a quarter second apart, named PREFIX-1 ...
mean_white() {
  local prefix=$1 n=$2 sum=0 c
  for i in $(seq "$n"); do
    c=$(shot "$prefix-$i") || c=0
    sum=$((sum + c))
    sleep 0.25
  done
  echo $((sum / n))
}
