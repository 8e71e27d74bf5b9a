#!/usr/bin/env bash
# Installs everything the build, the tests, the fuzzers and the benchmarks need (Debian, as root or with sudo).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/apt.sh
pkgs=(build-essential cmake ninja-build pkg-config ccache zlib1g-dev libjpeg62-turbo-dev libgtest-dev
      libgmock-dev libbenchmark-dev libpixman-1-dev libpng-dev libdeflate-dev clang lld libclang-rt-dev clang-format python3
      procps
      # The Linux desktop backend: Xlib with shared memory, Present and RandR; GTK 3 for menus and dialogs.
      libx11-dev libxext-dev libxpresent-dev libxrandr-dev libgtk-3-dev
      # The window-system contract suite types into X11 popup menus through XTest.
      libxtst-dev
      # Its end-to-end check and CPU benchmark: a virtual display, a window manager, two desktop programs,
      # a terminal to stack over the snow, input and window tools, and the yardstick the CPU figures are
      # measured against.
      xvfb xauth x11-utils xdotool openbox pcmanfm xfdesktop4 xfconf dbus-x11 xterm xsnow)
mapfile -t missing < <(apt_missing "${pkgs[@]}")
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  apt_update
  apt_install "${missing[@]}"
fi
