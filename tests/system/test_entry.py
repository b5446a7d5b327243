"""The process entry and the run sequence: where the INI lies, how it is read,
and the wait on the installer mutex."""
import subprocess
import threading
import time

import pytest

from harness import Package, program, win_path
from install_support import place_stand_in, read_records
from silent_support import chainer_ini


def test_no_ini_exits_zero_and_creates_nothing(prefix, workdir):
    pkg = Package(workdir / "pkg")
    before = sorted(p.name for p in pkg.folder.iterdir())
    result = prefix.run(pkg.exe)
    assert result.code == 0
    assert sorted(p.name for p in pkg.folder.iterdir()) == before


@pytest.mark.parametrize("name,ini", [("my.setup.exe", "my.setup.ini"), ("setup", "setup.ini"),
                                      ("Setup.EXE", "Setup.ini")])
def test_ini_name_beside_executable(prefix, workdir, name, ini):
    pkg = Package(workdir / "pkg", name)
    assert pkg.ini.name == ini
    log = workdir / "run.log"
    pkg.write_ini(f"[PREREQ_CHAINER]\nLogFile={win_path(log)}\n[GeneralOptions]\nOptions=q\n")
    assert prefix.run(pkg.exe).code == 0
    assert log.exists(), "the INI beside the executable was not read"


@pytest.mark.parametrize("raw", [b"", b"\xff", b"\xff\xfe", b"\xff\xfe[\x00", b"\x00\x00\x00\x00\x00",
                                 b"garbage that is not utf-16 at all!"])
def test_odd_and_short_files_are_harmless(prefix, package, raw):
    package.write_ini(raw=raw)
    assert prefix.run(package.exe).code == 0


def test_first_two_bytes_are_skipped_without_bom(prefix, package, workdir):
    log = workdir / "nobom.log"
    # Without a mark the first character is lost: "[[" keeps the header intact.
    package.write_ini(f"[[PREREQ_CHAINER]\nLogFile={win_path(log)}\n", bom=False)
    assert prefix.run(package.exe).code == 0
    assert log.exists()
    log.unlink()
    package.write_ini(f"[PREREQ_CHAINER]\nLogFile={win_path(log)}\n", bom=False)
    assert prefix.run(package.exe).code == 0
    assert not log.exists(), "a file without a mark must lose its first character"


def test_long_executable_path(prefix, workdir):
    name = "s" * 240 + ".exe"
    pkg = Package(workdir / "pkg", name)
    assert len(win_path(pkg.exe)) > 280
    log = workdir / "deep.log"
    pkg.write_ini(f"[PREREQ_CHAINER]\nLogFile={win_path(log)}\n")
    # A path beyond 260 characters is read in full: the INI beside it is
    # found. (Wine's CreateProcess refuses such paths, so the runner cannot
    # start it; Wine's own loader can, and 0 fits in the low byte it returns.)
    assert prefix.wine(pkg.exe, timeout=60).returncode == 0
    assert log.exists()


def _hold(prefix, name, ms, *extra):
    proc = prefix.popen(program("hold_mutex"), name, str(ms), *extra)
    line = proc.stdout.readline().decode().strip()
    assert line == "held", line
    return proc


def test_waits_for_installer_mutex(prefix, package):
    package.write_ini("[GeneralOptions]\nOptions=q\n")
    holder = _hold(prefix, "Global\\_MSIExecute", 3000)
    try:
        result = prefix.run(package.exe, timeout=60)
    finally:
        holder.wait(timeout=60)
    assert result.code == 0
    assert result.seconds >= 2.0, "the run did not wait for the installer mutex"


@pytest.mark.parametrize("general,title", [("Options=b\nTitle=Contoso Suite\n", "Contoso Suite"),
                                           ("Options=b\n", "Corvane Setup")], ids=["title", "product"])
def test_status_window_tells_the_installer_wait_and_answers_messages(prefix, package, general, title):
    # The status window carries the package's Title (else "<product> Setup"),
    # says what the run waits for, and its thread keeps answering messages
    # (on Windows it would otherwise read "Not Responding").
    package.write_ini(f"[GeneralOptions]\n{general}")
    holder = _hold(prefix, "Global\\_MSIExecute", 4000)
    try:
        run = prefix.popen(program("runexe"), "60000", win_path(package.exe))
        found = prefix.wine(program("ui_inspect"), "find", title, "15000", timeout=30).stdout.decode("utf-8")
        assert "child id=1001" in found, found
        assert "text=Waiting for another installation to finish\u2026" in found, found
        pings = [prefix.wine(program("ui_inspect"), "ping", title, timeout=30).stdout.decode() for _ in range(3)]
        assert all("answered=1" in p for p in pings), pings
        out, _ = run.communicate(timeout=90)
    finally:
        holder.wait(timeout=60)
    assert b"exit=0" in out, out


@pytest.mark.parametrize("hold,state", [
    # The holder releases the mutex but keeps its handle, as the installer
    # service may: a setup launched afterwards must be able to take it, so
    # the chainer must not keep owning it.
    (("1500", "keep", "60000"), "taken"),
    # An abandoned mutex counts as acquired: the run goes on. The chainer's
    # handle was the last one, so the mutex is gone by the time of the setup.
    (("1500", "abandon"), "missing"),
])
def test_installer_mutex_is_released_after_the_wait(prefix, package, workdir, hold, state):
    record, log = workdir / "record.txt", workdir / "run.log"
    place_stand_in(package.folder, "inner.exe", record=win_path(record), mutex="Global\\_MSIExecute")
    app = {"Name": "S", "SetupFile": "inner.exe", "NoUiCommandLine": "/q",
           "SearchType1": "7", "SearchString1": "HKCU\\Software\\CorvaneTests\\Absent\\Value"}
    package.write_ini(chainer_ini("q", [app], log, extra_general={"ExtractionFolder": "[SETUPEXEDIR]"}))
    holder = _hold(prefix, "Global\\_MSIExecute", *hold)
    try:
        result = prefix.run(package.exe, timeout=60)
    finally:
        if holder.poll() is None:
            holder.kill()
        holder.wait(timeout=60)
    assert result.code == 0
    assert result.seconds >= 1.0, "the run did not wait for the installer mutex"
    runs = read_records(record)
    assert [r.get("mutex") for r in runs] == [state]
