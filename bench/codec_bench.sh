#!/usr/bin/env bash
# Encode speed of x264vfw.dll under Wine, beside ffmpeg's libx264 at the same preset, on the
# same raw screen-like frames, in one run.
#
#   bench/codec_bench.sh [WIN32_BUILD]
#
# WIN32_BUILD holds x264vfw.dll and codec_bench.exe (default: $PARVELO_WIN32_BUILD, else
# build/win32). The Wine prefix is $WINEPREFIX, else one kept in ~/.cache (made on first use).
# Prints frames per second for 1366x768 and 1920x1080 and the ratio of the two encoders.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
tested=$("$repo/tools/windows-build.sh")
build=${1:-${PARVELO_WIN32_BUILD:-$repo/build/$tested}}
unique_frames=30
passes=3
key_rate=100
quality_crf=20 # what the driver's quality 7500 maps to (codec/quality_map.cpp)
preset=ultrafast # the driver's default preset (state byte 12 = 0)
runs=2          # best of, against noise from other work on the machine

export WINEPREFIX=${WINEPREFIX:-$HOME/.cache/parvelo-bench-wine-$tested}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
if [ ! -d "$WINEPREFIX" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  "$repo/tools/wine.sh" wineboot -i >/dev/null 2>&1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$build/x264vfw.dll" "$build/codec_bench.exe" "$work/"
cd "$work"

best() { sort -g | tail -n 1; }

printf '%-10s %14s %14s %7s %14s\n' size "x264vfw fps" "ffmpeg fps" ratio "x264vfw kbit/s"
for size in 1366x768 1920x1080; do
  width=${size%x*}
  height=${size#*x}
  frames_file=frames-$size.bgra
  "$repo/tools/wine.sh" codec_bench.exe write "$frames_file" "$width" "$height" "$unique_frames"
  total=$((unique_frames * passes))

  ours=()
  kbits=
  for _ in $(seq "$runs"); do
    out=$("$repo/tools/wine.sh" codec_bench.exe encode "$frames_file" "$width" "$height" "$unique_frames" \
      "$passes" "$key_rate" | tr -d '\r')
    ours+=("$(sed -n 's/^fps=//p' <<<"$out")")
    kbits=$(sed -n 's/^kbit_per_second=//p' <<<"$out")
  done

  theirs=()
  for _ in $(seq "$runs"); do
    rtime=$(ffmpeg -nostdin -hide_banner -benchmark -f rawvideo -pix_fmt bgra -s "$size" -r 25 \
      -stream_loop $((passes - 1)) -i "$frames_file" -c:v libx264 -preset "$preset" \
      -tune zerolatency -crf "$quality_crf" -g "$key_rate" -f null - 2>&1 |
      sed -n 's/.*rtime=\([0-9.]*\)s.*/\1/p')
    theirs+=("$(awk -v n="$total" -v t="$rtime" 'BEGIN { printf "%.1f", n / t }')")
  done

  ours_best=$(printf '%s\n' "${ours[@]}" | best)
  theirs_best=$(printf '%s\n' "${theirs[@]}" | best)
  ratio=$(awk -v a="$ours_best" -v b="$theirs_best" 'BEGIN { printf "%.2f", a / b }')
  printf '%-10s %14s %14s %7s %14s\n' "$size" "$ours_best" "$theirs_best" "$ratio" "$kbits"
  rm -f "$frames_file"
done
