#!/usr/bin/env bash
# The run command: builds what is needed and starts Parvelo under Wine.
# With a DISPLAY, the recorder opens there and records into the current
# folder (x264vfw.dll is put beside the recordings, as on Windows).
# Without one, a demo on a private Xvfb records a few seconds of a moving
# test picture and prints the new file's name and what ffprobe says of it.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
"$repo/tools/build.sh" --win32-only >/dev/null
build="$repo/build/$("$repo/tools/windows-build.sh")"
export PARVELO_WIN32_BUILD="$build"
export PARVELO_NATIVE_BUILD="$repo/build/native"
export PARVELO_WINEPREFIX="$repo/build/run-wineprefix"

if [ -n "${DISPLAY:-}" ]; then
  python3 "$repo/tests/e2e/harness.py" --prepare
  [ -e x264vfw.dll ] || cp "$build/x264vfw.dll" .
  export WINEPREFIX="$PARVELO_WINEPREFIX" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  exec "$repo/tools/wine.sh" "$build/parvelo.exe"
fi
exec python3 "$repo/tools/demo.py"
