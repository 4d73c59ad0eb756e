#!/usr/bin/env bash
# Sound benchmark, outside the test suite:
#  1. MP3 encoding speed, in times real time, of the static LAME that parvelo.exe links, set up
#     as the recorder sets it up (44.1 kHz 16-bit stereo, LAME's defaults: 128 kbit/s), run
#     under Wine on generated signals; beside it Debian's native LAME (through ffmpeg) on the
#     same samples, for scale.
#  2. What ticking the sound box adds to a recording's CPU: two recordings of the moving test
#     picture with a fake microphone playing a tone, one with the box ticked, one cleared.
#
#   bench/audio_bench.sh [SESSION_SECONDS] [ENCODE_SECONDS]
#
# SESSION_SECONDS: length of each of the two recordings (default 30); ENCODE_SECONDS: length
# of the encoded signal (default 60). The Wine prefix is $PARVELO_WINEPREFIX, else
# build/bench/wineprefix (made on first use; never the tests' own, whose wineserver a
# benchmark must not share).
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
session_seconds=${1:-30}
encode_seconds=${2:-60}
readonly encode_runs=3            # best of, against noise from other work on the machine
readonly expected_bit_rate=128000 # LAME's default for 44.1 kHz stereo
readonly expected_sample_rate=44100
readonly expected_channels=2
readonly signals=(tone mixed)     # what mp3_encode_bench.cpp generates

"$repo/tools/build.sh" --win32-only
deps=$("$repo/tools/build-deps.sh" | tail -n 1)

out=$repo/build/bench
exe=$out/mp3_encode_bench.exe
src=$repo/bench/mp3_encode_bench.cpp
lib=$deps/lib/libmp3lame.a
mkdir -p "$out"
if [ ! -f "$exe" ] || [ "$src" -nt "$exe" ] || [ "$lib" -nt "$exe" ]; then
  # -O2 as parvelo.exe's own code is built (CMAKE_BUILD_TYPE=Release); LAME itself comes as
  # built by tools/build-deps.sh, which is what is being measured.
  i686-w64-mingw32-g++-posix -std=c++17 -O2 -Wall -Wextra -static -I"$deps/include" \
    "$src" "$lib" -o "$exe"
fi

tested=$("$repo/tools/windows-build.sh")
export PARVELO_WINEPREFIX=${PARVELO_WINEPREFIX:-$repo/build/bench/wineprefix-$tested}
export PARVELO_WIN32_BUILD=${PARVELO_WIN32_BUILD:-$repo/build/$tested}
export PARVELO_NATIVE_BUILD=${PARVELO_NATIVE_BUILD:-$repo/build/native}
python3 "$repo/tests/e2e/harness.py" --prepare

work=$(mktemp -d /tmp/audio-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

echo "audio benchmark: $(date '+%Y-%m-%d %H:%M'), load $(cut -d' ' -f1 /proc/loadavg)," \
  "Xvfb servers running $(pgrep -c -x Xvfb || true)"
echo
echo "== MP3 encoding, ${encode_seconds} s of 44.1 kHz 16-bit stereo, LAME defaults, best of ${encode_runs} =="
(
  cd "$work"
  export WINEPREFIX=$PARVELO_WINEPREFIX WINEARCH=win32 WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  unset DISPLAY # a console program
  "$repo/tools/wine.sh" "$exe" "$encode_seconds" "$encode_runs" signal | tr -d '\r' >"$work/encode.txt"
  wineserver -w # the prefix's server ends with its last program
)

value() { sed -n "s/.*[[:space:]]$2=\([^[:space:]]*\).*/\1/p" <<<"$1"; }

printf '%-7s %16s %14s %9s %18s %s\n' signal "Wine LAME xRT" "CPU s / s" kbit/s "native LAME xRT" "MP3 check"
for signal in "${signals[@]}"; do
  line=$(grep "^signal=$signal " "$work/encode.txt")
  # Debian's x86-64 LAME through ffmpeg on the very same samples (wall time, as above).
  native_rtime=$(ffmpeg -nostdin -hide_banner -benchmark -f s16le -ar "$expected_sample_rate" \
    -ac "$expected_channels" -i "$work/signal-$signal.pcm" -c:a libmp3lame -b:a 128k -f null - 2>&1 |
    sed -n 's/.*rtime=\([0-9.]*\)s.*/\1/p')
  probe=$(ffprobe -v error -select_streams a:0 -show_entries stream=sample_rate,channels,bit_rate \
    -of csv=p=0 "$work/signal-$signal.mp3")
  if [ "$probe" = "$expected_sample_rate,$expected_channels,$expected_bit_rate" ]; then
    check="ok ($probe)"
  else
    check="UNEXPECTED ($probe)"
  fi
  printf '%-7s %16s %14s %9s %18s %s\n' "$signal" "$(value "$line" times_real_time)" \
    "$(awk -v c="$(value "$line" cpu_s)" -v s="$encode_seconds" 'BEGIN { printf "%.4f", c / s }')" \
    "$(value "$line" kbit_per_second)" \
    "$(awk -v t="$native_rtime" -v s="$encode_seconds" 'BEGIN { printf "%.1f", s / t }')" "$check"
done

python3 "$repo/bench/audio_bench.py" "$session_seconds"
