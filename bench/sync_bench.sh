#!/usr/bin/env bash
# Sound against picture over a long recording, outside the test suite: parvelo.exe records a
# clapperboard (tools/clapperboard) with sound at 1366x768 @ 15 fps for MINUTES; the median
# offset of the claps of every minute is printed.
#
#   bench/sync_bench.sh [MINUTES]
#
# MINUTES defaults to 6. The Wine prefix is $PARVELO_WINEPREFIX, else build/bench/wineprefix.
set -euo pipefail

minutes=${1:-6}
source "$(dirname "$0")/wine_bench_env.sh"

echo "sync benchmark: $(date '+%Y-%m-%d %H:%M'), ${minutes} min"
python3 "$repo/bench/sync_bench.py" "$minutes"
