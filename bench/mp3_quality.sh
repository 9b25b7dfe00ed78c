#!/usr/bin/env bash
# mp3_quality.sh [BUILD_DIR] [SECONDS]: our MP3 encoder against lame on sox-made music-like
# material: noise-to-mask ratio (dB, lower is better) and share of frames with audible noise
# (tools/nmr.cpp), at 128, 192, 256 and 320 kbit/s, joint stereo and mono, and the encoding CPU
# time of both qualities against lame's default and `lame -f` (best of three, interleaved), on
# the material repeated to 150 s so that the programs' start-up (tens of milliseconds for ours,
# which loads the player's libraries) does not decide the ratio.
# Then --vbr 2 against lame -V2: size and the same measures. Needs g++, libfftw3-dev, sox, lame,
# mpg123.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
B=$(cd "${1:-$here/../build}" && pwd); T=${2:-25}
CLI=$B/app/tunara-cli
W=$(mktemp -d); trap 'rm -rf "$W"' EXIT
g++ -O2 -std=c++17 "$here/tools/nmr.cpp" -lfftw3 -o "$W/nmr"
"$here/tools/make_material.sh" "$W" "$T" >/dev/null
cd "$W"
sox music.wav -c 1 mono.wav
reps=$(( (150 + T - 1) / T - 1 ))
sox music.wav music_long.wav repeat "$reps"
sox mono.wav mono_long.wav repeat "$reps"
cpu() { /usr/bin/time -f "%U %S" "$@" 2>&1 >/dev/null | tail -1 | awk '{print $1 + $2}'; }
best() { local b=""; for t in "$@"; do b=$(awk -v a="$b" -v t="$t" 'BEGIN{print (a == "" || t < a) ? t : a}'); done; echo "$b"; }
measure() {  # measure REF.wav FILE.mp3 -> "nmr% audible%"
    mpg123 -q -w d.wav "$2"
    ./nmr "$1" d.wav | sed 's/.*nmr_db=\([^ ]*\) disturbed_pct=\([^ ]*\).*/\1 \2/'
}
printf '%-12s %16s %16s %8s %8s %8s %8s %7s %7s\n' "rate/mode" "lame nmr/aud%" "ours nmr/aud%" \
    "lame s" "ours s" "lame-f s" "fast s" "HQ x" "fast x"
for src in music mono; do
    for kbps in 128 192 256 320; do
        ours=() fast=() lame=() lamef=()
        for run in 1 2 3; do
            lame+=("$(cpu lame --quiet -b "$kbps" ${src}_long.wav l.mp3)")
            ours+=("$(cpu "$CLI" encode ${src}_long.wav o.mp3 --bitrate "$kbps")")
            lamef+=("$(cpu lame --quiet -f -b "$kbps" ${src}_long.wav lf.mp3)")
            fast+=("$(cpu "$CLI" encode ${src}_long.wav of.mp3 --fast --bitrate "$kbps")")
        done
        lame --quiet -b "$kbps" $src.wav l.mp3
        "$CLI" encode $src.wav o.mp3 --bitrate "$kbps" >/dev/null
        L=$(best "${lame[@]}"); O=$(best "${ours[@]}"); LF=$(best "${lamef[@]}"); F=$(best "${fast[@]}")
        read -r ln la <<<"$(measure $src.wav l.mp3)"
        read -r on oa <<<"$(measure $src.wav o.mp3)"
        printf '%-12s %16s %16s %8s %8s %8s %8s %7.2f %7.2f\n' "$kbps/$([ $src = mono ] && echo mono || echo joint)" \
            "$ln/$la" "$on/$oa" "$L" "$O" "$LF" "$F" "$(awk -v a="$L" -v b="$O" 'BEGIN{print a/b}')" \
            "$(awk -v a="$LF" -v b="$F" 'BEGIN{print a/b}')"
    done
done
echo
printf '%-10s %10s %16s\n' "VBR" "bytes" "nmr/aud%"
for q in 0 2 4 6 9; do
    lame --quiet -V$q music.wav lv.mp3; "$CLI" encode music.wav ov.mp3 --vbr $q
    read -r ln la <<<"$(measure music.wav lv.mp3)"; read -r on oa <<<"$(measure music.wav ov.mp3)"
    printf '%-10s %10s %16s\n' "lame -V$q" "$(stat -c %s lv.mp3)" "$ln/$la" "ours $q" "$(stat -c %s ov.mp3)" "$on/$oa"
done
