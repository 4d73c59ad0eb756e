#!/usr/bin/env bash
# Sound against picture over a long recording, outside the test suite: parvelo.exe records a
# clapperboard (tools/clapperboard) with sound at 1366x768 @ 15 fps for MINUTES; the median
# offset of the claps of every minute is printed.
#
#   bench/sync_bench.sh [MINUTES]
#
# MINUTES defaults to 6. The Wine prefix is $PARVELO_WINEPREFIX, else build/bench/wineprefix.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
minutes=${1:-6}

"$repo/tools/build.sh"

tested=$("$repo/tools/windows-build.sh")
export PARVELO_WINEPREFIX=${PARVELO_WINEPREFIX:-$repo/build/bench/wineprefix-$tested}
export PARVELO_WIN32_BUILD=${PARVELO_WIN32_BUILD:-$repo/build/$tested}
export PARVELO_NATIVE_BUILD=${PARVELO_NATIVE_BUILD:-$repo/build/native}
python3 "$repo/tests/e2e/harness.py" --prepare

echo "sync benchmark: $(date '+%Y-%m-%d %H:%M'), ${minutes} min"
python3 "$repo/bench/sync_bench.py" "$minutes"
