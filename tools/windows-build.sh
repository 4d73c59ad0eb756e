#!/usr/bin/env bash
# Prints the Windows build the tests run on this machine: "win32" (the
# product, 32-bit) where 32-bit code runs, else "win64" (the same sources
# built for x86_64, run by 64-bit Wine). A kernel without IA-32 emulation
# refuses every i386 program ("Exec format error"), so trying 32-bit Wine's
# own loader answers the question. PARVELO_WINDOWS_BUILD=win64 chooses the
# 64-bit flavour on any machine (win32 the product, where it can run).
set -euo pipefail

case "${PARVELO_WINDOWS_BUILD:-}" in
  win32 | win64) echo "$PARVELO_WINDOWS_BUILD" ;;
  "")
    if /usr/lib/wine/wine --version >/dev/null 2>&1; then
      echo win32
    else
      echo win64
    fi
    ;;
  *)
    echo "windows-build.sh: PARVELO_WINDOWS_BUILD is win32 or win64, not '$PARVELO_WINDOWS_BUILD'" >&2
    exit 2
    ;;
esac
