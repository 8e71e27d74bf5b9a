#!/usr/bin/env bash
# Usage: scripts/check-install.sh BUILD_DIR
# Installs a Linux build into a temporary prefix as `cmake --install` does for a user, checks that the program,
# its wallpaper, the menu entry, the autostart entry, an icon and the manual page are where the desktop and
# `man` look for them, then runs the installed program headless from a folder outside the source tree: it must
# find the wallpaper installed beside it and draw exactly what the build tree's program draws. Each step prints
# PASS or FAIL; the status is 1 when one failed.
set -euo pipefail
build=$(cd "${1:?usage: scripts/check-install.sh BUILD_DIR}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
fail=0
pass() { echo "PASS $*"; }
flunk() {
  echo "FAIL $*"
  fail=1
}

if cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1; then
  pass "cmake --install into a fresh prefix"
else
  cat "$work/install.log"
  flunk "cmake --install into a fresh prefix"
fi
for f in bin/desktop-snow share/desktop-snow/wallpaper.jpg share/applications/desktop-snow.desktop \
  share/desktop-snow/autostart/desktop-snow.desktop share/icons/hicolor/48x48/apps/desktop-snow.png \
  share/man/man1/desktop-snow.1.gz; do
  if [ -s "$prefix/$f" ]; then pass "installed $f"; else flunk "installed $f"; fi
done
[ -x "$prefix/bin/desktop-snow" ] && pass "the program is executable" || flunk "the program is executable"
if gzip -dc "$prefix/share/man/man1/desktop-snow.1.gz" 2>/dev/null | grep -q '^\.TH DESKTOP-SNOW 1' &&
  ! gzip -dc "$prefix/share/man/man1/desktop-snow.1.gz" | grep -q '@[A-Z_]*@'; then
  pass "the manual page is a filled-in page of section 1"
else
  flunk "the manual page is a filled-in page of section 1"
fi
if gzip -dc "$prefix/share/man/man1/desktop-snow.1.gz" 2>/dev/null | grep -qF "$prefix/share/desktop-snow/wallpaper.jpg"; then
  pass "the manual page names the wallpaper where it was installed"
else
  flunk "the manual page names the wallpaper where it was installed"
fi
for f in share/applications/desktop-snow.desktop share/desktop-snow/autostart/desktop-snow.desktop; do
  if grep -q '^\[Desktop Entry\]' "$prefix/$f" && grep -q '^Exec=.*desktop-snow' "$prefix/$f"; then
    pass "$f starts desktop-snow"
  else
    flunk "$f starts desktop-snow"
  fi
done

if command -v desktop-file-validate >/dev/null 2>&1; then
  if desktop-file-validate "$prefix/share/applications/desktop-snow.desktop" \
    "$prefix/share/desktop-snow/autostart/desktop-snow.desktop"; then
    pass "the desktop entries are valid"
  else
    flunk "the desktop entries are valid"
  fi
fi

# Both programs run where no source tree and no user settings are: only the wallpaper beside the installed
# program can be drawn. No display: headless runs the virtual desktop anyway.
mkdir -p "$work/run/home"
run() {
  (cd "$work/run" && env -u DISPLAY HOME="$work/run/home" XDG_CONFIG_HOME="$work/run/home/.config" \
    "$1" --headless --frames 10 --seed 7 --snapshot "$2" >/dev/null)
}
if run "$prefix/bin/desktop-snow" "$work/installed.png" 2>"$work/installed.err"; then
  pass "the installed program runs headless"
else
  cat "$work/installed.err"
  flunk "the installed program runs headless"
fi
if [ -s "$work/installed.err" ]; then
  cat "$work/installed.err"
  flunk "the installed program reports nothing (no wallpaper error)"
else
  pass "the installed program reports nothing (no wallpaper error)"
fi
run "$build/desktop-snow" "$work/built.png" 2>/dev/null || true
if [ -s "$work/installed.png" ] && cmp -s "$work/installed.png" "$work/built.png"; then
  pass "the installed program draws the bundled wallpaper as the build tree's does"
else
  mkdir -p "$build/check-install"
  cp -f "$work"/*.png "$build/check-install/" 2>/dev/null || true
  flunk "the installed program draws the bundled wallpaper as the build tree's does (pictures in $build/check-install)"
fi
exit "$fail"
