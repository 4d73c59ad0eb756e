#!/usr/bin/env bash
# The test command: sets up what is missing, builds everything, makes the
# Debian 13 root with Wine 10 (for the tests of recording the computer's
# sound, which Debian 12's Wine 8 cannot capture) and the Wine prefixes
# once, and runs every test (unit tests plain and under
# AddressSanitizer/UBSan, and the end-to-end tests under Wine on Xvfb).
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
"$repo/tools/build.sh"
"$repo/tools/debian13-root.sh"
PARVELO_NATIVE_BUILD="$repo/build/native" python3 "$repo/tests/e2e/harness.py" --prepare
cd "$repo/build/native"
exec ctest --output-on-failure -j2 "$@"
