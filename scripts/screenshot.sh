#!/usr/bin/env bash
# Draws the main window with the playlist docked below it under Xvfb and
# writes docs/screenshot.png and the screenshot test's reference pictures
# (tests/data/qt). Needs a configured build folder (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cmake --build "$build" --target tunara-screenshot >/dev/null
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" \
  "$build/tests/tunara-screenshot" --write "$out" >/dev/null
mkdir -p docs tests/data/qt
# The equaliser window again at twice the pixels.
QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=2 xvfb-run -a -s "-screen 0 1024x768x24" \
  "$build/tests/tunara-screenshot" --write "$out" >/dev/null
cp "$out/docked.png" docs/screenshot.png
cp "$out"/main.png "$out"/playlist.png "$out"/options-*.png "$out"/cd.png "$out"/recording.png \
  "$out"/equaliser.png "$out"/equaliser@2x.png tests/data/qt/
echo "wrote docs/screenshot.png and the reference pictures in tests/data/qt"
