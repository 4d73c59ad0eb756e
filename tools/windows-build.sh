#!/usr/bin/env bash
# Prints the Windows build the tests run on this machine: "win32" (the
# product, 32-bit) where 32-bit code runs, else "win64" (the same sources
# built for x86_64, run by 64-bit Wine). A kernel without IA-32 emulation
# refuses every i386 program ("Exec format error"), so trying 32-bit Wine's
# own loader answers the question.
set -euo pipefail

if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  echo win32
else
  echo win64
fi
