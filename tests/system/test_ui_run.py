"""Whole basic-UI runs of the chainer (Options "b") under Xvfb: the progress
dialog driven by the real engine, downloads from a loopback server, stand-in
setups, Cancel, failures, the reboot question. The prefix is the module's
own: its wineboot.exe is a stand-in that records the restart request."""
import re
import shutil
import time

import pytest

import harness
from harness import program, win_path
from install_support import place_stand_in, read_records
from silent_support import TESTS_KEY, chainer_ini, installed_search, log_lines, md5_of, prepare_setup
from test_ui import Watcher, children, inspect, screenshot

TITLE = "Corvane Setup"


@pytest.fixture(scope="module")
def ui_run_prefix(display, tmp_path_factory):
    root = tmp_path_factory.mktemp("ui-run-wine")
    pfx = harness.Prefix(root, display).create()
    pfx.reg_add("HKCU\\Software\\Wine\\X11 Driver", "Managed", "N")
    record = root / "wineboot-record.txt"
    system32 = pfx.drive_c / "windows" / "system32"
    place_stand_in(root / "standin", "wineboot.exe", record=win_path(record))
    shutil.copyfile(root / "standin" / "wineboot.exe", system32 / "wineboot.exe")
    shutil.copyfile(root / "standin" / "wineboot.txt", system32 / "wineboot.txt")
    pfx.env["WINEDLLOVERRIDES"] = "mscoree,mshtml=;wineboot.exe=n"
    pfx.wineboot_record = record
    yield pfx
    pfx.close()


@pytest.fixture
def key(ui_run_prefix, request):
    name = re.sub(r"\W", "_", request.node.name)
    ui_run_prefix.reg_delete(f"{TESTS_KEY}\\{name}")
    ui_run_prefix.reg_delete("HKCU\\InterbootContext")
    yield name
    ui_run_prefix.reg_delete(f"{TESTS_KEY}\\{name}")
    ui_run_prefix.reg_delete("HKCU\\InterbootContext")


class Run:
    """The chainer started in the background through the runner."""

    def __init__(self, prefix, package, text, timeout=120, faults=()):
        package.write_ini(text, faults=faults)
        self.proc = prefix.popen(program("runexe"), str(timeout * 1000), win_path(package.exe))
        self.timeout = timeout

    def code(self):
        out, _ = self.proc.communicate(timeout=self.timeout + 30)
        m = re.search(rb"exit=(-?\d+)", out)
        assert m, out
        return int(m.group(1))

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()


@pytest.fixture
def runs():
    started = []
    yield lambda *a, **k: started.append(Run(*a, **k)) or started[-1]
    for r in started:
        r.kill()


def wait_text(prefix, wanted, timeout=60):
    """Waits until the dialog's status line starts with the text; answers
    the dialog's children."""
    return wait_dialog(prefix, re.escape(wanted) + ".*", timeout)


def app(http, dl, key, name, setup, **extra):
    behaviour = {k: extra.pop(k) for k in ("exit", "sleep", "record") if k in extra}
    behaviour.setdefault("exit", 0)
    if extra.pop("installs", True):
        behaviour.update(regkey=f"Software\\CorvaneTests\\{key}", regvalue=name, regdata="1")
    exe = prepare_setup(http.root, dl, setup, **behaviour)
    entry = {"Name": name, "Url": http.url(setup), "ExactSize": exe.stat().st_size, "MD5": md5_of(exe),
             "BasicUiCommandLine": "/passive", "NoUiCommandLine": "/quiet", "RetValPropName": name.replace(" ", "") + "Ret",
             **installed_search(key, name)}
    entry.update(extra)
    return entry


def test_success_one_bar_through_downloads_and_setups(ui_run_prefix, workdir, http, key, runs):
    dl, log, record = workdir / "dl", workdir / "run.log", workdir / "record.txt"
    apps = [app(http, dl, key, "Alpha Runtime", "a.exe", sleep=2500, record=win_path(record), Options="m"),
            app(http, dl, key, "Beta Runtime", "b.exe", record=win_path(record))]
    run = runs(ui_run_prefix, harness.Package(workdir / "pkg"), chainer_ini("b", apps, log, dl))
    # The status window carries the same title while searching: watch the
    # progress dialog once it is up.
    wait_text(ui_run_prefix, "Installing Alpha Runtime")
    watcher = Watcher(ui_run_prefix, TITLE, 60000)
    screenshot(ui_run_prefix, TITLE, workdir / "progress-dialog-run.png")
    assert run.code() == 0
    rows = [r for r in watcher.states() if "text" in r]
    installing = [(r["text"], r["pos"]) for r in rows if r["text"].startswith("Installing")]
    # Two downloads take the first half of the one bar, the two setups the
    # second; a setup counts as done when it has ended.
    assert ("Installing Alpha Runtime", "5000") in installing and ("Installing Beta Runtime", "7500") in installing
    assert [r["cmdline"].split()[-1] for r in read_records(record)] == ["/passive", "/passive"]
    lines = log_lines(log)
    assert "Starting installing prerequisites in basic UI mode." in lines


@pytest.mark.parametrize("options,code", [("", 0), ("m", 1)], ids=["optional", "mandatory"])
def test_cancel_during_slow_download(ui_run_prefix, workdir, http, key, runs, options, code):
    dl, log = workdir / "dl", workdir / "run.log"
    apps = [app(http, dl, key, "Slow", "slow.exe", Options=options)]
    (http.root / "slow.exe").write_bytes((http.root / "slow.exe").read_bytes() * 8)
    apps[0]["ExactSize"] = (http.root / "slow.exe").stat().st_size
    http.set_mode(chunk=4096, delay=0.2)
    run = runs(ui_run_prefix, harness.Package(workdir / "pkg"), chainer_ini("b", apps, log, dl))
    wait_text(ui_run_prefix, "Downloading Slow")
    time.sleep(1.0)
    assert "ok" in inspect(ui_run_prefix, "cancel", TITLE)
    confirm(ui_run_prefix, workdir)
    assert run.code() == code
    assert (dl / "slow.exe.part").exists(), "a cancelled download keeps its part file"
    assert not (dl / "slow.exe").exists()
    assert not any(l.startswith("Launching file:") for l in log_lines(log))


def confirm(prefix, workdir, answer="yes"):
    """Answers the question "Cancel the installation?" (captioned with the title)."""
    report = workdir / "question.txt"
    assert prefix.run(program("answer_box"), TITLE, answer, win_path(report), "30000", timeout=60).code == 0
    assert "text=Cancel the installation?" in report.read_text(encoding="utf-8")


def test_cancel_during_install_waits_for_the_setup_and_stops_the_next_item(ui_run_prefix, workdir, http, key, runs):
    dl, log, record = workdir / "dl", workdir / "run.log", workdir / "record.txt"
    apps = [app(http, dl, key, "First", "first.exe", sleep=6000, record=win_path(record)),
            app(http, dl, key, "Second", "second.exe", record=win_path(record))]
    run = runs(ui_run_prefix, harness.Package(workdir / "pkg"), chainer_ini("b", apps, log, dl))
    wait_text(ui_run_prefix, "Installing First")
    assert "ok" in inspect(ui_run_prefix, "cancel", TITLE)
    confirm(ui_run_prefix, workdir)
    # The dialog stays while the setup runs, and says so; it goes once the
    # setup has ended.
    wait_text(ui_run_prefix, "Cancelling after First finishes\u2026", timeout=10)
    time.sleep(2.0)
    kids = children(inspect(ui_run_prefix, "find", TITLE, "500"))
    assert kids[1034][5] == "Cancelling after First finishes\u2026", "the dialog went while the setup ran"
    assert kids[2][4] == 1
    assert run.code() == 0
    ran = read_records(record)
    assert len(ran) == 1 and ran[0]["exe"].lower().endswith("first.exe"), ran
    assert ui_run_prefix.reg_query(f"{TESTS_KEY}\\{key}", "First") == "1", "the running setup was stopped"


def close_summary(prefix, *told):
    """Waits for the summary the dialog shows at the end, checks that it tells
    each text, and closes it."""
    kids = wait_dialog(prefix, "The installation (could not be completed|finished, but not everything).*")
    assert kids[2][5] == "Close"
    text = inspect(prefix, "text", TITLE, "1037")
    for name in told:
        assert name in text, text
    assert "ok" in inspect(prefix, "cancel", TITLE)


def wait_dialog(prefix, wanted, timeout=60):
    """Waits until the dialog's status line matches the pattern; answers the
    dialog's children."""
    deadline = time.monotonic() + timeout
    last = None
    while time.monotonic() < deadline:
        found = inspect(prefix, "find", TITLE, "2000")
        if "window=" in found:
            last = children(found)
            if 1034 in last and re.fullmatch(wanted, last[1034][5]):
                return last
        time.sleep(0.1)
    raise AssertionError(f"status line {wanted!r} not seen; last: {last}")


DOWNLOAD_FAILED = "Download of Needed failed: "
SETUP_ENDED = "Setup of Needed ended with return code "
# What the dialog shows when the work ends, read from its controls: app keys
# (exit: the setup's return code), server mode, status line, button, and the
# bar as (lowest position, highest position, upper limit). A mandatory
# failure leaves the dialog until Close, which ends the run with 1. The bar
# stays at the start of the failed item: a download's is 0, a downloaded
# setup's half the bar (the download was the first half).
SETUP_FAILED = ("Close", (5000, 5000, 10000))
DIALOG_CASES = {
    "not found": (dict(Url="missing.exe"), {}, DOWNLOAD_FAILED + "the server does not have the file (404 or 410 not found)"),
    "refused": ({}, dict(status=403), DOWNLOAD_FAILED + "the server refused the file (403 forbidden)"),
    "unavailable": ({}, dict(status=503, retry_after="0"),
                    DOWNLOAD_FAILED + "the server was unavailable (408, 429 or 5xx) and still was after the retries"),
    "checksum": (dict(MD5="0" * 32), {}, DOWNLOAD_FAILED + "the downloaded file's size, MD5 or SHA256 checksum does not match"),
    "size": (dict(ExactSize=1), {}, DOWNLOAD_FAILED + "the size the server announced differs from the expected size"),
    "too large": (dict(ExactSize=0), dict(announce=1 << 50),
                  DOWNLOAD_FAILED + "the file is larger than the free space on the download folder's drive; the part file is kept"),
    "cut": ({}, dict(drop_after=0, drop_every=True), DOWNLOAD_FAILED + "the connection kept ending before the whole file had arrived, or the server never confirmed where the file ends; the part file is kept"),
    "setup 1603": (dict(exit=1603), {}, SETUP_ENDED + "1603: a fatal error during installation", *SETUP_FAILED),
    "setup 1618": (dict(exit=1618), {}, SETUP_ENDED + "1618: another installation is already in progress",
                   *SETUP_FAILED),
    "setup 3010": (dict(exit=3010), {}, SETUP_ENDED + "3010: the setup reported that a restart is needed",
                   *SETUP_FAILED),
    "setup 42": (dict(exit=42), {}, SETUP_ENDED + "42", *SETUP_FAILED),
    "setup missing": (dict(SetupFile="missing.exe"), {}, SETUP_ENDED + "2: a file was not found"),
    # A slow download of known size: the line and the bar follow its bytes.
    "slow download": (dict(Options=""), dict(chunk=4096, delay=0.1),
                      r"Downloading Needed \((?!0\.0 )\d+\.\d of \d+\.\d KB\)", "Cancel", (1, 4999, 10000)),
}


@pytest.mark.parametrize("case", DIALOG_CASES, ids=list(DIALOG_CASES))
def test_what_the_dialog_shows(ui_run_prefix, workdir, http, key, runs, case):
    keys, mode, line, *rest = DIALOG_CASES[case]
    button, (low, high, limit) = rest if rest else ("Close", (0, 0, 10000))
    dl, log = workdir / "dl", workdir / "run.log"
    keys = dict(keys)
    # (The slow download installs its prerequisite: nothing is left to tell.)
    entry = app(http, dl, key, "Needed", "needed.exe", installs=case == "slow download", Options="m",
                exit=keys.pop("exit", 0))
    entry.update(keys)
    if "Url" in keys:
        entry["Url"] = http.url(keys["Url"])
    if "SetupFile" in keys:
        del entry["Url"]
    http.set_mode(**mode)
    # A setup missing from the package, looked for in the temporary folder.
    run = runs(ui_run_prefix, harness.Package(workdir / "pkg"), chainer_ini("b", [entry], log, dl),
               faults=("depends-on-temp-folder",) if "SetupFile" in keys else ())
    kids = wait_dialog(ui_run_prefix, re.escape(line) if case != "slow download" else line, timeout=90)
    if case in ("not found", "setup 1603", "slow download"):
        screenshot(ui_run_prefix, TITLE, workdir / f"{case.replace(' ', '-')}.png")
    assert kids[2][5] == button
    position, upper = kids[1035][6]
    assert low <= position <= high and upper == limit, kids[1035]
    if button == "Close":
        time.sleep(1.0)
        assert children(inspect(ui_run_prefix, "find", TITLE, "500"))[1034][5] == line, "the dialog must stay"
        assert "ok" in inspect(ui_run_prefix, "cancel", TITLE)
        # Closed with a mandatory prerequisite missing: not a success.
        assert run.code() == 1
    else:
        assert run.code() == 0


@pytest.mark.parametrize("options,code", [("", 0), ("m", 1)], ids=["optional", "mandatory"])
def test_progress_dialog_that_cannot_be_created(ui_run_prefix, workdir, http, key, options, code):
    # Without a display no window can be created: the dialog fails at once,
    # nothing is installed, and the mandatory check decides.
    dl, log = workdir / "dl", workdir / "run.log"
    apps = [app(http, dl, key, "Unshown", "unshown.exe", Options=options)]
    package = harness.Package(workdir / "pkg")
    package.write_ini(chainer_ini("b", apps, log, dl))
    result = ui_run_prefix.run(package.exe, timeout=120, env={"DISPLAY": ""})
    assert result.code == code
    lines = log_lines(log)
    assert not any(l.startswith("Launching file:") for l in lines)
    # The log says why nothing happened, with the system's reason.
    shown = [l for l in lines if l.startswith("Progress dialog could not be shown. Error:")]
    assert len(shown) == 1 and len(shown[0]) > len("Progress dialog could not be shown. Error:"), lines


def test_mandatory_missing_after_installs(ui_run_prefix, workdir, http, key, runs):
    dl, log = workdir / "dl", workdir / "run.log"
    apps = [app(http, dl, key, "Ghost", "ghost.exe", installs=False, Options="m")]
    run = runs(ui_run_prefix, harness.Package(workdir / "pkg"), chainer_ini("b", apps, log, dl))
    # Its setup went through, yet it is still missing: told, not a silent end.
    close_summary(ui_run_prefix, "Ghost")
    assert run.code() == 1
    assert "Return code of launched file:0" in log_lines(log)


def test_credential_question_refused(ui_run_prefix, workdir, http, key, runs):
    dl, log = workdir / "dl", workdir / "run.log"
    apps = [app(http, dl, key, "Locked", "locked.exe")]
    http.set_mode(auth="user:secret")
    run = runs(ui_run_prefix, harness.Package(workdir / "pkg"), chainer_ini("b", apps, log, dl))
    # An optional item that failed is told at the end.
    close_summary(ui_run_prefix, "Locked")
    assert run.code() == 0
    assert "Download failed. Error:-536870894" in log_lines(log)


@pytest.mark.parametrize("answer", ["no", "esc", "yes"])
def test_reboot_question(ui_run_prefix, workdir, http, key, runs, answer):
    dl, log = workdir / "dl", workdir / "run.log"
    ui_run_prefix.wineboot_record.unlink(missing_ok=True)
    apps = [app(http, dl, key, "Kernel Update", "kb.exe", Options="r"),
            app(http, dl, key, "After Reboot", "after.exe")]
    run = runs(ui_run_prefix, harness.Package(workdir / "pkg"), chainer_ini("b", apps, log, dl))
    report = workdir / "box.txt"
    # The question carries the package's title, as the dialog does.
    answered = ui_run_prefix.run(program("answer_box"), TITLE, answer, win_path(report), "60000", timeout=90)
    assert answered.code == 0
    box = report.read_text(encoding="utf-8")
    assert "You must reboot your computer" in box and "default=7" in box
    # The install loop stops after the item either way; the dialog stays
    # with the reboot notice until the user closes it.
    kids = wait_text(ui_run_prefix, "Setup of Kernel Update asks for a restart of the computer")
    assert kids[2][5] == "Close"
    assert "ok" in inspect(ui_run_prefix, "cancel", TITLE)
    code = run.code()
    lines = log_lines(log)
    assert "Rebooting machine..." in lines
    assert not any("after.exe" in l for l in lines if l.startswith("Launching file:"))
    requests = [r["cmdline"] for r in read_records(ui_run_prefix.wineboot_record) if "--init" not in r["cmdline"]]
    if answer in ("no", "esc"):
        # Esc is No: nothing restarts, and the restart is still needed: -1,
        # the context kept for the run after it.
        assert code == -1
        assert "  Reboot was refused=true" in lines
        assert not any(l.startswith("  Reboot in Progress=") for l in lines)
        assert ui_run_prefix.reg_query("HKCU\\InterbootContext", "KernelUpdateRet") == "0"
        assert requests == []
    else:
        assert code == -1
        assert "  Reboot was refused=false" in lines
        assert ui_run_prefix.reg_query("HKCU\\InterbootContext", "KernelUpdateRet") == "0"
        assert requests, "the restart request was not made"


# The dialog's run applies the same return-code meanings as a silent run:
# (ReturnCodes, exit code of the first setup, the run's exit code, the second
# setup launched).
DIALOG_MEANINGS = {"3010 as reboot": ("3010:reboot", 3010, -1, True), "1618 unlisted": ("", 1618, 1, False)}


@pytest.mark.parametrize("case", DIALOG_MEANINGS, ids=list(DIALOG_MEANINGS))
def test_return_code_meanings_in_the_dialog(ui_run_prefix, workdir, http, key, runs, case):
    codes, first_exit, exit_code, second = DIALOG_MEANINGS[case]
    dl, log, record = workdir / "dl", workdir / "run.log", workdir / "record.txt"
    first = app(http, dl, key, "First", "first.exe", exit=first_exit, record=win_path(record), Options="m",
                installs=second)
    if codes:
        first["ReturnCodes"] = codes
    apps = [first, app(http, dl, key, "Second", "second.exe", record=win_path(record))]
    run = runs(ui_run_prefix, harness.Package(workdir / "pkg"), chainer_ini("b", apps, log, dl))
    if not second:
        # A mandatory failure, and the item it kept from running: both told.
        close_summary(ui_run_prefix, "First", "Second")
    assert run.code() == exit_code
    launched = [r["exe"].rsplit("\\", 1)[1] for r in read_records(record)]
    assert launched == ["first.exe"] + (["second.exe"] if second else [])
    assert ui_run_prefix.key_exists("HKCU\\InterbootContext") == (exit_code == -1)


def test_open_site_shows_a_box_after_each_page(ui_run_prefix, workdir, key, runs):
    log, record = workdir / "run.log", workdir / "opened.txt"
    handler = place_stand_in(workdir / "handler", "urlhandler.exe", record=win_path(record))
    command_key = "HKCR\\InternetShortcut\\shell\\open\\command"
    original = ui_run_prefix.reg_query(command_key, "")
    ui_run_prefix.reg_add(command_key, None, f'"{win_path(handler)}" "%1"')
    try:
        apps = [{"Name": f"Site {i}", "OpenSite": f"http://127.0.0.1:9/page{i}", **installed_search(key, f"S{i}")}
                for i in (1, 2)]
        run = runs(ui_run_prefix, harness.Package(workdir / "pkg"), chainer_ini("b", apps, log))
        for i in (1, 2):
            report = workdir / f"box{i}.txt"
            seen = workdir / f"opened-at-box{i}.txt"
            answered = ui_run_prefix.run(program("answer_box"), f"Opening site of Site {i}", "ok", win_path(report),
                                         "60000", win_path(record), win_path(seen), timeout=90)
            assert answered.code == 0, f"no box after page {i}"
            box = report.read_text(encoding="utf-8")
            assert "text=\n" in box and f"caption=Opening site of Site {i}" in box
            # The next page waits for the box: while it is up, only the pages so far are open.
            assert len(read_records(seen)) <= i
        # Nothing was installed, so the mandatory check decides: no "m", exit 0.
        assert run.code() == 0
        assert [l for l in log_lines(log) if l.startswith("Launching URL:")] == [
            "Launching URL:http://127.0.0.1:9/page1", "Launching URL:http://127.0.0.1:9/page2"]
    finally:
        if original is None:
            ui_run_prefix.reg_delete(command_key)
        else:
            ui_run_prefix.reg_add(command_key, None, original)
