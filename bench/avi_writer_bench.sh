#!/usr/bin/env bash
# AVI writer benchmark, outside the test suite: the writer's cost per frame,
# then a recording past 4 GB of real H.264 and MP3, checked with ffprobe and
# ffmpeg (duration, frame count, and the last frame decoding to the clip's).
#
# bench/avi_writer_bench.sh [build-dir]   (default /tmp/avi-bench-build; an existing
# build folder is reused as configured)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-/tmp/avi-bench-build}
work=$(mktemp -d /tmp/avi-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
readonly target_bytes=$((4400 * 1000 * 1000))  # past 4 GiB of video
readonly fps=25

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" -j2 --target avi_writer_bench >/dev/null
bench=$(find "$build" -name avi_writer_bench -type f -perm -u+x | head -1)

# A 2 s 1080p clip of key frames only, so frames decode whichever follows which.
ffmpeg -v error -nostdin -f lavfi -i "testsrc2=size=1920x1080:rate=$fps" -frames:v 50 \
  -pix_fmt yuv420p -c:v libx264 -preset ultrafast -qp 10 \
  -x264-params keyint=1:repeat-headers=1 -f h264 "$work/clip.h264"
ffmpeg -v error -nostdin -f lavfi -i sine=frequency=440:sample_rate=44100:duration=5 -ac 1 \
  -c:a libmp3lame -b:a 64k -write_xing 0 -id3v2_version 0 -f mp3 "$work/clip.mp3"
for clip in clip.h264 clip.mp3; do
  ffprobe -v error -show_entries packet=size,pos -of csv=p=0 "$work/$clip" >"$work/$clip.csv"
done

"$bench" "$work/clip.h264" "$work/clip.h264.csv" "$work/clip.mp3" "$work/clip.mp3.csv" \
  "$work/big.avi" "$target_bytes" | tee "$work/bench.txt"
eval "$(grep '^frames=' "$work/bench.txt" | tr ' ' '\n')"

echo "file size: $(stat -c %s "$work/big.avi") bytes"
echo "ffprobe format duration: $(ffprobe -v error -show_entries format=duration -of csv=p=0 "$work/big.avi") s (written: $duration s)"
echo "ffprobe video frames: $(ffprobe -v error -select_streams v:0 -show_entries stream=nb_frames -of csv=p=0 "$work/big.avi") (written: $frames)"
echo "demuxing every packet, messages: $(ffmpeg -v error -nostdin -i "$work/big.avi" -map 0 -c copy -f null - 2>&1 | wc -l)"
# The last frame, reached through the index past 4 GB, against the clip's own.
last=$(ffmpeg -v error -nostdin -copyts -sseof -1 -i "$work/big.avi" -map 0:v -f framemd5 - | grep -v '^#' | tail -1)
want=$(ffmpeg -v error -nostdin -i "$work/clip.h264" -f framemd5 - | grep -v '^#' | sed -n "$((last_clip_frame + 1))p")
echo "last frame: pts $(echo "$last" | cut -d, -f3 | tr -d ' ') (expected $((frames - 1))), md5 $(echo "$last" | cut -d, -f6 | tr -d ' ')"
if [ "$(echo "$last" | cut -d, -f6)" = "$(echo "$want" | cut -d, -f6)" ] && \
   [ "$(echo "$last" | cut -d, -f3 | tr -d ' ')" = "$((frames - 1))" ]; then
  echo "last frame right: yes"
else
  echo "last frame right: NO (clip frame $last_clip_frame: $want)"
  exit 1
fi
