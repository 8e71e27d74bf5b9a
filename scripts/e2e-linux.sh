#!/usr/bin/env bash
# Usage: scripts/e2e-linux.sh [debug|release]   (default debug: the build the test command has just made)
# End-to-end check of desktop-snow on an X desktop: a virtual display (Xvfb, 1024x768x24) whose framebuffer
# this script reads as screenshots, the openbox window manager, PCManFM's desktop window, and xterm as an
# application window. Each step prints PASS or FAIL with the reason; the script fails when any step fails.
# Screenshots land in build/e2e-linux/ as PNG, with the program's output.
#   a. with PCManFM's desktop and a .reg naming a four-colour test wallpaper: the program's window is inside
#      the desktop's window (asked of X); the screen shows the wallpaper stretched over the drawing surface
#      with snow on it; a terminal opened afterwards stays above it;
#   b. a right-click opens the menu at the pointer; "Snow storm" chosen with the keyboard at least doubles
#      the near-white pixels; About opens a dialog while frames go on behind it, OK closes it; Exit ends the
#      program with status 0 within 2 s;
#   c. without a desktop program the window is a top-level window below a terminal (also after a click on
#      it), without decorations and with skip-taskbar set; SIGTERM ends it with status 0;
#   d. a .reg naming a missing file: exactly one dialog, captioned "Kirno Desktop Snow", with the loader's
#      text; the program goes on and Exit works;
#   e. the desktop program killed while the program is attached: the program goes on (its window now a
#      top-level one, still drawing) and exits with status 0;
#   f. no .reg, and PCManFM's own wallpaper setting names the test picture: that picture is drawn.
# No run may print an X error.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
config=${1:-debug}
. "$root/scripts/e2e/common.sh"
linux_builddir "$config"
out=$root/build/e2e-linux
e2e_begin

for tool in Xvfb openbox pcmanfm xterm xdotool xprop xwininfo dbus-daemon python3; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/install-deps.sh installs it)"; exit 1; }
done
if [ ! -f "$builddir/build.ninja" ]; then
  bash scripts/build.sh "$config" --target desktop-snow >/dev/null || { echo "FAIL: the build failed"; exit 1; }
fi
cmake --build "$builddir" --target desktop-snow -j "${DS_JOBS:-2}" >/dev/null ||
  { echo "FAIL: building desktop-snow failed"; exit 1; }
program=$builddir/desktop-snow

rm -rf "$out"
mkdir -p "$out/fb" "$out/home"
# A home of its own: no setting of the machine's user reaches the runs, and PCManFM keeps its files here.
export HOME=$out/home XDG_CONFIG_HOME=$out/home/.config XDG_CACHE_HOME=$out/home/.cache
export XDG_RUNTIME_DIR=$out/home/runtime
mkdir -p "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
unset XDG_CURRENT_DESKTOP DESKTOP_SESSION SESSION_MANAGER
export NO_AT_BRIDGE=1 GTK_A11Y=none

xvfb_pid="" wm_pid="" dbus_pid="" desk_pid="" term_pid="" prog_pid=""
cleanup() {
  for p in $prog_pid $term_pid $desk_pid $wm_pid $dbus_pid $xvfb_pid; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
}
trap cleanup EXIT
trap 'exit 130' INT TERM

e2e_display 130 170

openbox --sm-disable >"$out/openbox.log" 2>&1 &
wm_pid=$!
for _ in $(seq 50); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break; sleep 0.1; done
xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id' || { echo "FAIL: openbox did not start"; exit 1; }

# PCManFM's desktop wants a session bus (for its file monitors).
bus=$(dbus-daemon --session --fork --print-address=1 --print-pid=1 2>"$out/dbus.log") ||
  { echo "FAIL: no session bus (see $out/dbus.log)"; exit 1; }
export DBUS_SESSION_BUS_ADDRESS=$(echo "$bus" | head -1)
dbus_pid=$(echo "$bus" | sed -n 2p)

# --- helpers --------------------------------------------------------------------------------------------
region() { # region X Y W H: checksum of that part of the screen now
  cp "$fb" "$out/region.xwd" && python3 "$screen_py" region "$out/region.xwd" "$@" && rm -f "$out/region.xwd"
}
# Starts the program with the given arguments; its output goes to build/e2e-linux/LOG.log.
start_program() {
  local log=$1
  shift
  "$program" "$@" >"$out/$log.log" 2>&1 &
  prog_pid=$!
  prog_log=$out/$log.log
}
# Waits up to $2 seconds for a mapped window whose name is exactly $1; prints its id.
wait_window() {
  local ids
  for _ in $(seq $(($2 * 10))); do
    ids=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null) && { echo "$ids" | head -1; return 0; }
    sleep 0.1
  done
  return 1
}
# The X parent of a window (0x0 for the root's children).
parent_of() { xwininfo -children -id "$1" | sed -n 's/^ *Parent window id: \(0x[0-9a-f]*\).*/\1/p'; }
# Whether window $1's parent chain reaches window $2.
inside() {
  local w=$1 want=$(($2)) rootwin
  rootwin=$(xwininfo -root | sed -n 's/.*Window id: \(0x[0-9a-f]*\).*/\1/p')
  for _ in $(seq 10); do
    w=$(parent_of "$w")
    [ -z "$w" ] && return 1
    [ $((w)) -eq "$want" ] && return 0
    [ $((w)) -eq $((rootwin)) ] && return 1
  done
  return 1
}
# The window manager's managed window (the client) that is or holds X window $1 at the top level.
stacking() { xprop -root _NET_CLIENT_LIST_STACKING | sed 's/.*# //; s/,//g'; }
# Index of window $1 in the stacking order (bottom first), -1 when not there.
stack_index() {
  local i=0 w
  for w in $(stacking); do
    [ $((w)) -eq $(($1)) ] && { echo $i; return; }
    i=$((i + 1))
  done
  echo -1
}
open_terminal() {
  xterm -bg black -fg green -geometry 60x12+300+250 -title e2e-terminal >"$out/xterm.log" 2>&1 &
  term_pid=$!
  term_win=$(wait_window e2e-terminal 10) || return 1
  sleep 0.5
}
close_terminal() {
  [ -n "$term_pid" ] && kill "$term_pid" 2>/dev/null && wait "$term_pid" 2>/dev/null
  term_pid=""
}
start_desktop() {
  pcmanfm --desktop >"$out/pcmanfm.log" 2>&1 &
  desk_pid=$!
  desk_win=""
  for _ in $(seq 100); do
    for w in $(stacking 2>/dev/null); do
      xprop -id "$w" _NET_WM_WINDOW_TYPE 2>/dev/null | grep -q _NET_WM_WINDOW_TYPE_DESKTOP && { desk_win=$w; break; }
    done
    [ -n "$desk_win" ] && break
    sleep 0.1
  done
  [ -n "$desk_win" ]
}
stop_desktop() {
  [ -n "$desk_pid" ] && kill "$desk_pid" 2>/dev/null && wait "$desk_pid" 2>/dev/null
  desk_pid=""
}
right_click() { xdotool mousemove "$1" "$2" click 3; }
# The GTK menu: an override-redirect window of the program's class mapped now; prints "X Y" of the first.
menu_position() {
  local w
  for _ in $(seq 30); do
    for w in $(xdotool search --onlyvisible --class desktop-snow 2>/dev/null); do
      if xwininfo -id "$w" | grep -q 'Override Redirect State: yes'; then
        xwininfo -id "$w" | awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4} END {print x, y}'
        return 0
      fi
    done
    sleep 0.1
  done
  return 1
}
choose() { # choose KEY...: opens the menu at (200,150) and presses the keys
  right_click 200 150
  menu_position >/dev/null || return 1
  xdotool key --delay 80 "$@"
}
# exits_by_menu STEP: Exit chosen from the menu must end the program with status 0 within two seconds.
exits_by_menu() {
  if choose Up Return && wait_program 2 && [ "$prog_status" = 0 ]; then pass "$1: Exit ends the program with status 0"; else
    fail "$1: Exit: status '${prog_status:-still running}'"; fi
}
# ends_on SIGNAL STEP: sends SIGNAL to the program, which must end with status 0 within two seconds.
ends_on() {
  kill "-$1" "$prog_pid"
  if wait_program 2 && [ "$prog_status" = 0 ]; then pass "$2: SIG$1 ends the program with status 0"; else
    fail "$2: after SIG$1: status '${prog_status:-still running}'"; fi
}
no_x_errors() {
  if grep -q 'X error' "$prog_log"; then fail "$1: the program printed an X error: $(grep -m1 'X error' "$prog_log")"; else pass "$1: no X error printed"; fi
}

python3 "$screen_py" wallpaper "$out/quadrants.bmp" 320 200
reg() { # reg FILE PICTURE
  printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\r\n"WallPaper"="%s"\r\n' "$2" >"$1"
}
reg "$out/quadrants.reg" "$out/quadrants.bmp"
reg "$out/missing.reg" "$out/no-such-picture.bmp"

# --- c. without a desktop program -------------------------------------------------------------------------
note "c. no desktop program: a backdrop window"
start_program plain --registry "$out/quadrants.reg"
if form=$(wait_window "Kirno Desktop" 15); then
  pass "c: the program's window is on the screen"
  sleep 1
  shot c-backdrop >/dev/null
  open_terminal || fail "c: xterm did not open"
  xdotool mousemove 100 100 click 1
  sleep 0.5
  shot c-after-click >/dev/null
  fi_=$(stack_index "$form") ti=$(stack_index "$term_win")
  if [ "$fi_" -ge 0 ] && [ "$ti" -gt "$fi_" ]; then
    pass "c: the terminal lies above the program's window, also after a click on the snow (stacking $fi_ < $ti)"
  else
    fail "c: stacking order: program's window at $fi_, terminal at $ti"
  fi
  extents=$(xprop -id "$form" _NET_FRAME_EXTENTS | sed 's/.*= //')
  [ "$extents" = "0, 0, 0, 0" ] && pass "c: no decorations (frame extents $extents)" ||
    fail "c: decorations: frame extents '$extents'"
  state=$(xprop -id "$form" _NET_WM_STATE)
  echo "$state" | grep -q _NET_WM_STATE_SKIP_TASKBAR && pass "c: skip-taskbar is set" || fail "c: no skip-taskbar: $state"
  echo "$state" | grep -q _NET_WM_STATE_BELOW && pass "c: kept below other windows" || fail "c: not below: $state"
  close_terminal
  ends_on TERM c
  no_x_errors c
else
  fail "c: no window named 'Kirno Desktop' appeared (see $prog_log)"
fi
stop_program

# --- a. with a desktop program --------------------------------------------------------------------------
note "a. PCManFM's desktop: attached"
mkdir -p "$XDG_CONFIG_HOME/pcmanfm/default"
printf '[*]\nwallpaper_mode=color\ndesktop_bg=#000000\nshow_trash=0\nshow_documents=0\n' \
  >"$XDG_CONFIG_HOME/pcmanfm/default/desktop-items-0.conf"
if start_desktop; then
  pass "a: PCManFM's desktop window $desk_win is up"
else
  fail "a: PCManFM's desktop window did not appear (see $out/pcmanfm.log)"
fi
start_program attached --registry "$out/quadrants.reg"
if form=$(wait_window "Kirno Desktop" 15); then
  if [ -n "$desk_win" ] && inside "$form" "$desk_win"; then
    pass "a: the program's window $form is inside the desktop's window $desk_win"
  else
    fail "a: the program's window $form is not inside the desktop's window (parent $(parent_of "$form"))"
  fi
  sleep 1.5
  cp "$fb" "$out/a-wallpaper.xwd"
  python3 "$screen_py" shot "$out/a-wallpaper.xwd" "$out/a-wallpaper.png"
  if python3 "$screen_py" quadrants "$out/a-wallpaper.xwd" "$surface_w" "$surface_h" >"$out/quadrants.txt"; then
    pass "a: the wallpaper is stretched over the drawing surface ($(grep -c PASS "$out/quadrants.txt") checks)"
  else
    fail "a: wallpaper: $(grep FAIL "$out/quadrants.txt" | head -3 | tr '\n' ' ')"
  fi
  rm -f "$out/a-wallpaper.xwd"
  white=$(shot a-snow)
  [ "$white" -gt 50 ] && pass "a: snow on the wallpaper ($white near-white pixels)" || fail "a: no snow ($white near-white pixels)"
  if open_terminal; then
    ti=$(stack_index "$term_win") di=$(stack_index "$desk_win")
    before=$(region 320 270 300 100)
    sleep 0.5
    after=$(region 320 270 300 100)
    if [ "$ti" -gt "$di" ] && [ "$before" = "$after" ]; then
      pass "a: the terminal stays above the snow (stacking $di < $ti, its pixels unchanged while snow falls)"
    else
      fail "a: terminal: stacking desktop $di terminal $ti, its pixels $before then $after"
    fi
    shot a-terminal >/dev/null
    close_terminal
  else
    fail "a: xterm did not open"
  fi

  # --- b. the menu ---
  note "b. the context menu"
  white_before=$(mean_white b-medium 4)
  right_click 200 150
  if pos=$(menu_position); then
    set -- $pos
    if [ $(( ${1} - 200 )) -ge -2 ] && [ $(( ${1} - 200 )) -le 2 ] && [ $(( ${2} - 150 )) -ge -2 ] && [ $(( ${2} - 150 )) -le 2 ]; then
      pass "b: the menu opens at the pointer (at $1,$2)"
    else
      fail "b: the menu opened at $1,$2, not at the pointer 200,150"
    fi
    shot b-menu >/dev/null
    # Snowflakes > (submenu) Very few, Few, Medium, Many, Snow storm.
    xdotool key --delay 100 Down Right Down Down Down Down Return
    sleep 1.5
    white_after=$(mean_white b-storm 4)
    if [ "$white_after" -ge $((2 * white_before)) ]; then
      pass "b: Snow storm at least doubles the near-white pixels ($white_before -> $white_after)"
    else
      fail "b: Snow storm: near-white pixels $white_before -> $white_after"
    fi
  else
    fail "b: no menu appeared after the right-click"
  fi
  # About: Snowflakes, Wind, (separator), About.
  if choose Down Down Down Return && dialog=$(wait_window "Kirno Desktop Snow" 5); then
    pass "b: About opens a dialog ($dialog)"
    sleep 0.5
    a1=$(region 0 0 300 200)
    shot b-about-1 >/dev/null
    sleep 0.5
    a2=$(region 0 0 300 200)
    shot b-about-2 >/dev/null
    [ "$a1" != "$a2" ] && pass "b: frames go on behind the About dialog" || fail "b: the snow stood still behind the About dialog"
    xdotool key Return
    sleep 0.7
    if xdotool search --onlyvisible --name "^Kirno Desktop Snow\$" >/dev/null 2>&1; then
      fail "b: OK did not close the About dialog"
    else
      pass "b: OK closes the About dialog"
    fi
  else
    fail "b: About showed no dialog"
  fi
  t0=$(date +%s%N)
  if choose Up Return && wait_program 2; then
    ms=$((($(date +%s%N) - t0) / 1000000))
    [ "$prog_status" = 0 ] && pass "b: Exit ends the program with status 0 (${ms} ms)" || fail "b: Exit: status $prog_status"
  else
    fail "b: Exit did not end the program within 2 s"
  fi
  no_x_errors "a/b"
else
  fail "a: no window named 'Kirno Desktop' appeared (see $prog_log)"
fi
stop_program

# --- d. a wallpaper that cannot be loaded ---------------------------------------------------------------
note "d. a missing wallpaper file"
start_program missing --registry "$out/missing.reg"
if box=$(wait_window "Kirno Desktop Snow" 15); then
  sleep 1
  shot d-error >/dev/null
  boxes=$(xdotool search --onlyvisible --name "^Kirno Desktop Snow\$" | wc -l)
  texts=$(grep -c '^\[Kirno Desktop Snow\] ' "$prog_log")
  text=$(grep -m1 '^\[Kirno Desktop Snow\] ' "$prog_log" | sed 's/^\[Kirno Desktop Snow\] //')
  if [ "$boxes" = 1 ] && [ "$texts" = 1 ] && echo "$text" | grep -q 'no-such-picture'; then
    pass "d: exactly one dialog captioned 'Kirno Desktop Snow': $text"
  else
    fail "d: $boxes dialogs, $texts texts: $(grep '^\[' "$prog_log" | head -3 | tr '\n' ' ')"
  fi
  xdotool key Return
  sleep 1
  if kill -0 "$prog_pid" 2>/dev/null && ! xdotool search --onlyvisible --name "^Kirno Desktop Snow\$" >/dev/null 2>&1; then
    pass "d: the program goes on after the dialog"
  else
    fail "d: after the dialog: program running? $(kill -0 "$prog_pid" 2>/dev/null && echo yes || echo no)"
  fi
  exits_by_menu d
  no_x_errors d
else
  fail "d: no dialog appeared (see $prog_log)"
fi
stop_program

# --- e. the desktop program ends while attached ---------------------------------------------------------
note "e. the desktop program ends while the program is attached"
[ -n "$desk_pid" ] || start_desktop
start_program desktop-gone --registry "$out/quadrants.reg"
if form=$(wait_window "Kirno Desktop" 15) && [ -n "$desk_win" ] && inside "$form" "$desk_win"; then
  sleep 1
  stop_desktop
  sleep 1.5
  if kill -0 "$prog_pid" 2>/dev/null; then
    pass "e: the program goes on after the desktop program ended"
  else
    fail "e: the program ended with the desktop program"
  fi
  if form2=$(wait_window "Kirno Desktop" 5); then
    w1=$(shot e-after-1)
    r1=$(region 0 0 400 300)
    sleep 0.5
    r2=$(region 0 0 400 300)
    [ "$w1" -gt 50 ] && [ "$r1" != "$r2" ] && pass "e: its window ($form2) still shows falling snow" ||
      fail "e: after the desktop ended: $w1 near-white pixels, moving: $([ "$r1" != "$r2" ] && echo yes || echo no)"
  else
    fail "e: no program window on the screen after the desktop ended"
  fi
  exits_by_menu e
  no_x_errors e
else
  fail "e: the program did not attach to a new desktop window"
fi
stop_program

# --- f. the desktop's own wallpaper setting -------------------------------------------------------------
note "f. no .reg: the desktop's wallpaper setting"
printf '[*]\nwallpaper_mode=stretch\nwallpaper=%s\n' "$out/quadrants.bmp" \
  >"$XDG_CONFIG_HOME/pcmanfm/default/desktop-items-0.conf"
start_program desktop-setting
if form=$(wait_window "Kirno Desktop" 15); then
  sleep 1.5
  cp "$fb" "$out/f-wallpaper.xwd"
  python3 "$screen_py" shot "$out/f-wallpaper.xwd" "$out/f-wallpaper.png"
  if python3 "$screen_py" quadrants "$out/f-wallpaper.xwd" "$surface_w" "$surface_h" >"$out/quadrants-f.txt"; then
    pass "f: PCManFM's wallpaper setting is the picture drawn"
  else
    fail "f: the picture drawn is not PCManFM's wallpaper: $(grep FAIL "$out/quadrants-f.txt" | head -2 | tr '\n' ' ')"
  fi
  rm -f "$out/f-wallpaper.xwd"
  ends_on INT f
  no_x_errors f
else
  fail "f: no window named 'Kirno Desktop' appeared (see $prog_log)"
fi
stop_program
stop_desktop

echo "end-to-end check of the X11 desktop: $failures failures in $(($(date +%s) - started)) s (screenshots in $out)"
[ "$failures" -eq 0 ]
