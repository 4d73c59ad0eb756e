#!/usr/bin/env bash
# The test command: sets up what is missing, builds everything, makes the
# Wine prefix once, and runs every test (unit tests plain and under
# AddressSanitizer/UBSan, and the end-to-end tests under Wine on Xvfb).
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
"$repo/tools/build.sh"
PARVELO_NATIVE_BUILD="$repo/build/native" python3 "$repo/tests/e2e/harness.py" --prepare
cd "$repo/build/native"
exec ctest --output-on-failure -j2 "$@"
