#!/usr/bin/env bash
# mp3_decode_vs_mpg123.sh [BUILD_DIR] [MINUTES] [RUNS]: decoding CPU time of `tunara-cli decode`
# against `mpg123 -s` (its default core), both writing PCM to /dev/null, on sox-made material:
# music-like at 128 and 320 kbit/s and at 22.05 kHz (64 kbit/s), pink noise and applause-like
# bursts at 128 kbit/s, each MINUTES long (25 s of material repeated; long enough that neither
# program's start-up counts). Runs interleave; the best of RUNS counts. Prints mpg123's time over
# ours (above 1: we are faster). Needs sox, lame, mpg123.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
B=$(cd "${1:-$here/../build}" && pwd); R=$(( ${2:-8} * 60 / 25 )); N=${3:-3}
CLI=$B/app/tunara-cli
W=$(mktemp -d); trap 'rm -rf "$W"' EXIT
"$here/tools/make_material.sh" "$W" 25 >/dev/null
cd "$W"
long() { sox -D "$1.wav" -t wav - repeat $((R - 1)) 2>/dev/null; }
long music | lame --quiet -b 128 - music128.mp3 &
long music | lame --quiet -b 320 - music320.mp3
long music | lame --quiet -b 64 --resample 22.05 - music22k.mp3 &
long pink | lame --quiet -b 128 - pink128.mp3
long bursts | lame --quiet -b 128 - bursts128.mp3
wait
cpu() { /usr/bin/time -f "%U %S" "$@" 2>&1 >/dev/null | tail -1 | awk '{print $1 + $2}'; }
printf '%-12s %9s %9s %7s\n' file "mpg123 s" "ours s" ratio
for f in music128 music320 music22k pink128 bursts128; do
    m=""; o=""
    for run in $(seq "$N"); do
        a=$(cpu mpg123 -q -s $f.mp3); b=$(cpu "$CLI" decode $f.mp3 -)
        m=$(awk -v x="$m" -v y="$a" 'BEGIN{print (x == "" || y < x) ? y : x}')
        o=$(awk -v x="$o" -v y="$b" 'BEGIN{print (x == "" || y < x) ? y : x}')
    done
    printf '%-12s %9s %9s %7.2f\n' "$f" "$m" "$o" "$(awk -v a="$m" -v b="$o" 'BEGIN{print a/b}')"
done
