#!/usr/bin/env bash
# Usage: scripts/e2e-windows.sh [debug|release]   (default debug: the build CI's wine suite already made)
# End-to-end check of the real Windows program desktop-snow.exe under wine, on a virtual X display of its own
# (1024x768x24) whose framebuffer this script reads as screenshots. Each step prints PASS or FAIL with the
# reason; the script fails when any step fails. Screenshots land in build/e2e/ as PNG.
#   a. a wine prefix whose HKCU\Control Panel\Desktop "WallPaper" names a test picture of four coloured
#      quadrants (320x200, so the stretch to the screen is visible);
#   b. the program starts and the screen shows that picture stretched over the drawing surface (which reaches
#      15 and 19 pixels past the screen's right and bottom edges) with snow on it;
#   c. a right-click opens the context menu; "Snow storm" raises the number of flakes;
#   d. "Exit" ends the program with status 0 within two seconds;
#   e. an empty "WallPaper" gives exactly one message box captioned "Kirno Desktop Snow"; after it is
#      dismissed, Exit from the menu still ends the program with status 0;
#   f. a stand-in shell (e2e-fake-shell.exe, pumping its messages) builds each desktop arrangement in turn:
#      plain ("Progman" > "SHELLDLL_DefView" > "SysListView32"), win11 (the same with a "WorkerW" wallpaper
#      child), win10 (empty "Progman", top-level "WorkerW" > "SHELLDLL_DefView" > "SysListView32"),
#      icons-hidden (plain with the list view hidden) and none (no shell windows). Through the Windows API it
#      checks where the program's form went (the list view; "SHELLDLL_DefView" for hidden icons; top-level
#      without a taskbar button for none), that it is visible, and for none that a window the user opens
#      afterwards stays above the form after a click on the snow activates it and after the form is asked to
#      come to the top; the screenshot then must show that window. Under wine 8 drawing into another process's
#      child window does not show on the X display, so the pixel checks above use the not-attached path.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
config=${1:-debug}
case "$config" in
  debug) builddir=$root/build/win32-debug ;;
  release) builddir=$root/build/win32 ;;
  *) echo "unknown configuration: $config (debug or release)" >&2; exit 2 ;;
esac
out=$root/build/e2e
. "$root/scripts/e2e/common.sh"
e2e_begin

# --- the programs ---------------------------------------------------------------------------------------
exe=$builddir/desktop-snow.exe
shell_exe=$builddir/e2e-fake-shell.exe
if [ ! -f "$builddir/build.ninja" ] || [ ! -f "$exe" ]; then
  bash scripts/build-windows.sh "$config" || { echo "FAIL: the Windows build failed"; exit 1; }
fi
# Up to date (a no-op when CI has just built everything); the stand-in shell may be new to an older folder.
cmake --build "$builddir" --target desktop-snow e2e-fake-shell -j "${DS_JOBS:-2}" >/dev/null ||
  { echo "FAIL: building desktop-snow.exe and e2e-fake-shell.exe failed"; exit 1; }

rm -rf "$out"
mkdir -p "$out/fb"

# --- display, prefix, clean-up --------------------------------------------------------------------------
export WINEPREFIX=$root/build/wineprefix-e2e  # its own, so the registry changes here touch no other run
export WINEARCH=win32
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installer prompts: wineboot takes seconds
export WINEDEBUG=${WINEDEBUG:--all}

xvfb_pid="" wm_pid="" prog_pid="" shell_pid=""
cleanup() {
  for p in $prog_pid $shell_pid; do kill "$p" 2>/dev/null; done
  wineserver -k 2>/dev/null
  [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null
}
trap cleanup EXIT
trap 'exit 130' INT TERM

e2e_display 90 120
# Without a window manager wine waits two seconds for one each time it shows or hides one of its managed
# windows (start-up, the menu's end, Exit); a minimal one answers at once, as a desktop's would.
python3 "$root/scripts/e2e/tinywm.py" >"$out/tinywm.log" 2>&1 &
wm_pid=$!
for _ in $(seq 30); do grep -q running "$out/tinywm.log" 2>/dev/null && break; sleep 0.1; done
grep -q running "$out/tinywm.log" || { echo "FAIL: the window manager did not start: $(cat "$out/tinywm.log")"; exit 1; }

# The desktop process of a prefix keeps the display it started on: start from nothing on this display.
wineserver -k 2>/dev/null
winelog=$out/wine.log
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  note "creating the wine prefix $WINEPREFIX"
  wineboot -i </dev/null >>"$winelog" 2>&1
  wineserver -w
fi
wineserver -p </dev/null >>"$winelog" 2>&1  # one server for the whole run: later starts take a fraction of a second
wineboot </dev/null >>"$winelog" 2>&1

# --- helpers --------------------------------------------------------------------------------------------
set_wallpaper() {
  wine reg add 'HKCU\Control Panel\Desktop' /v WallPaper /t REG_SZ /d "$1" /f >>"$winelog" 2>&1
}
start_program() {
  wine "$exe" >>"$out/program.log" 2>&1 &
  prog_pid=$!
}
# Waits up to $2 seconds for a window named exactly $1; prints its X window ids.
wait_window() {
  local ids
  for _ in $(seq $(($2 * 10))); do
    ids=$(xdotool search --name "^$1\$" 2>/dev/null) && { echo "$ids"; return 0; }
    sleep 0.1
  done
  return 1
}
# The program's X windows that are mapped now (wine's popup menus are override-redirect windows of their own).
mapped_windows() {
  xdotool search --onlyvisible --class 'desktop-snow' 2>/dev/null | sort
}
# Geometry "X Y W H" of X window $1.
geometry() {
  local X Y WIDTH HEIGHT
  eval "$(xdotool getwindowgeometry --shell "$1" 2>/dev/null | grep -E '^(X|Y|WIDTH|HEIGHT)=')"
  echo "${X:-0} ${Y:-0} ${WIDTH:-0} ${HEIGHT:-0}"
}
# Opens the context menu with a right-click at ($1, $2); prints the menu's X window id.
open_menu() {
  local before after id
  before=$(mapped_windows)
  xdotool mousemove "$1" "$2" click 3
  for _ in $(seq 30); do
    sleep 0.1
    after=$(mapped_windows)
    id=$(comm -13 <(echo "$before") <(echo "$after") | head -n1)
    [ -n "$id" ] && { echo "$id"; return 0; }
  done
  return 1
}
# select_in_menu sends keys to the menu in X window $1 and waits up to 8 s until its selected item lies in
# the top ("top") or bottom ("bottom") quarter of the menu, so the next key reaches the intended item.
select_in_menu() {
  local win=$1 where=$2 geo at
  shift 2
  geo=$(geometry "$win")
  xdotool key "$@"
  for _ in $(seq 80); do
    at=$(python3 "$screen_py" selection "$fb" $geo)
    case "$where" in
      top) awk -v a="$at" 'BEGIN {exit !(a >= 0 && a < 0.25)}' && return 0 ;;
      bottom) awk -v a="$at" 'BEGIN {exit !(a > 0.75)}' && return 0 ;;
    esac
    sleep 0.1
  done
  return 1
}
# Waits up to $2 seconds for a new mapped X window not in the list $1; prints its id.
wait_new_window() {
  local id
  for _ in $(seq $(($2 * 10))); do
    id=$(comm -13 <(echo "$1") <(mapped_windows) | head -n1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}

# Runs a screen check of screen.py on a screenshot; its PASS/FAIL lines count like the script's own.
screen_check() {
  local line
  while IFS= read -r line; do
    case "$line" in
      PASS:*) echo "$line" ;;
      FAIL:*) echo "$line"; failures=$((failures + 1)) ;;
      *) echo "   $line" ;;
    esac
  done < <(python3 "$screen_py" "$@" 2>&1 || echo "FAIL: screen.py $1 could not read the screenshot")
}
now_ms() { date +%s%3N; }

# --- a. the prefix and its wallpaper --------------------------------------------------------------------
note "a. wine prefix with a test wallpaper ($(wine --version))"
wallpaper=$out/wallpaper.bmp
python3 "$screen_py" wallpaper "$wallpaper" 320 200
wallpaper_win=$(winepath -w "$wallpaper" 2>>"$winelog")
set_wallpaper "$wallpaper_win"
if wine reg query 'HKCU\Control Panel\Desktop' /v WallPaper 2>>"$winelog" | tr -d '\r' | grep -qF "$wallpaper_win"; then
  pass "HKCU\\Control Panel\\Desktop WallPaper = $wallpaper_win (320x200, four coloured quadrants)"
else
  fail "WallPaper could not be set to $wallpaper_win"
fi

# --- b. start: the wallpaper stretched over the screen, with snow ---------------------------------------
note "b. start-up with the wallpaper"
# The pointer sits where the right-click will happen, so it is in the same place in every screenshot.
xdotool mousemove 300 300
start_program
if form=$(wait_window "Kirno Desktop" 30); then
  pass "the program's window \"Kirno Desktop\" is on the screen ($(geometry "$(echo "$form" | head -n1)"))"
  # The first frames follow within a second or two; on a busy machine they may take longer.
  waited=0
  while :; do
    sleep 1
    waited=$((waited + 1))
    white=$(shot b-wallpaper-and-snow) || white=0
    [ "${white:-0}" -ge 200 ] || [ "$waited" -ge 15 ] && break
  done
  screen_check quadrants "$fb" "$surface_w" "$surface_h"
  if [ "${white:-0}" -ge 200 ]; then
    pass "snow on the wallpaper after $waited s: $white near-white pixels (build/e2e/b-wallpaper-and-snow.png)"
  else
    fail "no snow within $waited s: only ${white:-0} near-white pixels (build/e2e/b-wallpaper-and-snow.png)"
  fi
else
  fail "no window \"Kirno Desktop\" within 30 s (see $out/program.log)"
fi

# --- c. the context menu and "Snow storm" ---------------------------------------------------------------
note "c. context menu, Snow storm"
if [ -n "$prog_pid" ]; then
  before=$(mean_white c-before 5)
  if menu=$(open_menu 300 300); then
    pass "a right-click opens the context menu (window $(geometry "$menu"))"
    shot c-menu >/dev/null
    # The keyboard reaches the menu reliably under wine (the platform makes the owner the foreground
    # window first); positions of items would depend on the font.
    select_in_menu "$menu" top Down || fail "the menu does not select its first item within 8 s"
    menus=$(mapped_windows)
    xdotool key Right
    if sub=$(wait_new_window "$menus" 8); then
      pass "the Snowflakes submenu opens (window $(geometry "$sub"))"
      select_in_menu "$sub" bottom Down Down Down Down || fail "the submenu does not select its last item"
      sleep 0.3
      shot c-snow-storm-chosen >/dev/null
    else
      fail "no Snowflakes submenu"
    fi
    xdotool key Return
    sleep 1.5
    if mapped_windows | grep -qx "$menu"; then fail "the menu is still open after the choice"; fi
    after=$(mean_white c-after 5)
    if [ "$after" -ge $((before * 2)) ]; then
      pass "Snow storm raises the snow: $before -> $after near-white pixels (mean of 5 screenshots each)"
    else
      fail "Snow storm does not raise the snow enough: $before -> $after near-white pixels (want twice)"
    fi
  else
    fail "no menu window appeared after the right-click"
  fi
else
  fail "the program is not running"
fi

# --- d. Exit --------------------------------------------------------------------------------------------
note "d. Exit"
# Chooses Exit from the context menu (the last item: Up from no selection); prints the milliseconds the
# program took to end, or fails.
exit_from_menu() {
  local t0 menu
  menu=$(open_menu 300 300) || { fail "$1: no menu for Exit"; return 1; }
  select_in_menu "$menu" bottom Up || { fail "$1: the menu does not select Exit within 8 s"; return 1; }
  sleep 0.2
  t0=$(now_ms)
  xdotool key Return
  if wait_program 2; then
    local ms=$(($(now_ms) - t0))
    if [ "$prog_status" = 0 ]; then
      pass "$1: Exit ends the program with status 0 after $ms ms"
    else
      fail "$1: Exit ends the program with status $prog_status"
    fi
  else
    fail "$1: the program still runs 2 s after Exit"
    stop_program
  fi
}
if [ -n "$prog_pid" ]; then exit_from_menu "with wallpaper"; else fail "the program is not running"; fi

# --- e. empty WallPaper: one message box, then Exit still works -----------------------------------------
note "e. empty WallPaper"
set_wallpaper ""
start_program
# The application window carries the same title as a 1x1 window; a message box is larger.
boxes() {
  local w
  for w in $(xdotool search --onlyvisible --name "^Kirno Desktop Snow\$" 2>/dev/null); do
    set -- $(geometry "$w")
    [ "${3:-0}" -gt 20 ] && [ "${4:-0}" -gt 20 ] && echo "$w"
  done
}
found=""
for _ in $(seq 150); do
  found=$(boxes)
  [ -n "$found" ] && break
  sleep 0.1
done
if [ -n "$found" ]; then
  sleep 1  # a second box would have come by now
  count=$(boxes | wc -l)
  shot e-message-box >/dev/null
  if [ "$count" = 1 ]; then
    pass "one message box captioned \"Kirno Desktop Snow\" ($(geometry "$(boxes)"), build/e2e/e-message-box.png)"
  else
    fail "$count message boxes captioned \"Kirno Desktop Snow\""
  fi
  # The minimal window manager leaves the X keyboard focus with the pointer: put it on the box for the key.
  set -- $(geometry "$(boxes | head -n1)")
  xdotool mousemove $(($1 + $3 / 2)) $(($2 + $4 / 2))
  sleep 0.2
  xdotool key Return
  for _ in $(seq 80); do [ -z "$(boxes)" ] && break; sleep 0.1; done
  xdotool mousemove 300 300
  if [ -z "$(boxes)" ]; then pass "Return dismisses the message box"; else fail "the message box is still open 8 s after Return"; fi
  if kill -0 "$prog_pid" 2>/dev/null && wait_window "Kirno Desktop" 5 >/dev/null; then
    pass "the program goes on without a wallpaper"
    sleep 0.5
    shot e-no-wallpaper >/dev/null
    exit_from_menu "without wallpaper"
  else
    fail "the program did not go on after the message box"
  fi
else
  fail "no message box captioned \"Kirno Desktop Snow\" within 15 s"
fi
stop_program

# --- f. the desktop arrangements, checked through the Windows API --------------------------------------
note "f. desktop arrangements of a stand-in shell"
# Under wine 8 drawing into another process's child window does not show on the X display, so b to e use
# the not-attached path; here the stand-in shell builds each arrangement and checks the window tree itself.
set_wallpaper "$wallpaper_win"
# The stand-in's user window is magenta; this rectangle lies well inside it (see fake_shell.cpp).
user_window="650 510 220 140"
# shell_case ARRANGEMENT: runs the stand-in shell with that arrangement and the program against it.
shell_case() {
  local arrangement=$1 shell_log=$out/fake-shell-$1.log shell_status="" shown="" clicked="" line
  echo "-- $arrangement"
  wine "$shell_exe" "$arrangement" 30 >"$shell_log" 2>&1 &
  shell_pid=$!
  for _ in $(seq 200); do grep -q '^READY' "$shell_log" 2>/dev/null && break; kill -0 "$shell_pid" 2>/dev/null || break; sleep 0.1; done
  if ! grep -q '^READY' "$shell_log"; then
    fail "$arrangement: the stand-in shell did not start: $(tr -d '\r' <"$shell_log" | head -n3)"
    kill "$shell_pid" 2>/dev/null; wait "$shell_pid" 2>/dev/null; shell_pid=""
    return
  fi
  start_program
  # Follow the stand-in: a screenshot once the form shows, the click it asks for, a screenshot after it.
  for _ in $(seq 600); do
    if [ -z "$shown" ] && grep -q '^SHOWN' "$shell_log"; then
      shown=1
      sleep 0.3
      shot "f-$arrangement" >/dev/null
    fi
    if [ -z "$clicked" ] && line=$(grep -m1 '^CLICK ' "$shell_log" | tr -d '\r'); then
      clicked=1
      set -- $line
      xdotool mousemove "$2" "$3" click 1
    fi
    if [ "$clicked" = 1 ] && grep -q '^CLICKED' "$shell_log"; then
      local after=$out/f-$arrangement-after-click
      cp "$fb" "$after.xwd"
      screen_check colour "$after.xwd" $user_window ff00ff "$arrangement: on the screen the user's window is in front of the snow"
      python3 "$screen_py" shot "$after.xwd" "$after.png" && rm -f "$after.xwd"
      clicked=done
    fi
    kill -0 "$shell_pid" 2>/dev/null || break
    sleep 0.1
  done
  if ! kill -0 "$shell_pid" 2>/dev/null; then wait "$shell_pid"; shell_status=$?; else kill "$shell_pid" 2>/dev/null; fi
  shell_pid=""
  while IFS= read -r line; do
    line=${line%$'\r'}
    case "$line" in
      PASS:*) echo "PASS: $arrangement: ${line#PASS: }" ;;
      FAIL:*) echo "FAIL: $arrangement: ${line#FAIL: }"; failures=$((failures + 1)) ;;
    esac
  done <"$shell_log"
  [ "$shell_status" = 0 ] || fail "$arrangement: the stand-in shell ended with status ${shell_status:-(still running)}"
  if [ -n "$prog_pid" ] && wait_program 5; then
    if [ "$prog_status" = 0 ]; then pass "$arrangement: closed by the stand-in, the program ends with status 0"
    else fail "$arrangement: closed by the stand-in, the program ends with status $prog_status"; fi
  else
    fail "$arrangement: the program did not end after WM_CLOSE"
    stop_program
  fi
}
for arrangement in plain win11 win10 icons-hidden none; do shell_case "$arrangement"; done

echo "== end-to-end check took $(($(date +%s) - started)) s; screenshots in $out"
if [ "$failures" -gt 0 ]; then
  echo "== $failures check(s) failed"
  exit 1
fi
echo "== all checks passed"
