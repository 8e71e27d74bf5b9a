#!/usr/bin/env bash
# Usage: bench/desktop-cpu.sh [release|debug]   (default release; builds desktop-snow first)
# What the program costs on an X desktop, against Debian's xsnow: on a virtual display of 1920x1080 (Xvfb,
# with openbox as the window manager) each subject runs 10 s to warm up, then 30 s measured:
#   - its processor time per second of wall time (user + system, from /proc), and the X server's;
#   - the frames per second the screen shows (bench/frame_counter.py, from the X DAMAGE extension);
#   - its resident memory at the end.
# Subjects: desktop-snow at its default density ("Medium", 300 flakes), desktop-snow at "Snow storm"
# (1000 flakes), and xsnow with about 1000 flakes and no scenery (no trees, Santa, birds, moon, stars,
# meteors or aurora). The last line reads
#   cpu: X %; xserver: Y %; fps: F; rss: R MB; xsnow cpu: A %; xsnow xserver: B %
# with desktop-snow's figures at its default density.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
config=${1:-release}
. "$root/scripts/e2e/common.sh"
linux_builddir "$config"
warmup=${DS_BENCH_WARMUP:-10}
measure=${DS_BENCH_SECONDS:-30}
out=$root/build/desktop-cpu
rm -rf "$out"
mkdir -p "$out/home"

for tool in Xvfb openbox xdotool python3; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }
done
xsnow=$(command -v xsnow || echo /usr/games/xsnow)
[ -x "$xsnow" ] || { echo "xsnow is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }
bash scripts/build.sh "$config" --target desktop-snow >/dev/null || { echo "the build failed" >&2; exit 1; }
program=$builddir/desktop-snow

export HOME=$out/home XDG_CONFIG_HOME=$out/home/.config
export NO_AT_BRIDGE=1
unset XDG_CURRENT_DESKTOP

xvfb_pid="" wm_pid="" subject_pid=""
cleanup() {
  for p in $subject_pid $wm_pid $xvfb_pid; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
}
trap cleanup EXIT
trap 'exit 130' INT TERM

start_xvfb 171 199 1920x1080 "$out/xvfb.log" || exit 1
openbox --sm-disable >"$out/openbox.log" 2>&1 &
wm_pid=$!
sleep 1

ticks=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null || echo 0; }
rss_mb() { awk '/^VmRSS/ {printf "%.1f", $2 / 1024}' "/proc/$1/status" 2>/dev/null || echo 0; }
percent() { awk -v t="$1" -v s="$measure" -v hz="$ticks" 'BEGIN {printf "%.1f", 100 * t / hz / s}'; }

# measure NAME: the subject (subject_pid) is running; sets cpu, xcpu, fps, rss.
measure() {
  sleep "$warmup"
  local c0 x0 c1 x1
  c0=$(cpu_ticks "$subject_pid")
  x0=$(cpu_ticks "$xvfb_pid")
  fps=$(python3 bench/frame_counter.py "$measure")
  c1=$(cpu_ticks "$subject_pid")
  x1=$(cpu_ticks "$xvfb_pid")
  cpu=$(percent $((c1 - c0)))
  xcpu=$(percent $((x1 - x0)))
  rss=$(rss_mb "$subject_pid")
  echo "$1: cpu $cpu %, X server $xcpu %, $fps frames per second, resident $rss MB"
}
stop_subject() {
  kill "$subject_pid" 2>/dev/null
  wait "$subject_pid" 2>/dev/null
  subject_pid=""
}

# The program over its bundled wallpaper (no desktop program: the backdrop window).
"$program" >"$out/desktop-snow.log" 2>&1 &
subject_pid=$!
measure "desktop-snow, Medium (300 flakes)"
snow_cpu=$cpu snow_x=$xcpu snow_fps=$fps snow_rss=$rss

# Snow storm, chosen from the menu: Snowflakes > Very few, Few, Medium, Many, Snow storm.
xdotool mousemove 400 300 click 3
sleep 1
xdotool key --delay 100 Down Right Down Down Down Down Return
measure "desktop-snow, Snow storm (1000 flakes)"
stop_subject

"$xsnow" -nomenu -noconfig -defaults -notrees -nosanta -showbirds 0 -moon 0 -stars 0 -nometeors -aurora 0 \
  -flakecountmax 1000 -snowflakes 1000 >"$out/xsnow.log" 2>&1 &
subject_pid=$!
measure "xsnow, about 1000 flakes, no scenery"
stop_subject

echo "cpu: $snow_cpu %; xserver: $snow_x %; fps: $snow_fps; rss: $snow_rss MB; xsnow cpu: $cpu %; xsnow xserver: $xcpu %"
