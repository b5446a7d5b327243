"""Test harness for running the chainer and its helper programs under Wine in
private prefixes: the x86_64 build under wine64, and the shipped i686 build
under the private 32-bit Wine of tools/setup_wine32.sh (WoW64). Everything
runs against 127.0.0.1 only."""
import os
import re
import shutil
import subprocess
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("CORVANE_BUILD_X64", ROOT / "build" / "x64")).resolve()
CORVANE_EXE = BUILD / "bin" / "corvane.exe"
PROGRAMS = BUILD / "programs"
WINE = "/usr/lib/wine/wine64"
# The release build and its 32-bit test programs, and the 32-bit Wine.
BUILD_I686 = Path(os.environ.get("CORVANE_BUILD_I686", ROOT / "build" / "i686")).resolve()
WINE32 = Path(os.environ.get("CORVANE_WINE32", ROOT / "build" / "wine32")).resolve()
WINESERVER = shutil.which("wineserver") or "/usr/lib/wine/wineserver"


def win_path(path) -> str:
    """Windows form of a Linux path (Wine maps Z: to /)."""
    return "Z:" + str(path).replace("/", "\\")


def program(name: str, build: Path | None = None) -> Path:
    """A test program of the x86_64 tree, or of the given one."""
    folder = build / "programs" if build else PROGRAMS
    return folder / (name if name.endswith(".exe") else name + ".exe")


class Prefix:
    """A private WINEPREFIX with a persistent wineserver."""

    def __init__(self, root: Path, display: str | None = None, loader: str = WINE):
        self.root = Path(root)
        self.path = self.root / "prefix"
        self.loader = str(loader)
        self.env = dict(os.environ)
        self.env.update(
            WINEPREFIX=str(self.path),
            WINEDEBUG="-all",
            WINEDLLOVERRIDES="mscoree,mshtml=",
            WINEARCH="win64",
        )
        if display:
            self.env["DISPLAY"] = display
        else:
            self.env.pop("DISPLAY", None)

    def create(self, template: Path | None = None):
        """A new prefix, or a copy of a prepared one."""
        if template:
            shutil.copytree(template, self.path, symlinks=True)
        else:
            self.path.mkdir(parents=True, exist_ok=True)
            self.wine("wineboot", "-i", timeout=300, check=True)
        subprocess.run([WINESERVER, "-w"], env=self.env, timeout=120)
        # A persistent server makes every later start fast.
        subprocess.run([WINESERVER, "-p"], env=self.env, timeout=30)
        return self

    def close(self):
        subprocess.run([WINESERVER, "-k"], env=self.env, timeout=60,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    @property
    def drive_c(self) -> Path:
        return self.path / "drive_c"

    def wine(self, *args, timeout=60, env=None, check=False, **kw):
        """Runs wine64 and collects its output through files: Wine's own
        background processes inherit pipes and would keep them open."""
        e = dict(self.env)
        if env:
            e.update(env)
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            proc = subprocess.Popen([self.loader, *map(str, args)], env=e, stdout=out, stderr=err,
                                    stdin=subprocess.DEVNULL, **kw)
            try:
                proc.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
                raise
            out.seek(0)
            err.seek(0)
            result = subprocess.CompletedProcess(proc.args, proc.returncode, out.read(), err.read())
        if check and result.returncode != 0:
            raise subprocess.CalledProcessError(result.returncode, result.args, result.stdout, result.stderr)
        return result

    def popen(self, *args, env=None, **kw):
        e = dict(self.env)
        if env:
            e.update(env)
        return subprocess.Popen([self.loader, *map(str, args)], env=e, stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, **kw)

    def run(self, exe, *args, timeout=60, env=None, cwd=None) -> "RunResult":
        """Runs a Windows program through the runner and returns its full
        32-bit exit code."""
        limit_ms = int(timeout * 1000)
        target = win_path(exe) if isinstance(exe, Path) or str(exe).startswith("/") else str(exe)
        cmd = [program("runexe"), str(limit_ms), target, *args]
        started = time.monotonic()
        proc = self.wine(*cmd, timeout=timeout + 30, env=env, cwd=cwd)
        if not proc.stdout and not proc.stderr and proc.returncode != 0:
            # The runner prints a line whatever the program does: nothing at
            # all means Wine never started it (a wineserver going down as the
            # loader came up). The program under test has not run yet.
            proc = self.wine(*cmd, timeout=timeout + 30, env=env, cwd=cwd)
        out = proc.stdout.decode(errors="replace")
        m = re.search(r"exit=(-?\d+)", out)
        if "timeout" in out or not m:
            raise AssertionError(f"{exe} did not finish (wine exit {proc.returncode}): {out!r} {proc.stderr[-2000:]!r}")
        return RunResult(int(m.group(1)), out, time.monotonic() - started, proc.stderr.decode(errors="replace"))

    # Registry -----------------------------------------------------------
    def reg(self, *args, check=True):
        proc = self.wine("reg", *args, timeout=60)
        if check and proc.returncode != 0:
            raise AssertionError(f"reg {args} failed: {proc.stdout!r} {proc.stderr!r}")
        return proc

    def reg_add(self, key, name=None, value=None, kind="REG_SZ", view64=True):
        args = ["add", key, "/f"]
        if name is None:
            args += ["/ve"]
        else:
            args += ["/v", name]
        if value is not None:
            args += ["/t", kind, "/d", str(value)]
        return self.reg(*args)

    def reg_delete(self, key, name=None):
        args = ["delete", key, "/f"]
        if name is not None:
            args[2:2] = ["/v", name]
        return self.reg(*args, check=False)

    def reg_query(self, key, name=None):
        """The text of a value, or None when the key or value is missing."""
        args = ["query", key]
        if name == "":
            args += ["/ve"]
            name = "(Default)"
        elif name is not None:
            args += ["/v", name]
        proc = self.reg(*args, check=False)
        if proc.returncode != 0:
            return None
        text = proc.stdout.decode("utf-8", errors="replace")
        if name is None:
            return text
        for line in text.splitlines():
            parts = line.strip().split(None, 2)
            if len(parts) >= 2 and parts[0] == name and parts[1].startswith("REG_"):
                return parts[2] if len(parts) > 2 else ""
        return None

    def key_exists(self, key) -> bool:
        return self.reg("query", key, check=False).returncode == 0


class RunResult:
    def __init__(self, code, output, seconds, errors=""):
        self.code = code
        self.output = output
        self.seconds = seconds
        self.errors = errors  # what Wine wrote to stderr

    def __repr__(self):
        return f"RunResult(code={self.code}, seconds={self.seconds:.2f})"


def encode_ini(text: str, bom: bool = True) -> bytes:
    """UTF-16LE with CR LF line ends (LF in the text becomes CR LF)."""
    body = text.replace("\r\n", "\n").replace("\n", "\r\n").encode("utf-16-le")
    return (b"\xff\xfe" if bom else b"") + body


# Every INI a test writes, as (test, bytes, rules of its deliberate faults):
# the checker's test of them (test_check.py) runs last and holds each to
# exactly those rules.
WRITTEN_INIS: list[tuple[str, bytes, tuple[str, ...]]] = []


class Package:
    """The chainer placed under some name in a folder, beside its INI."""

    def __init__(self, folder: Path, name: str = "setup.exe", chainer: Path = CORVANE_EXE):
        self.folder = Path(folder)
        self.folder.mkdir(parents=True, exist_ok=True)
        self.exe = self.folder / name
        shutil.copyfile(chainer, self.exe)
        base = name.rsplit(".", 1)[0] if "." in name else name
        self.ini = self.folder / (base + ".ini")

    def write_ini(self, text: str | None = None, bom: bool = True, raw: bytes | None = None,
                  faults: tuple[str, ...] = ()):
        """faults: the corvane-check rules (warnings and errors) that the INI
        breaks on purpose; a package that works as meant breaks none."""
        data = raw if raw is not None else encode_ini(text, bom)
        self.ini.write_bytes(data)
        WRITTEN_INIS.append((os.environ.get("PYTEST_CURRENT_TEST", "").rsplit(" ", 1)[0], data, tuple(faults)))
        return self

    @property
    def win_folder(self) -> str:
        return win_path(self.folder)

    def read_log(self, path: Path) -> str:
        data = path.read_bytes()
        assert data[:2] == b"\xff\xfe", "log must start with a UTF-16LE byte-order mark"
        return data[2:].decode("utf-16-le")


def start_xvfb():
    """Starts a private Xvfb; returns (process, display)."""
    r, w = os.pipe()
    proc = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                            pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(w)
    number = b""
    deadline = time.monotonic() + 30
    while not number.endswith(b"\n") and time.monotonic() < deadline:
        chunk = os.read(r, 16)
        if not chunk:
            break
        number += chunk
    os.close(r)
    return proc, ":" + number.decode().strip()


def temp_dir(prefix="corvane-"):
    return Path(tempfile.mkdtemp(prefix=prefix))
