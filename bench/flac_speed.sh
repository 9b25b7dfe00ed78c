#!/usr/bin/env bash
# FLAC encoding speed against the flac command at the same level, on one WAV, in one run.
# usage: bench/flac_speed.sh [BUILD_DIR] [SECONDS]; prints the best of five runs of each, in
# CPU seconds (user + system, so that a busy machine does not decide it), and their ratio
# (ours / flac; below 1.10 is within 10%).
set -euo pipefail
build=${1:-build}
seconds=${2:-300}
cli=$build/app/tunara-cli
command -v flac >/dev/null || { echo "flac is not installed" >&2; exit 2; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
# Music-like material: pink noise under a few tones, so neither side wins on silence.
sox -n -r 44100 -c 2 -b 16 "$dir/in.wav" synth "$seconds" pinknoise vol 0.4 \
  synth "$seconds" sine mix 440 synth "$seconds" sine mix 660 2>/dev/null
best() { local b=999999; for t in "$@"; do b=$(echo "$t $b" | awk '{print ($1<$2)?$1:$2}'); done; echo "$b"; }
timeit() { /usr/bin/time -f '%U %S' -o "$dir/time" "$@" >/dev/null 2>&1; awk '{print $1 + $2}' "$dir/time"; }
ours=() theirs=()
for _ in 1 2 3 4 5; do
  theirs+=("$(timeit flac -5 -f -s -o "$dir/ref.flac" "$dir/in.wav")")
  ours+=("$(timeit "$cli" encode "$dir/in.wav" "$dir/ours.flac" --level 5)")
done
t=$(best "${theirs[@]}"); o=$(best "${ours[@]}")
printf 'CPU time: flac -5 %.3f s, tunara-cli encode --level 5 %.3f s,  ratio %.3f\n' "$t" "$o" \
  "$(echo "$o / $t" | bc -l)"
