#!/usr/bin/env bash
# Makes the tuning set of the speech service's search settings into OUTDIR: synthetic English
# speech in every general English voice of flite and two of espeak-ng, at three speaking rates,
# clean and degraded with sox (background noise, telephone band, reverberation). Each item is
# NAME.wav (16 kHz mono 16-bit) with the text it speaks in NAME.txt beside it.
#
# Every voice meets every condition once; the rate and the sentence turn with the item, so the
# set stays about two minutes long. The sentences (tuning/sentences.txt) are the project's own.
set -euo pipefail

if [ $# -ne 1 ]; then
    echo "usage: $0 OUTDIR" >&2
    exit 2
fi
out="$1"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
mapfile -t sentences < <(grep -v '^[[:space:]]*$' "$here/tuning/sentences.txt")
mkdir -p "$out"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# flite's awb_time is left out: it speaks clock times only.
voices=(flite:slt flite:rms flite:awb flite:kal16 flite:kal espeak:en-us espeak:en-gb-x-rp+f3)
conditions=(clean noise phone reverb)
# Slower, normal, faster: flite's duration stretch and espeak-ng's words per minute.
flite_stretch=(1.2 1.0 0.85)
espeak_wpm=(140 170 200)

item=0
for voice in "${voices[@]}"; do
    engine="${voice%%:*}"
    name="${voice#*:}"
    for condition in "${conditions[@]}"; do
        rate=$((item % 3))
        text="${sentences[$((item % ${#sentences[@]}))]}"
        base="$(printf '%02d' "$item")-${name%%+*}-r$rate-$condition"
        printf '%s\n' "$text" > "$out/$base.txt"
        raw="$work/raw.wav"
        if [ "$engine" = flite ]; then
            flite -voice "$name" --setf duration_stretch="${flite_stretch[$rate]}" -t "$text" -o "$raw"
        else
            espeak-ng -v "$name" -s "${espeak_wpm[$rate]}" -w "$raw" "$text"
        fi
        # Same level for every voice, a little silence around the speech, 16 kHz mono.
        sox -q "$raw" -r 16000 -c 1 -b 16 "$work/clean.wav" gain -n -3 pad 0.3 0.3
        case "$condition" in
        clean)
            cp "$work/clean.wav" "$out/$base.wav"
            ;;
        noise)
            # Pink noise about 20 dB below the speech, as from a fan or a busy room.
            length="$(soxi -D "$work/clean.wav")"
            sox -q -n -r 16000 -c 1 -b 16 "$work/noise.wav" synth "$length" pinknoise vol 0.03
            sox -q -m "$work/clean.wav" "$work/noise.wav" -b 16 "$out/$base.wav" gain -n -3
            ;;
        phone)
            # Telephone band: 300 to 3400 Hz through an 8 kHz channel.
            sox -q "$work/clean.wav" "$out/$base.wav" sinc 300-3400 rate 8000 rate 16000 gain -n -3
            ;;
        reverb)
            sox -q "$work/clean.wav" "$out/$base.wav" reverb 50 50 70 channels 1 gain -n -3
            ;;
        esac
        item=$((item + 1))
    done
done
echo "$item items in $out" >&2
