#!/usr/bin/env bash
# Installs what is missing, builds libx264 and LAME once, then the Windows
# programs (build/win32) and, unless --win32-only, the native tests
# (build/native). Idempotent; a second run only rebuilds what changed.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)

"$repo/tools/install-packages.sh"
deps=$("$repo/tools/build-deps.sh" | tail -n 1)

cmake -S "$repo" -B "$repo/build/win32" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/i686-w64-mingw32.cmake" -DPARVELO_DEPS="$deps" >/dev/null
cmake --build "$repo/build/win32" -j"$jobs"

if [ "${1:-}" != "--win32-only" ]; then
  cmake -S "$repo" -B "$repo/build/native" -DCMAKE_BUILD_TYPE=Release \
    -DPARVELO_WIN32_BUILD="$repo/build/win32" >/dev/null
  cmake --build "$repo/build/native" -j"$jobs"
fi
