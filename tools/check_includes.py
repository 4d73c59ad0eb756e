#!/usr/bin/env python3
"""Checks the module edges of src/: a module includes only the modules below
it (app -> session -> video/audio -> avi/text/framework), the shared block
being the one edge back up. A module's win32/ folder is part of the module
and holds its Win32 code: a file outside win32/ is platform-free, so it
includes no win32/ header and no Windows header (except under #ifdef _WIN32).

    tools/check_includes.py [src folder]

Prints every include outside the rules and exits 1 if there is one."""

import pathlib
import re
import sys

LOWER = {"avi", "text", "framework"}

# module -> what it may include besides itself: module names, or single
# headers given by their path under src/.
ALLOWED = {
    "app": {"session", "text", "framework", "res"},
    "session": {"video", "audio", "avi", "text", "framework", "res"},
    "video": {"session/win32/recorder_globals.h"} | LOWER,
    "audio": {"session/win32/recorder_globals.h"} | LOWER,
    "avi": set(),
    "text": set(),
    "framework": set(),
    "res": set(),
}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)
SYSTEM_INCLUDE = re.compile(r'^\s*#\s*include\s+<([^>]+)>')
CONDITION = re.compile(r'^\s*#\s*(if|ifdef|ifndef|elif|else|endif)\b(.*)')
WINDOWS_HEADERS = {"windows.h", "mmsystem.h", "mmreg.h", "ddraw.h", "d3d9.h", "vfw.h", "shellapi.h",
                   "commctrl.h", "objbase.h", "io.h", "process.h", "audioclient.h", "mmdeviceapi.h"}


def unguarded_windows_headers(text):
    """Windows headers included outside an #ifdef _WIN32 branch."""
    found, branches = [], []  # per open #if: is this branch the Windows one?
    for line in text.splitlines():
        condition = CONDITION.match(line)
        if condition:
            word, rest = condition.groups()
            if word.startswith("if"):
                branches.append(word != "ifndef" and "_WIN32" in rest and "!" not in rest)
            elif word in ("elif", "else") and branches:
                branches[-1] = False
            elif word == "endif" and branches:
                branches.pop()
            continue
        header = SYSTEM_INCLUDE.match(line)
        if header and header.group(1).lower() in WINDOWS_HEADERS and not any(branches):
            found.append(header.group(1))
    return found


def faults(src):
    found = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in {".h", ".cpp", ".rc"}:
            continue
        relative = path.relative_to(src)
        module = relative.parts[0]
        text = path.read_text(encoding="utf-8")
        if module != "res" and "win32" not in relative.parts[1:-1]:
            for header in unguarded_windows_headers(text):
                found.append(f"{relative.as_posix()}: includes <{header}>: Win32 code belongs in win32/")
        for target in INCLUDE.findall(text):
            parts = target.split("/")
            if len(parts) < 2 or parts[0] not in ALLOWED:
                continue  # a system, library or same-folder resource header
            where = f"{relative.as_posix()}: includes {target}"
            if parts[0] != module and parts[0] not in ALLOWED[module] and target not in ALLOWED[module]:
                found.append(f"{where}: {module}/ may not reach {parts[0]}/")
            if "win32" in parts[1:-1] and "win32" not in relative.parts[1:-1]:
                found.append(f"{where}: a platform-free file may not include Win32 code")
    return found


def main():
    src = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).parent.parent / "src")
    found = faults(src)
    for line in found:
        print(line)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
