#!/usr/bin/env bash
# Runs a Windows program (or wineboot, regedit, ...) with the Wine that runs
# the Windows build this machine tests (tools/windows-build.sh): 64-bit Wine
# for build/win64, where the `wine` script would still pick 32-bit Wine.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
if [ "$("$repo/tools/windows-build.sh")" = win64 ]; then
  export WINEARCH=win64
  exec /usr/lib/wine/wine64 "$@"
fi
export WINEARCH=win32
exec wine "$@"
