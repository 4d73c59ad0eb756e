#!/usr/bin/env bash
# Installs what is missing, builds libx264 and LAME once, then the Windows
# programs (build/win32) and, unless --win32-only, the native tests
# (build/native). On a machine that cannot run 32-bit code the same
# programs are also built for x86_64 (build/win64), and the tests use those;
# PARVELO_WINDOWS_BUILD=win64 does the same on any machine (see
# tools/windows-build.sh). Idempotent; a second run only rebuilds what
# changed.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)

"$repo/tools/install-packages.sh"

# build_windows <arch> <folder>: the Windows programs for one processor.
build_windows() {
  local deps
  deps=$("$repo/tools/build-deps.sh" "$1" | tail -n 1)
  cmake -S "$repo" -B "$repo/build/$2" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/$1-w64-mingw32.cmake" -DPARVELO_DEPS="$deps" >/dev/null
  cmake --build "$repo/build/$2" -j"$jobs"
}

build_windows i686 win32
tested=$("$repo/tools/windows-build.sh")
if [ "$tested" = win64 ]; then
  build_windows x86_64 win64
fi

if [ "${1:-}" != "--win32-only" ]; then
  cmake -S "$repo" -B "$repo/build/native" -DCMAKE_BUILD_TYPE=Release \
    -DPARVELO_WIN32_BUILD="$repo/build/$tested" >/dev/null
  cmake --build "$repo/build/native" -j"$jobs"
fi
