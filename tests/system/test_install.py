"""Launching setups under Wine: shell and direct launches, return codes in
HKCU\\<key>, reboot modes, the reboot question answered through its window.
The restart request itself is recorded by the launch probe, never made."""
import re

import pytest

import harness
from install_support import place_stand_in, read_records, read_report, run_probe, probe_args


REBOOT_TEXT = ("You must reboot your computer in order to continue the installation. Press Yes to restart "
               "now or press No to abort the installation and manually restart later.")


def key_name(workdir):
    return "CorvaneTestInstall_" + str(abs(hash(str(workdir))))


@pytest.fixture
def store_key(prefix, workdir):
    key = key_name(workdir)
    yield key
    prefix.reg_delete("HKCU\\" + key)


def log_lines(path):
    return harness.Package.read_log(None, path).replace("\r\n", "\n").split("\n")


@pytest.mark.parametrize("long_prefix", [False, True])
@pytest.mark.parametrize("code,outcome,pauses", [
    (0, 0, False),
    (1603, 1, False),
    (3010, 1, True),
    (0xC0000005, 1, True),
    (0xBFFFFFFF, 1, False),
])
def test_shell_launch(prefix, workdir, store_key, long_prefix, code, outcome, pauses):
    folder = workdir / "pkg dir"
    record = workdir / "record.txt"
    exe = place_stand_in(folder, "setup.exe", exit=hex(code), record=harness.win_path(record))
    path = harness.win_path(exe)
    if long_prefix:
        path = "\\\\?\\" + path
    log = workdir / "launch.log"
    r = run_probe(prefix, workdir, "install", file=path, args="/quiet /norestart", name="App1Ret",
                  key=store_key, log=harness.win_path(log), silent=1)
    assert int(r["outcome"]) == outcome
    assert int(r["returncode"]) == code
    assert r["restarts"] == "0"
    assert (int(r["elapsed"]) >= 1900) == pauses

    runs = read_records(record)
    assert len(runs) == 1
    run = runs[0]
    assert "\\\\?\\" not in run["exe"] and "\\\\?\\" not in run["cmdline"] and "\\\\?\\" not in run["cwd"]
    assert run["cwd"].rstrip("\\").lower() == harness.win_path(folder).lower()
    assert run["cmdline"].endswith(" /quiet /norestart")

    signed = code - (1 << 32) if code >= 0x80000000 else code
    assert prefix.reg_query("HKCU\\" + store_key, "App1Ret") == str(signed)
    lines = log_lines(log)
    assert any(l.endswith("Launching file:" + path) for l in lines)
    assert any(l.endswith("Return code of launched file:%d" % code) for l in lines)
    assert not any("Launch failed. Error:" in l for l in lines)


def test_empty_arguments_reach_the_setup_as_none(prefix, workdir, store_key):
    record = workdir / "record.txt"
    exe = place_stand_in(workdir / "p", "setup.exe", record=harness.win_path(record))
    r = run_probe(prefix, workdir, "install", file=harness.win_path(exe), args="", name="", key=store_key, silent=1)
    assert r["outcome"] == "0"
    cmd = read_records(record)[0]["cmdline"].strip()
    assert cmd.strip('"').lower().endswith("setup.exe")
    # The empty RetValPropName is recorded too: the key's default value.
    listing = prefix.reg_query("HKCU\\" + store_key)
    assert re.search(r"^\s*\(\w+\)\s+REG_SZ\s+0\s*$", listing, re.M), listing


def test_missing_setup_fails_with_file_not_found(prefix, workdir, store_key):
    log = workdir / "launch.log"
    missing = harness.win_path(workdir / "setup.exe")
    r = run_probe(prefix, workdir, "install", file=missing, args="/q", name="Missing", key=store_key,
                  log=harness.win_path(log), silent=1, reboot=1)
    assert r["outcome"] == "1"
    assert r["returncode"] == "2"
    assert r["restarts"] == "0" and r["started"] == "0"
    assert prefix.reg_query("HKCU\\" + store_key, "Missing") == "2"
    text = harness.Package.read_log(None, log)
    failed = text.index("Launch failed. Error:")
    reason = text[failed + len("Launch failed. Error:"):].split("Return code of launched file:")[0]
    assert "not" in reason.lower() and "2" != reason.strip()  # the system's text, not the bare number
    assert text.index("Return code of launched file:2") > failed


def test_first_return_code_under_a_name_stays(prefix, workdir, store_key):
    first = place_stand_in(workdir / "a", "setup.exe", exit=5)
    second = place_stand_in(workdir / "b", "setup.exe", exit=0)
    run_probe(prefix, workdir, "install", file=harness.win_path(first), name="Same", key=store_key, silent=1)
    run_probe(prefix, workdir, "install", file=harness.win_path(second), name="Same", key=store_key, silent=1)
    assert prefix.reg_query("HKCU\\" + store_key, "Same") == "5"


@pytest.mark.parametrize("code,reboot,present,accept,outcome,restarts,asked", [
    (0, 0, 1, 1, 0, 0, -1),
    (0, 1, 0, 1, 2, 1, -1),
    (0, 2, 0, 1, 0, 0, 4),
    (0, 2, 1, 1, 2, 1, 4),
    (3010, 1, 1, 1, 1, 0, -1),
    (1, 2, 1, 1, 1, 0, -1),
    (0, 1, 0, 0, 2, 1, -1),  # a refused restart request still ends the installs
])
def test_reboot_modes_silent(prefix, workdir, store_key, code, reboot, present, accept, outcome, restarts, asked):
    exe = place_stand_in(workdir / "p", "setup.exe", exit=code)
    log = workdir / "launch.log"
    r = run_probe(prefix, workdir, "install", file=harness.win_path(exe), name="R", key=store_key, silent=1,
                  reboot=reboot, present=present, restart=accept, log=harness.win_path(log))
    assert int(r["outcome"]) == outcome
    assert int(r["restarts"]) == restarts
    assert int(r["presence_asked"]) == asked
    assert r["declined"] == "0"
    assert r["started"] == ("1" if outcome == 2 else "0")
    if restarts:
        assert r["reason"] == "0x80040002"
    assert (any(l.endswith("Rebooting machine...") for l in log_lines(log))) == (outcome == 2)


# Only an explicit Yes restarts: No is the default button (Enter), and Esc,
# closing the box, or a box that cannot be shown (no display) mean No. The
# caption is the run's title when there is one.
@pytest.mark.parametrize("answer,title", [("yes", ""), ("no", ""), ("enter", "Contoso Suite Setup"),
                                          ("esc", ""), ("close", "Contoso Suite Setup"), ("unshown", "")])
def test_reboot_question_answered_through_the_window(prefix, workdir, store_key, answer, title):
    exe = place_stand_in(workdir / "p", "setup.exe", exit=0)
    out = workdir / "probe.txt"
    report = workdir / "box.txt"
    args = probe_args("install", out, file=harness.win_path(exe), name="Q", key=store_key, silent=0, reboot=1,
                      title=title)
    if answer == "unshown":
        assert prefix.run(harness.program("launch_probe"), *args, timeout=60, env={"DISPLAY": ""}).code == 0
        r = read_report(out)
        assert r["outcome"] == "2" and r["declined"] == "1" and r["restarts"] == "0"
        return
    probe = prefix.popen(harness.program("launch_probe"), *args)
    caption = title or "Confirmation"
    try:
        answered = prefix.run(harness.program("answer_box"), caption, answer, harness.win_path(report), "30000",
                              timeout=60)
        assert answered.code == 0, "no reboot question appeared"
        probe.wait(timeout=60)
    finally:
        if probe.poll() is None:
            probe.kill()
            probe.wait()
    box = read_report(report)
    assert box["text"] == REBOOT_TEXT
    assert box["caption"] == caption
    assert box["default"] == "7", "No is the default button"
    buttons = [l for l in report.read_text().splitlines() if l.startswith("button=")]
    assert sorted(buttons) == ["button=6", "button=7"]  # Yes and No, no Cancel

    r = read_report(out)
    assert r["outcome"] == "2" and r["started"] == "1"
    if answer == "yes":
        assert r["declined"] == "0" and r["restarts"] == "1" and r["reason"] == "0x80040002"
    else:
        assert r["declined"] == "1" and r["restarts"] == "0"


@pytest.mark.parametrize("args,tail", [("/a /b", "  /a /b"), (" /c", "  /c"), ("", " ")])
def test_direct_launch_as_local_system(prefix, workdir, store_key, args, tail):
    record = workdir / "record.txt"
    exe = place_stand_in(workdir / "p", "setup.exe", exit=7, record=harness.win_path(record))
    r = run_probe(prefix, workdir, "install", file=harness.win_path(exe), args=args, name="D", key=store_key,
                  system=1, silent=1)
    assert r["returncode"] == "7" and r["outcome"] == "1"
    run = read_records(record)[0]
    assert run["cmdline"] == '"%s"%s' % (harness.win_path(exe), tail)
    assert prefix.reg_query("HKCU\\" + store_key, "D") == "7"


def test_direct_launch_of_a_missing_program(prefix, workdir, store_key):
    log = workdir / "launch.log"
    r = run_probe(prefix, workdir, "install", file=harness.win_path(workdir / "none.exe"), name="D",
                  key=store_key, system=1, silent=1, log=harness.win_path(log))
    assert r["outcome"] == "1" and r["returncode"] == "2"
    assert "Launch failed. Error:" in harness.Package.read_log(None, log)


# LocalSystem, and an elevated run, hand an installer package to msiexec.exe
# of the system folder directly (no class handler of the user's registry),
# with the package's folder as the current one (a long-prefixed path names
# none that can be current).
@pytest.mark.parametrize("token,long_prefix", [(dict(system=1), True), (dict(elevated=1), False)],
                         ids=["local system", "elevated"])
def test_installer_package_goes_to_msiexec_as_local_system(prefix, workdir, store_key, token, long_prefix):
    # The chainer takes msiexec.exe from its own system folder (the 64-bit one
    # for this build). A stand-in there records the command line; the folder
    # is restored afterwards.
    system_folder = prefix.drive_c / "windows" / "system32"
    msiexec = system_folder / "msiexec.exe"
    aside = system_folder / "msiexec.exe.aside"
    created_folder = not system_folder.exists()
    if msiexec.exists():
        msiexec.rename(aside)
    record = workdir / "msiexec.txt"
    try:
        place_stand_in(system_folder, "msiexec.exe", exit=1620, record=harness.win_path(record))
        package = workdir / "p" / "SETUP.MSI"
        package.parent.mkdir(parents=True)
        package.write_bytes(b"x")
        r = run_probe(prefix, workdir, "install", file=("\\\\?\\" if long_prefix else "") + harness.win_path(package),
                      args="/qn", name="M", key=store_key, silent=1,
                      # Wine would start its own msiexec before a file in its place.
                      env={"WINEDLLOVERRIDES": "mscoree,mshtml=;msiexec.exe=n"}, **token)
        runs = read_records(record)
    finally:
        msiexec.unlink(missing_ok=True)
        (system_folder / "msiexec.txt").unlink(missing_ok=True)
        if aside.exists():
            aside.rename(msiexec)
        if created_folder:
            system_folder.rmdir()
    assert r["outcome"] == "1" and r["returncode"] == "1620"
    assert len(runs) == 1
    assert runs[0]["cmdline"] == ' /i "%s" /qn' % harness.win_path(package)
    if not long_prefix:
        assert runs[0]["cwd"].rstrip("\\").lower() == harness.win_path(package.parent).lower()
    assert prefix.reg_query("HKCU\\" + store_key, "M") == "1620"
