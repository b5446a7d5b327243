#!/usr/bin/env python3
"""Fails when a source file includes a folder above its own.

The folders of src/ form a stack. A file may include headers of its own
folder and of the folders on lower floors; folders that share a floor do not
include each other. Every src/ include names its folder ("base/wstr.h"), and
every folder of src/ and of tests/unit/ must appear in the stack, so a new
folder is placed deliberately (add it to STACK below).

Unit tests are not held to the stack (a test may use whatever it needs to
drive its code), but their folders must mirror those of src/.
"""
import re
import sys
from pathlib import Path

# Lowest floor first. Each floor lists the folders that stand on it.
STACK = [
    ["base"],        # wide string, array, failure and memory helpers, process-wide flags
    ["platform"],    # Win32 helpers, handles, files, paths, references, OS identification
    ["log"],         # the log file
    ["config"],      # the INI file and what it defines
    ["evaluation"],  # searches and filters: is a prerequisite present?
    ["install"],     # running setups, reboots, scripts
    ["download"],    # transfers, integrity, open site
    ["engine"],      # the prerequisite engine: download phase, install phase, launch list
    ["ui"],          # status window and progress dialog
    ["core"],        # entry point and run sequence, end-of-run cleanup
    ["check"],       # the setup author's checker: reads the package with the chainer's own rules
]

SOURCE_SUFFIXES = {".h", ".cpp", ".c", ".rc"}
INCLUDE = re.compile(r'^[ \t]*#[ \t]*include[ \t]+"([^"]+)"', re.MULTILINE)


def floors():
    return {folder: level for level, names in enumerate(STACK) for folder in names}


def check_sources(root, floor_of):
    problems = []
    src = root / "src"
    for path in sorted(src.rglob("*")):
        if not path.is_file() or path.suffix not in SOURCE_SUFFIXES:
            continue
        rel = path.relative_to(src)
        own = rel.parts[0]
        if own not in floor_of:
            problems.append(f"src/{rel}: folder '{own}' is not in the stack of tools/check_layers.py")
            continue
        text = path.read_text(encoding="utf-8", errors="replace")
        for match in INCLUDE.finditer(text):
            target = match.group(1)
            line = text.count("\n", 0, match.start()) + 1
            where = f"src/{rel}:{line}"
            parts = target.split("/")
            if len(parts) < 2:
                problems.append(f'{where}: "{target}" does not name its folder')
                continue
            folder = parts[0]
            if folder not in floor_of:
                problems.append(f'{where}: "{target}" is in a folder outside the stack')
            elif not (src / target).is_file():
                problems.append(f'{where}: "{target}" does not exist')
            elif folder != own and floor_of[folder] >= floor_of[own]:
                side = "beside" if floor_of[folder] == floor_of[own] else "above"
                problems.append(f'{where}: "{target}": {folder} is {side} {own}')
    return problems


def check_test_folders(root, floor_of):
    problems = []
    unit = root / "tests" / "unit"
    if not unit.is_dir():
        return problems
    for path in sorted(unit.rglob("*_test.cpp")):
        rel = path.relative_to(unit)
        if len(rel.parts) < 2:
            problems.append(f"tests/unit/{rel}: belongs in the folder of the code it tests")
        elif rel.parts[0] not in floor_of:
            problems.append(f"tests/unit/{rel}: '{rel.parts[0]}' is not a folder of src/")
    return problems


def main(argv):
    root = Path(argv[1]) if len(argv) > 1 else Path(__file__).resolve().parent.parent
    floor_of = floors()
    problems = check_sources(root, floor_of) + check_test_folders(root, floor_of)
    for problem in problems:
        print(problem)
    if problems:
        print(f"{len(problems)} include(s) against the layers", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
