#!/usr/bin/env bash
# make_material.sh DIR [SECONDS]: repeatable music-like material made with sox, 44.1 kHz 16-bit:
#   DIR/music.wav   stereo: vibrato tones, noise bursts and plucked notes, mixed apart per side
#   DIR/pink.wav    stereo pink noise
#   DIR/bursts.wav  stereo applause-like bursts: many short decaying noise hits over a noise bed
set -eu
D=$1; T=${2:-25}
mkdir -p "$D" && cd "$D"
M="-R -r 44100 -c 1 -n"; O="-b 32 -e floating-point"
sox $M $O t1.wav synth $T sine 5.1 synth $T sine fmod 261.63 gain -12
sox $M $O t2.wav synth $T sine 5.7 synth $T sine fmod 329.63 gain -14
sox $M $O t3.wav synth $T sine 4.3 synth $T triangle fmod 392 gain -16
sox $M $O t4.wav synth $T sine 6.2 synth $T sine fmod 1046.5 gain -20
sox $M $O b1.wav synth 0.12 pinknoise fade q 0.003 0.12 0.08 gain -10 pad 0 0.38 repeat $((T * 2 - 1))
sox $M $O b2.wav synth 0.04 whitenoise gain -14 highpass 5000 fade q 0.001 0.04 0.03 pad 0 0.21 repeat $((T * 4 - 1))
for n in E2 A2 D3 G3 B3 E4; do sox $M $O p_$n.wav synth 0.4 pluck $n gain -6; done
sox p_E2.wav p_A2.wav p_D3.wav p_G3.wav p_B3.wav p_E4.wav p_B3.wav p_G3.wav p.wav repeat $((T / 3 + 1)) trim 0 $T
sox -R -M t1.wav t2.wav t3.wav t4.wav b1.wav b2.wav p.wav $O mix.wav \
  remix 1v0.9,2v0.5,3v0.7,4v0.4,5v0.4,6v0.8,7v0.7 1v0.5,2v0.9,3v0.4,4v0.7,5v0.8,6v0.4,7v0.7
sox -R mix.wav -b 16 -e signed music.wav highpass 20 gain -n -1
sox -R -n -r 44100 -c 2 -b 16 -e signed pink.wav synth $T pinknoise gain -n -3
# Claps: 30 ms noise hits, several per beat, on a quiet noise bed.
sox $M $O c1.wav synth 0.03 whitenoise band 1500 1200 fade q 0.001 0.03 0.025 pad 0 0.043 repeat $((T * 14 - 1))
sox $M $O c2.wav synth 0.02 pinknoise fade q 0.001 0.02 0.018 pad 0 0.061 repeat $((T * 12 - 1))
sox $M $O bed.wav synth $T pinknoise gain -24
sox -R -M c1.wav c2.wav bed.wav $O claps.wav remix 1v0.8,2v0.5,3v1 1v0.5,2v0.8,3v1
sox -R claps.wav -b 16 -e signed bursts.wav trim 0 $T gain -n -2
rm -f t?.wav b?.wav p_*.wav p.wav c?.wav bed.wav mix.wav claps.wav
