#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks, builds Tunara (Release) and
#   run  - plays the embedded default item in the windowed player (tunara),
#          or with tunara-cli in the terminal when there is no display;
#   test - runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:-run}

packages=(
  build-essential cmake ninja-build pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev
  libasound2-dev libpulse-dev
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-tools
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  gstreamer1.0-plugins-ugly gstreamer1.0-libav fluid-soundfont-gm
  qt6-base-dev qt6-svg-dev libqt6svg6-dev fonts-liberation
  libcdio-dev libcdio-paranoia-dev libcurl4-openssl-dev libflac-dev libdiscid-dev
  libebur128-dev
  ffmpeg
)
test_packages=(clang libclang-rt-14-dev lame mpg123 ffmpeg sox libfftw3-dev python3
  xvfb xauth cd-discid flac whipper xdg-utils imagemagick valgrind dbus playerctl
  pulseaudio)
[ "$mode" = test ] && packages+=("${test_packages[@]}")

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}"
fi

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$(nproc)"

case "$mode" in
  run)
    if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
      ./build/app/tunara build/app/default.wav
    else
      echo "No display (DISPLAY and WAYLAND_DISPLAY are unset): playing with tunara-cli in the terminal."
      ./build/app/tunara-cli play </dev/null
    fi ;;
  test) ctest --test-dir build --output-on-failure -j"$(nproc)" ;;
  *)    echo "usage: $0 run|test" >&2; exit 2 ;;
esac
