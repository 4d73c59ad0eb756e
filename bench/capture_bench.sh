#!/usr/bin/env bash
# Capture benchmark, outside the test suite: parvelo.exe under Wine records the moving test
# picture at 1366x768 and 1920x1080, at 15 and 25 fps, and ffmpeg's x11grab with libx264 (at
# the settings x264vfw.dll uses) records the same display right after; prints, per
# configuration, the share of frame slots written, the capture loop's mean grab and
# encode+write times, CPU seconds per recorded second, peak memory, and the CPU ratio.
#
#   bench/capture_bench.sh [SECONDS] [--sizes 1366x768,1920x1080] [--rates 15,25] [--json FILE]
#
# SECONDS is each recording's length (default 60; less for a quick look). The Wine prefix is
# $PARVELO_WINEPREFIX, else build/bench/wineprefix (made on first use; never the tests' own,
# whose wineserver a benchmark must not share). Run it on a quiet machine: the figures are
# CPU-bound and the report prints the load and how many other X servers ran.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)

"$repo/tools/build.sh" --win32-only

tested=$("$repo/tools/windows-build.sh")
export PARVELO_WINEPREFIX=${PARVELO_WINEPREFIX:-$repo/build/bench/wineprefix-$tested}
export PARVELO_WIN32_BUILD=${PARVELO_WIN32_BUILD:-$repo/build/$tested}
export PARVELO_NATIVE_BUILD=${PARVELO_NATIVE_BUILD:-$repo/build/native}
exec python3 "$repo/bench/capture_bench.py" "$@"
