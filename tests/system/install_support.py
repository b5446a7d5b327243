"""Helpers shared by the install and cleanup system tests: the stand-in
setup, the launch probe and the stand-in PowerShell."""
import shutil
import time
from pathlib import Path

import harness

POWERSHELL_DIR = ("windows", "system32", "WindowsPowerShell", "v1.0")


def place_stand_in(folder: Path, name: str, build: Path | None = None, **behaviour) -> Path:
    """Copies the stand-in setup (of the x86_64 tree, or of build) to
    folder/name with its behaviour file."""
    folder.mkdir(parents=True, exist_ok=True)
    exe = folder / name
    shutil.copyfile(harness.program("stand_in_setup", build), exe)
    base = name.rsplit(".", 1)[0]
    (folder / (base + ".txt")).write_text("".join(f"{k}={v}\n" for k, v in behaviour.items()))
    return exe


def read_records(path: Path):
    """The runs a stand-in recorded: a list of dicts (exe, cmdline, cwd)."""
    runs, current = [], {}
    if not path.exists():
        return runs
    for line in path.read_text(encoding="utf-8").splitlines():
        if line == "end":
            runs.append(current)
            current = {}
        elif "=" in line:
            key, value = line.split("=", 1)
            current[key] = value
    return runs


def wait_for_records(path: Path, count=1, timeout=30):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        runs = read_records(path)
        if len(runs) >= count:
            return runs
        time.sleep(0.2)
    return read_records(path)


def read_report(path: Path) -> dict:
    values = {}
    for line in path.read_text(encoding="utf-8").splitlines():
        if "=" in line:
            key, value = line.split("=", 1)
            values.setdefault(key, value)
    return values


def probe_args(mode, out: Path, **kw):
    return [mode, f"out={harness.win_path(out)}", *[f"{k}={v}" for k, v in kw.items()]]


def run_probe(prefix, workdir: Path, mode, timeout=60, env=None, **kw) -> dict:
    out = workdir / f"probe-{time.monotonic_ns()}.txt"
    result = prefix.run(harness.program("launch_probe"), *probe_args(mode, out, **kw), timeout=timeout, env=env)
    assert result.code == 0, result
    return read_report(out)


class StandInPowerShell:
    """The stand-in placed where the chainer looks for PowerShell; removed
    again afterwards so that other tests see the prefix as it was."""

    def __init__(self, prefix, record: Path):
        self.folder = prefix.drive_c.joinpath(*POWERSHELL_DIR)
        self.exe = self.folder / "powershell.exe"
        self.config = self.folder / "powershell.txt"
        self.record = record
        self.saved = None

    def __enter__(self):
        if self.exe.exists():
            self.saved = self.exe.read_bytes()
        place_stand_in(self.folder, "powershell.exe", record=harness.win_path(self.record))
        return self

    def __exit__(self, *exc):
        if self.saved is not None:
            self.exe.write_bytes(self.saved)
        else:
            self.exe.unlink(missing_ok=True)
        self.config.unlink(missing_ok=True)


class NoPowerShell:
    """Moves a PowerShell of the prefix aside for the duration of a test."""

    def __init__(self, prefix):
        self.exe = prefix.drive_c.joinpath(*POWERSHELL_DIR, "powershell.exe")
        self.aside = self.exe.with_name("powershell.exe.aside")

    def __enter__(self):
        if self.exe.exists():
            self.exe.rename(self.aside)
        return self

    def __exit__(self, *exc):
        if self.aside.exists():
            self.aside.rename(self.exe)
