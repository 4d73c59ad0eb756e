#!/usr/bin/env bash
# From the Start click to the first frame and to the first kept sound, outside the test
# suite: parvelo.exe under Wine records RUNS times two sessions in a row (the first after
# start-up, then a later one) with a fake microphone; prints, per session, where the
# set-up's time went, step by step, from Parvelo's own debug lines.
#
#   bench/start_bench.sh [RUNS]
#
# RUNS defaults to 5. The Wine prefix is $PARVELO_WINEPREFIX, else build/bench/wineprefix.
set -euo pipefail

source "$(dirname "$0")/wine_bench_env.sh"

echo "start benchmark: $(date '+%Y-%m-%d %H:%M'), build $tested"
python3 "$repo/bench/start_bench.py" "$@"
