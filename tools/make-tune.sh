#!/usr/bin/env bash
# Regenerates assets/bg.mp3, the background tune of 知微阁, from nothing but
# sox's own synthesizer. Safe to run again at any time; run from anywhere.
#
# The tune: 8 bars at 80 bpm (24 s) in D major pentatonic. A plucked melody
# over a soft sine pad (D - Bm - G - Asus2, twice), with reverb. Everything
# is first rendered on a timeline a few seconds longer than the loop; the part
# that rings past the end (pad fades, pluck decays, reverb) is then folded
# back onto the start, so the last bar flows into the first when the player
# loops the file.
#
#   tools/make-tune.sh                      assets/bg.mp3
#   tools/make-tune.sh --seconds 3 t.mp3    a short test tune: the pad's first
#                                           chord, sounding from end to end, so
#                                           that any moment of it is heard
#
# Needs: sox with MP3 support (Debian: sox libsox-fmt-mp3), awk.
set -euo pipefail
export LC_ALL=C

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
OUT="$ROOT/assets/bg.mp3"
SHORT=
if [[ ${1:-} == --seconds ]]; then
    SHORT=${2:?"usage: make-tune.sh [--seconds N OUT]"}
    OUT=${3:?"usage: make-tune.sh [--seconds N OUT]"}
fi

WORK="$(mktemp -d "${TMPDIR:-/tmp}/zhiwei-tune.XXXXXX")"
trap 'rm -rf "$WORK"' EXIT

RATE=44100
BEAT=0.75          # seconds per beat, 80 bpm
BARS=8
LOOP=24            # BARS * 4 * BEAT
TAIL=5             # extra time rendered past the loop end, folded back
FULL=$((LOOP + TAIL))

# -R: fixed seeds (pluck noise, dither) so every run gives the same file.
SOX=(sox -R -V1)
F32=(-e floating-point -b 32)

if [[ -n $SHORT ]]; then
    # D major, as the first bar; short fades so that a loop does not click.
    "${SOX[@]}" -n -r $RATE -c 1 "${F32[@]}" "$WORK/short.wav" \
        synth "$SHORT" sine %-19 sine mix %-12 sine mix %-3 \
        tremolo 0.5 18 gain -n -6 fade q 0.015 "$SHORT" 0.015
    "${SOX[@]}" "$WORK/short.wav" --comment "" -r $RATE -c 2 -C 80 "$WORK/short.mp3"
    mkdir -p "$(dirname "$OUT")"
    mv -f "$WORK/short.mp3" "$OUT"
    echo "wrote $OUT ($(wc -c <"$OUT") bytes)"
    exit 0
fi

# Melody: start beat, length in beats, pitch in semitones from A4 (A4 = 0).
# D4=-7 E4=-5 F#4=-3 A4=0 B4=2 D5=5 E5=7 F#5=9
MELODY='
0 1 -3    1 1 0     2 1 2     3 1 0
4 2 5     6 1 2     7 1 0
8 1 2     9 1 5     10 1 7    11 1 5
12 2 7    14 1 5    15 1 2
16 1 0    17 1 -3   18 1 0    19 1 5
20 2 9    22 1 7    23 1 5
24 1 2    25 1 5    26 1 2    27 1 0
28 1 -5   29 1 -3   30 2 0
'

# Pad: one chord per bar, three voices each (semitones from A4).
#            D            Bm           G            Asus2
CHORDS=('-19 -12 -3' '-22 -15 -7' '-26 -19 -10' '-24 -17 -10')

notes=()
n=0
# shellcheck disable=SC2086
set -- $MELODY
while [ $# -ge 3 ]; do
    start=$(awk -v b="$1" -v t="$BEAT" 'BEGIN { printf "%.4f", b * t }')
    ring=$(awk -v l="$2" -v t="$BEAT" 'BEGIN { printf "%.4f", l * t + 1.8 }')
    # alternate the notes a little left and right
    if [ $((n % 2)) -eq 0 ]; then pan='1v0.62 1v0.45'; else pan='1v0.45 1v0.62'; fi
    f="$WORK/note$n.wav"
    # plucked string, doubled quietly by a sine an octave up for a bell-like top
    "${SOX[@]}" -n -r $RATE -c 1 "${F32[@]}" "$WORK/pluck$n.wav" synth "$ring" pluck "%$3" \
        fade q 0.004 "$ring" 0.9
    "${SOX[@]}" -n -r $RATE -c 1 "${F32[@]}" "$WORK/bell$n.wav" synth "$ring" sine "%$(($3 + 12))" \
        fade q 0.01 "$ring" "$ring" vol 0.06
    "${SOX[@]}" -m -v 1 "$WORK/pluck$n.wav" -v 1 "$WORK/bell$n.wav" -c 2 "${F32[@]}" "$f" \
        lowpass 3200 remix $pan pad "$start"
    notes+=(-v 1 "$f")
    n=$((n + 1))
    shift 3
done
"${SOX[@]}" -m "${notes[@]}" "${F32[@]}" "$WORK/melody.wav" pad 0 "$FULL" trim 0 "$FULL"

bar_len=$(awk -v t="$BEAT" 'BEGIN { printf "%.4f", 4 * t }')
pad_len=$(awk -v t="$BEAT" 'BEGIN { printf "%.4f", 4 * t + 2.0 }')
chords=()
for ((bar = 0; bar < BARS; bar++)); do
    read -r a b c <<<"${CHORDS[$((bar % 4))]}"
    start=$(awk -v i="$bar" -v l="$bar_len" 'BEGIN { printf "%.4f", i * l }')
    for side in L R; do
        # the right channel is tuned a hair sharp for a slow, wide shimmer
        detune=0; [ "$side" = R ] && detune=0.04
        "${SOX[@]}" -n -r $RATE -c 1 "${F32[@]}" "$WORK/chord$bar$side.wav" \
            synth "$pad_len" sine "%$(awk -v s="$a" -v d="$detune" 'BEGIN { print s + d }')" \
                             sine mix "%$(awk -v s="$b" -v d="$detune" 'BEGIN { print s + d }')" \
                             sine mix "%$(awk -v s="$c" -v d="$detune" 'BEGIN { print s + d }')" \
            tremolo 0.25 18 fade h 1.2 "$pad_len" 2.0
    done
    "${SOX[@]}" -M "$WORK/chord${bar}L.wav" "$WORK/chord${bar}R.wav" "${F32[@]}" "$WORK/chord$bar.wav" \
        pad "$start"
    chords+=(-v 1 "$WORK/chord$bar.wav")
done
"${SOX[@]}" -m "${chords[@]}" "${F32[@]}" "$WORK/pad.wav" pad 0 "$FULL" trim 0 "$FULL"

# Mix, add room, fold the overhang back onto the start.
"${SOX[@]}" -m -v 1.0 "$WORK/melody.wav" -v 0.22 "$WORK/pad.wav" "${F32[@]}" "$WORK/mix.wav" \
    reverb 45 50 85 100 12 trim 0 "$FULL"
"${SOX[@]}" "$WORK/mix.wav" "$WORK/head.wav" trim 0 "$LOOP"
"${SOX[@]}" "$WORK/mix.wav" "$WORK/tail.wav" trim "$LOOP"
"${SOX[@]}" -m -v 1 "$WORK/head.wav" -v 1 "$WORK/tail.wav" "${F32[@]}" "$WORK/loop.wav" \
    trim 0 "$LOOP" gain -n -4 fade q 0.015 "$LOOP" 0.015

mkdir -p "$(dirname "$OUT")"
# 80 kbit/s stereo MP3, no tags.
"${SOX[@]}" "$WORK/loop.wav" --comment "" -r $RATE -c 2 -C 80 "$WORK/bg.mp3"
mv -f "$WORK/bg.mp3" "$OUT"
echo "wrote $OUT ($(wc -c <"$OUT") bytes)"
