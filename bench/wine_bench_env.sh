# Sourced by the benchmarks that run parvelo.exe with the tests' harness:
# builds what is missing, points the harness at the Windows build this
# machine tests and at a Wine prefix of the benchmarks' own
# ($PARVELO_WINEPREFIX, else build/bench/wineprefix-<build>), and makes
# that prefix. Sets `repo` and `tested`.
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

"$repo/tools/build.sh"

tested=$("$repo/tools/windows-build.sh")
export PARVELO_WINEPREFIX=${PARVELO_WINEPREFIX:-$repo/build/bench/wineprefix-$tested}
export PARVELO_WIN32_BUILD=${PARVELO_WIN32_BUILD:-$repo/build/$tested}
export PARVELO_NATIVE_BUILD=${PARVELO_NATIVE_BUILD:-$repo/build/native}
python3 "$repo/tests/e2e/harness.py" --prepare
