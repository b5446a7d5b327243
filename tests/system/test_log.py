"""The log file under Wine with the real chainer and the log probe: banner and
line format, appending across runs, the fallback locations, and lines written
from many threads at once."""
import datetime
import os
import re
import shutil
from pathlib import Path

import pytest

from harness import Package, program, win_path

HEADER = "\r\n<< Corvane (x86) Log >>\r\n"
END = "=====================End of Log====================="
STAMP = r"\d{4}-\d\d-\d\d \d\d-\d\d-\d\d"
OS_LINE = re.compile(r"OS Version: (\d+)\.(\d+)\.(\d+) SP(\d+) \((workstation|server)\) \[(x64|x86)\]\r\n")
BANNER = re.compile(re.escape(HEADER) + r"OS Version: [^\r\n]*\r\nCPU: [^\r\n]*\r\n\r\n")



def read_log(path: Path) -> str:
    data = path.read_bytes()
    assert data[:2] == b"\xff\xfe", "the log starts with a UTF-16LE byte-order mark"
    text = data[2:].decode("utf-16-le")
    assert "\ufeff" not in text, "one mark only"
    return text


def log_ini(log_value: str, extra: str = "") -> str:
    return f"[PREREQ_CHAINER]\nLogFile={log_value}\n[GeneralOptions]\nOptions=q\n{extra}"


def probe(prefix, *args, timeout=120):
    out = prefix.wine(program("log_probe"), *args, timeout=timeout)
    assert out.returncode == 0, (out.stdout, out.stderr[-2000:])
    text = out.stdout.decode("utf-8", errors="replace")
    m = re.search(r"^path=(.*)$", text, re.M)
    return text, (m.group(1).strip() if m else None)


def windows_to_linux(prefix, path: str) -> Path:
    assert path[1:3] == ":\\", path
    drive = path[0].upper()
    rest = path[3:].replace("\\", "/")
    if drive == "Z":
        return Path("/") / rest
    assert drive == "C", path
    # Wine keeps the case of names it created; look the path up without regard to case.
    current = prefix.drive_c
    for part in [p for p in rest.split("/") if p]:
        match = [c for c in current.iterdir() if c.name.lower() == part.lower()] if current.is_dir() else []
        current = match[0] if match else current / part
    return current


@pytest.fixture(scope="module")
def wine_temp(prefix):
    out = prefix.wine("cmd", "/c", "echo", "%TEMP%", timeout=60)
    temp = out.stdout.decode(errors="replace").strip().splitlines()[-1].strip()
    return windows_to_linux(prefix, temp)


@pytest.fixture
def log_places(prefix, wine_temp):
    """The shared and temporary fallback folders, empty before and after."""
    shared = prefix.drive_c / "ProgramData" / "CORVANE_LOGS"
    temp = wine_temp / "CORVANE_LOGS"

    def clear():
        for p in (shared, temp):
            if p.is_symlink():
                p.unlink()
            elif p.is_dir():
                shutil.rmtree(p)
            elif p.exists():
                p.unlink()

    clear()
    yield shared, temp
    clear()


def check_banner_and_lines(text: str, runs: int = 1):
    """The text is `runs` blocks of banner followed by time-stamped lines, the
    last line of each block being the end of the log. Returns the line texts."""
    blocks = text.split(HEADER)
    assert blocks[0] == "", "nothing before the first banner"
    assert len(blocks) == runs + 1
    texts = []
    for block in blocks[1:]:
        whole = HEADER + block
        m = BANNER.match(whole)
        assert m, repr(whole[:200])
        assert OS_LINE.match(whole[len(HEADER):]), repr(whole[:200])
        body = whole[m.end():]
        assert body.endswith(f"-{END}\r\n\r\n"), repr(body[-120:])
        lines = body[:-2].split("\r\n")
        assert lines[-1] == ""
        for line in lines[:-1]:
            assert re.fullmatch(STAMP + r"-.*", line), repr(line)
            texts.append(line[20:])
    return texts


def test_banner_and_line_format_are_exact(prefix, package, workdir):
    log = workdir / "run.log"
    package.write_ini(log_ini(win_path(log)))
    before = datetime.datetime.now()
    assert prefix.run(package.exe).code == 0
    after = datetime.datetime.now()
    text = read_log(log)
    texts = check_banner_and_lines(text)
    assert texts[-1] == END

    # The OS line carries the numbers the identification gives this process.
    os_out = prefix.wine(program("os_probe"), timeout=60).stdout.decode()
    info = dict(line.split("=", 1) for line in os_out.splitlines() if "=" in line)
    kind = "server" if info["server"] == "1" else "workstation"
    bits = "x64" if info["x64"] == "1" else "x86"
    expected = f"OS Version: {info['major']}.{info['minor']}.{info['build']} SP{info['sp']} ({kind}) [{bits}]\r\n"
    assert text[len(HEADER):].startswith(expected)
    assert bits == "x64", "a 64-bit program runs on 64-bit Windows"

    cpu = text.split("\r\n")[3]
    assert cpu.startswith("CPU: ")
    # The processor's own brand string, as the Windows side reads it (a
    # hypervisor may name the processor otherwise to Linux).
    brand = prefix.reg_query("HKLM\\HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0", "ProcessorNameString")
    assert brand and cpu[5:].strip() == brand.strip()

    # Local time, year-month-day hour-minute-second.
    stamp = re.search(STAMP, text).group(0)
    when = datetime.datetime.strptime(stamp, "%Y-%m-%d %H-%M-%S")
    assert before - datetime.timedelta(seconds=5) <= when <= after + datetime.timedelta(seconds=5)


def test_two_runs_append_with_one_mark_and_two_banners(prefix, package, workdir):
    log = workdir / "twice.log"
    package.write_ini(log_ini(win_path(log)))
    assert prefix.run(package.exe).code == 0
    first = log.read_bytes()
    package.write_ini(log_ini(win_path(log)))  # the run removes its configuration
    assert prefix.run(package.exe).code == 0
    data = log.read_bytes()
    assert data.startswith(first), "the second run appends"
    assert data.count(HEADER.encode("utf-16-le")) == 2
    texts = check_banner_and_lines(read_log(log), runs=2)
    assert texts.count(END) == 2


def test_existing_empty_file_gets_the_mark(prefix, workdir):
    log = workdir / "empty.log"
    log.write_bytes(b"")
    probe(prefix, "lines", win_path(log), "Hello:world")
    texts = check_banner_and_lines(read_log(log))
    assert texts == ["Hello:world", END]


def test_missing_folder_falls_back_to_shared_application_data(prefix, package, workdir, log_places):
    shared, _ = log_places
    missing = workdir / "no" / "such" / "folder" / "run.log"
    package.write_ini(log_ini(win_path(missing)))
    assert prefix.run(package.exe).code == 0
    assert not missing.parent.exists()
    log = shared / "setup.LOG"
    assert log.is_file(), sorted(p.name for p in shared.parent.iterdir())
    assert check_banner_and_lines(read_log(log))[-1] == END
    # The stored path becomes the fallback.
    _, stored = probe(prefix, "lines", win_path(missing), "x")
    assert stored.lower() == "c:\\programdata\\corvane_logs\\log_probe.log"


def test_fallback_chain_when_earlier_places_fail(prefix, workdir, log_places, wine_temp):
    shared, temp = log_places
    pkg = Package(workdir / "pkg", "my.setup.exe")
    missing = win_path(workdir / "missing" / "x.log")
    pkg.write_ini(log_ini(missing))
    # A file where the shared folder would be: that place cannot be used.
    shared.write_bytes(b"")
    assert prefix.run(pkg.exe).code == 0
    beside = pkg.folder / "my.setup.LOG"
    assert beside.is_file()
    assert check_banner_and_lines(read_log(beside))[-1] == END

    # A folder where the file beside the executable would be: the temporary folder.
    beside.unlink()
    beside.mkdir()
    pkg.write_ini(log_ini(missing))
    assert prefix.run(pkg.exe).code == 0
    in_temp = temp / "my.setup.LOG"
    assert in_temp.is_file()
    assert check_banner_and_lines(read_log(in_temp))[-1] == END

    # Nowhere to write: the run still ends normally and writes nothing.
    shutil.rmtree(temp)
    temp.write_bytes(b"")
    pkg.write_ini(log_ini(missing))
    result = prefix.run(pkg.exe)
    assert result.code == 0
    assert temp.is_file() and temp.stat().st_size == 0
    assert shared.is_file() and shared.stat().st_size == 0


def test_no_log_file_configured_creates_nothing(prefix, workdir, log_places):
    shared, temp = log_places
    for ini in (log_ini(""), "[GeneralOptions]\nOptions=q\n", "[PREREQ_CHAINER]\nLogFile=\n"):
        pkg = Package(workdir / "quiet", "setup.exe")
        pkg.write_ini(ini)
        assert prefix.run(pkg.exe).code == 0
        assert not [p.name for p in pkg.folder.iterdir() if p.suffix.lower() == ".log"]
        assert not shared.exists() and not temp.exists()
    # A path given to the log while logging is off: closing writes nothing.
    log = workdir / "off.log"
    probe(prefix, "nolog", win_path(log))
    assert not log.exists()


def test_set_log_file_after_first_line_does_not_move_the_log(prefix, workdir):
    first, second = workdir / "first.log", workdir / "second.log"
    _, stored = probe(prefix, "move", win_path(first), win_path(second))
    assert not second.exists()
    assert check_banner_and_lines(read_log(first)) == ["first", "second", END]
    assert stored == win_path(first)


@pytest.mark.parametrize("threads,lines", [(2, 300), (16, 60)])
def test_threads_writing_at_once_produce_whole_lines(prefix, workdir, threads, lines):
    log = workdir / "threads.log"
    probe(prefix, "threads", win_path(log), str(threads), str(lines), timeout=240)
    texts = check_banner_and_lines(read_log(log))
    assert texts[-1] == END
    seen = {}
    for t in texts[:-1]:
        m = re.fullmatch(r"Writer:(\d+) line (\d+) (x*)\|", t)
        assert m, repr(t)
        writer, number, pad = int(m.group(1)), int(m.group(2)), len(m.group(3))
        assert pad == (writer * 7 + number) % 40
        seen.setdefault(writer, []).append(number)
    assert sorted(seen) == list(range(threads))
    for numbers in seen.values():
        assert numbers == list(range(lines)), "each writer's lines appear whole and in order"
    # Nothing is written after the end of the log.
    assert "after close" not in read_log(log)


# Links planted where the log goes: (what is planted, where the log lands).
# "victim" is a file outside every log place, "outside" a folder outside them.
LINK_CASES = [
    ("shared folder is a directory link", "shared-link", "beside"),
    ("configured file is a hard link", "configured-hard", "shared"),
    ("shared log file is a hard link", "shared-file-hard", "beside"),
    ("temporary folder is a directory link", "temp-link", None),
    # Wine follows a symbolic link to a file without a reparse point: the
    # file's final path, outside the folder, refuses it.
    ("shared log file is a symbolic link", "shared-file-sym", "beside"),
]


@pytest.mark.parametrize("plant,lands", [c[1:] for c in LINK_CASES], ids=[c[0] for c in LINK_CASES])
def test_log_never_follows_a_link(prefix, workdir, log_places, plant, lands):
    shared, temp = log_places
    pkg = Package(workdir / "pkg", "setup.exe")
    outside = workdir / "outside"
    outside.mkdir()
    victim = workdir / "victim.txt"
    victim.write_bytes(b"keep")
    configured = workdir / "missing" / "x.log"
    beside = pkg.folder / "setup.LOG"
    if plant == "shared-link":
        os.symlink(outside, shared, target_is_directory=True)
    elif plant == "configured-hard":
        configured = workdir / "linked.log"
        os.link(victim, configured)
    elif plant == "shared-file-hard":
        shared.mkdir()
        os.link(victim, shared / "setup.LOG")
    elif plant == "shared-file-sym":
        shared.mkdir()
        os.symlink(victim, shared / "setup.LOG")
    elif plant == "temp-link":
        shared.write_bytes(b"")
        beside.mkdir()
        os.symlink(outside, temp, target_is_directory=True)
    pkg.write_ini(log_ini(win_path(configured)))
    assert prefix.run(pkg.exe).code == 0
    assert victim.read_bytes() == b"keep"
    assert not list(outside.iterdir())
    if lands:
        log = {"beside": beside, "shared": shared / "setup.LOG"}[lands]
        assert check_banner_and_lines(read_log(log))[-1] == END
