#!/usr/bin/env python3
"""Fails when the 32-bit release imports statically from a DLL outside the
static-import list, or a function that is not on the reviewed allowlist.

The static-import list holds the DLLs that the loader takes from the system
folder on every Windows from XP SP3 to 11 (comctl32 comes from the
side-by-side store through the manifest). Any other DLL would be looked for
in the executable's own folder first, before the program's code runs: a
download folder may hold a planted copy. Those DLLs are loaded at run time by
their full path in the system folder instead. Every allowlist entry exists on
Windows XP SP3; later functions are looked up at run time."""
import re
import subprocess
import sys
from pathlib import Path

STATIC_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll", "ole32.dll",
    "oleaut32.dll", "msvcrt.dll", "comctl32.dll",
}


def imports(exe):
    out = subprocess.run(["i686-w64-mingw32-objdump", "-p", exe], check=True,
                         stdout=subprocess.PIPE, text=True).stdout
    dll = None
    found = []
    for line in out.splitlines():
        m = re.match(r"\s*DLL Name: (\S+)", line)
        if m:
            dll = m.group(1).lower()
            continue
        m = re.match(r"\s+[0-9a-f]+\s+(\d+)\s+(\S+)\s*$", line)
        if dll and m:
            found.append((dll, m.group(2)))
        elif dll and re.match(r"\s*$", line):
            pass
    return found


def main():
    exe = sys.argv[1]
    allow_file = Path(__file__).with_name("import_allowlist.txt")
    allowed = set()
    for line in allow_file.read_text().splitlines():
        line = line.split("#", 1)[0].strip()
        if line:
            dll, func = line.split("!")
            allowed.add((dll.lower(), func))
    bad = []
    found = imports(exe)
    for dll, func in found:
        if dll not in STATIC_DLLS:
            bad.append(f"not on the static-import list (load it at run time): {dll} ({func})")
        if (dll, func) not in allowed:
            bad.append(f"not on the allowlist: {dll}!{func}")
    if not found:
        bad.append("no imports read")
    for b in bad:
        print(b)
    print(f"{len(found)} imports checked, {len(bad)} problems")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
