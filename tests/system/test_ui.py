"""The status window and the basic-UI progress dialog under Xvfb, driven by
the ui_probe program (the product's windows with scripted work) and read
and operated from outside by ui_inspect, as a user or the system would."""
import re
import subprocess
import threading
import time

import pytest

import harness
from harness import program, win_path

CORVANE_TITLE = "Corvane Setup"


@pytest.fixture(scope="module")
def ui_prefix(display, tmp_path_factory):
    """A prefix of our own: without a window manager Wine draws the captions
    itself only for unmanaged windows, which the screenshots need."""
    pfx = harness.Prefix(tmp_path_factory.mktemp("ui-wine"), display).create()
    pfx.reg_add("HKCU\\Software\\Wine\\X11 Driver", "Managed", "N")
    yield pfx
    pfx.close()


class Probe:
    """ui_probe running in the background; its lines are collected as they come."""

    def __init__(self, prefix, *args, env=None):
        self.started = time.monotonic()
        self.proc = prefix.popen(program("ui_probe"), *args, env=env)
        self.lines = []
        self._lock = threading.Lock()
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _read(self):
        for raw in self.proc.stdout:
            line = raw.decode("utf-8", errors="replace").rstrip("\r\n")
            m = re.match(r"(\d+) (.*)", line)
            if m:
                with self._lock:
                    self.lines.append((int(m.group(1)), m.group(2)))

    def events(self):
        with self._lock:
            return [e for _, e in self.lines]

    def time_of(self, prefix_text):
        with self._lock:
            for t, e in self.lines:
                if e.startswith(prefix_text):
                    return t
        return None

    def wait_for(self, prefix_text, timeout=30):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.time_of(prefix_text) is not None:
                return
            if self.proc.poll() is not None:
                self._reader.join(5)
                if self.time_of(prefix_text) is not None:
                    return
                break
            time.sleep(0.02)
        raise AssertionError(f"{prefix_text!r} not seen in {self.events()}")

    def finish(self, timeout=60):
        try:
            code = self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            raise AssertionError(f"probe did not end: {self.events()}")
        self._reader.join(10)
        return code

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()


@pytest.fixture
def probes():
    started = []
    yield lambda prefix, *args, env=None: started.append(Probe(prefix, *args, env=env)) or started[-1]
    for p in started:
        p.kill()


def inspect(prefix, *args, timeout=30, env=None):
    out = prefix.wine(program("ui_inspect"), *args, timeout=timeout, env=env).stdout.decode("utf-8", errors="replace")
    return out.replace("\r\n", "\n")


class Watcher:
    """ui_inspect watch in the background: every change of the dialog's text,
    bar position, range, state and visibility."""

    def __init__(self, prefix, title, ms=30000):
        self.proc = prefix.popen(program("ui_inspect"), "watch", title, str(ms))

    def states(self, timeout=60):
        try:
            out, _ = self.proc.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            out, _ = self.proc.communicate()
        rows = []
        for line in out.decode("utf-8", errors="replace").splitlines():
            parts = line.strip().split(" ", 1)
            if len(parts) == 2 and parts[1].startswith("text="):
                rows.append(dict(kv.split("=", 1) for kv in parts[1].split("|")))
            elif len(parts) == 2:
                rows.append({"event": parts[1]})
        return rows


def screenshot(prefix, title, path):
    """The window of that title, cut from a picture of the whole display."""
    found = inspect(prefix, "find", title)
    m = re.search(r"window=(-?\d+),(-?\d+),(-?\d+),(-?\d+)", found)
    assert m, found
    left, top, right, bottom = (int(v) for v in m.groups())
    full = path.with_suffix(".full.png")
    subprocess.run(f"xwd -root -display {prefix.env['DISPLAY']} | convert xwd:- png:{full}", shell=True,
                   check=True, timeout=60)
    margin = 12
    subprocess.run(["convert", str(full), "-crop",
                    f"{right - left + 2 * margin}x{bottom - top + 2 * margin}+{max(left - margin, 0)}+{max(top - margin, 0)}",
                    "+repage", str(path)], check=True, timeout=60)
    return found


def children(found):
    """id -> (left, top, right, bottom, visible, text, bar) from ui_inspect
    find; bar is (position, upper limit) for a progress bar, else None."""
    out = {}
    for m in re.finditer(r"child id=(\d+) class=\S+ rect=(-?\d+),(-?\d+),(-?\d+),(-?\d+) visible=(\d) "
                         r"style=\S+(?: bar=(\d+)/(\d+))? text=(.*)", found):
        bar = (int(m.group(7)), int(m.group(8))) if m.group(7) else None
        out[int(m.group(1))] = tuple(int(v) for v in m.groups()[1:6]) + (m.group(9), bar)
    return out


# Titles ---------------------------------------------------------------------

@pytest.mark.parametrize("exe,product,title", [
    (lambda: harness.CORVANE_EXE, "Corvane", "Corvane Setup"),
    # No version resource: the path stands in for the product name.
    (lambda: program("runexe"), "", "{path} Setup"),
    # A file that does not exist has no version resource either.
    (lambda: harness.BUILD / "missing.exe", "", "{path} Setup"),
], ids=["version-resource", "no-version-resource", "missing-file"])
def test_title_from_product_name_or_path(ui_prefix, exe, product, title):
    path = win_path(exe())
    out = ui_prefix.wine(program("ui_probe"), "title", path, timeout=60).stdout.decode(errors="replace")
    assert f"product={product}\r\n" in out or f"product={product}\n" in out, out
    assert f"title={title.format(path=path)}" in out, out


# Status window ----------------------------------------------------------------

def _status_line(probe, when):
    for e in probe.events():
        if e.startswith(when + " "):
            return dict(kv.split("=", 1) for kv in e[len(when) + 1:].split("|"))
    raise AssertionError(f"{when} not reported: {probe.events()}")


def test_status_window_title_text_layout_and_hide_from_worker(ui_prefix, probes, tmp_path):
    probe = probes(ui_prefix, "status", "--hold", "2500")
    probe.wait_for("preparing")
    found = screenshot(ui_prefix, CORVANE_TITLE, tmp_path / "status-window.png")
    probe.wait_for("searching")
    assert probe.finish() == 0
    prep = _status_line(probe, "preparing")
    assert prep["window"] == "shown" and prep["visible"] == "1"
    assert prep["title"] == CORVANE_TITLE and prep["text"] == "Preparing..."
    assert prep["icon"] == "1"
    # Skip is hidden and the text reaches the Skip button's right edge.
    assert prep["skipvisible"] == "0"
    text = [int(v) for v in prep["textrect"].split(",")]
    skip = [int(v) for v in prep["skiprect"].split(",")]
    assert text[2] == skip[2] and text[0] < skip[0]
    search = _status_line(probe, "searching")
    assert search["text"] == "Searching for prerequisites..." and search["title"] == CORVANE_TITLE
    # The worker's Hide returned only once the window was gone, and the
    # message wait then saw the worker end.
    events = probe.events()
    assert events.index("worker hidden") < events.index("wait=1")
    assert "hidden window=none" in events
    # Centred on the 1280x1024 screen (no owner).
    m = re.search(r"window=(-?\d+),(-?\d+),(-?\d+),(-?\d+)", found)
    left, top, right, bottom = (int(v) for v in m.groups())
    assert abs((left + right) / 2 - 640) <= 2 and abs((top + bottom) / 2 - 512) <= 40, found


@pytest.mark.parametrize("args,expect", [
    (["--silent"], {"preparing": "none", "searching": "none"}),
    (["--same-thread"], {"preparing": "shown", "searching": "shown"}),
    (["--skip", "--same-thread"], {"preparing": "shown", "skip": True}),
], ids=["silent-no-window", "hide-on-owning-thread", "skip-visible-keeps-width"])
def test_status_window_modes(ui_prefix, probes, args, expect):
    probe = probes(ui_prefix, "status", "--hold", "300", *args)
    assert probe.finish() == 0
    events = probe.events()
    prep = _status_line(probe, "preparing")
    assert prep["window"] == expect["preparing"]
    if "searching" in expect:
        assert _status_line(probe, "searching")["window"] == expect["searching"]
    if expect.get("skip"):
        assert prep["skipvisible"] == "1"
        text = [int(v) for v in prep["textrect"].split(",")]
        skip = [int(v) for v in prep["skiprect"].split(",")]
        assert text[2] < skip[0], "the text must keep its template width beside Skip"
    assert "hidden window=none" in events


# Progress dialog ---------------------------------------------------------------

def _positions(rows):
    return [(r["text"], int(r["pos"]), int(r["high"])) for r in rows if "text" in r]


def test_bar_counts_an_install_done_when_it_has_ended(ui_prefix, probes, tmp_path):
    title = "Bar Setup"
    probe = probes(ui_prefix, "progress", "--title", title, "--plan", "I,I,I", "count:3",
                   "text:Installing Alpha", "sleep:1500", "text7:not an item", "sleep:300",
                   "text:Installing Beta", "sleep:300", "text:Installing Gamma", "sleep:300", "finish", "sleep:300")
    watcher = Watcher(ui_prefix, title)
    probe.wait_for("slept 1500")
    screenshot(ui_prefix, title, tmp_path / "progress-dialog.png")
    assert probe.finish() == 1
    rows = watcher.states()
    seen = _positions(rows)
    # One range for the run; an install is done when the next item begins.
    assert ("Installing Alpha", 0, 10000) in seen
    assert ("Installing Beta", 3333, 10000) in seen
    assert ("Installing Gamma", 6666, 10000) in seen
    assert ("Installing Gamma", 10000, 10000) in seen, "the whole run done fills the bar"
    assert any(r.get("detail") == "Item 2 of 3" for r in rows if r.get("text") == "Installing Beta")
    assert not any(text == "not an item" for text, _, _ in seen), "only kind 9 changes the dialog"
    order = [text for text, _, _ in seen]
    assert order.index("Installing Alpha") < order.index("Installing Beta") < order.index("Installing Gamma")
    events = probe.events()
    assert events.count("reevaluate") == 1 and events.count("check-mandatory") == 1
    assert events.index("sequence-ended") < events.index("dialog-ended=1")


MiB = 1 << 20


def test_bar_through_downloads_of_known_and_unknown_size_and_a_stall(ui_prefix, probes):
    title = "Sizes Setup"
    # Three downloads (3 MiB, unknown, 1 MiB) share three fifths of the bar by
    # size, the unknown one weighing as the mean (3000, 2000, 1000); two
    # installs the rest.
    probe = probes(ui_prefix, "progress", "--title", title, "--plan", f"D{3 * MiB},D,D{MiB},I,I", "count:3",
                   "text:Downloading Alpha", "sleep:600", f"started:{3 * MiB}", f"progress:{3 * MiB // 2}",
                   "sleep:400", "wait:silent:2:3", "sleep:800", "wait:silent:0:3", "sleep:300", "scope1", "sleep:300",
                   "text:Downloading Beta", "sleep:600", "started:0", f"progress:{MiB}", "sleep:600", "scope1",
                   "sleep:300", "text:Downloading Gamma", f"started:{MiB}", "sleep:300", "wait:busy:1:1", "sleep:600",
                   "wait:busy:0:1", "sleep:300", "scope1", "sleep:300", "count:2", "text:Installing Alpha", "sleep:300", "text:Installing Gamma",
                   "sleep:300", "finish", "sleep:300")
    watcher = Watcher(ui_prefix, title)
    assert probe.finish() == 1
    rows = [r for r in watcher.states() if "text" in r and r["high"] != "0"]
    states = [(r["text"], int(r["pos"]), r["marquee"]) for r in rows]
    # Before the server answers: a marquee, never the item's end.
    assert ("Downloading Alpha", 0, "1") in states
    assert ("Downloading Alpha (1.5 of 3.0 MB)", 1500, "0") in states
    assert ("Waiting for the server (try 2 of 3)\u2026", 1500, "0") in states
    assert ("Downloading Alpha (3.0 of 3.0 MB)", 3000, "0") in states
    # No size from the server: a marquee with the bytes so far.
    assert ("Downloading Beta (1.0 MB)", 3000, "1") in states
    assert ("Waiting for another installation to finish\u2026", 5000, "0") in states
    assert ("Installing Alpha", 6000, "0") in states and ("Installing Gamma", 8000, "0") in states
    assert any(t.startswith("Downloading Gamma") for t, _, _ in states[states.index(
        ("Waiting for another installation to finish\u2026", 5000, "0")):]), "back to the item's text"
    positions = [p for _, p, m in states if m == "0"]
    assert positions == sorted(positions), f"the bar went back: {states}"
    assert positions[-1] == 10000


def test_dialog_starts_with_preparing_and_title(ui_prefix, probes):
    title = "Layout Setup"
    probe = probes(ui_prefix, "progress", "--title", title, "sleep:2000", "finish")
    inspect(ui_prefix, "find", title)
    time.sleep(0.5)
    found = inspect(ui_prefix, "find", title)
    assert f"title={title}" in found
    kids = children(found)
    assert kids[1034][5] == "Preparing..."
    # The text spans the dialog, the bar stops before Cancel, all on one row.
    assert kids[1035][2] < kids[2][0]
    assert kids[1034][2] > kids[2][0]
    # The focus is not on Cancel: a stray Space or Enter cancels nothing.
    assert "focus=1035" in found, found
    for key in ("32", "13"):
        assert "ok" in inspect(ui_prefix, "key", title, key)
    assert probe.finish() == 1
    assert "dialog-ended=1" in probe.events()


@pytest.mark.parametrize("flags,code,reevaluated", [
    ([], 1, True),
    (["--mandatory-missing"], 7, True),
    (["--reboot"], 2, False),
], ids=["all-present", "mandatory-missing", "reboot-started"])
def test_end_of_sequence_result(ui_prefix, probes, flags, code, reevaluated):
    probe = probes(ui_prefix, "progress", "--title", "Result Setup", *flags, "count:1", "text:Installing A", "finish")
    assert probe.finish() == code
    events = probe.events()
    assert f"dialog-ended={code}" in events
    assert ("reevaluate" in events) == reevaluated
    assert ("check-mandatory" in events) == reevaluated


def test_transfer_in_place_does_not_end_the_dialog(ui_prefix, probes):
    title = "Scope Setup"
    probe = probes(ui_prefix, "progress", "--title", title, "count:2", "text:Downloading A", "started:50331648",
                   "sleep:300", "progress:12949914", "progress:1048576", "sleep:300", "scope1", "sleep:800",
                   "text:Downloading B", "sleep:300", "finish")
    watcher = Watcher(ui_prefix, title)
    assert probe.finish() == 1
    seen = _positions(watcher.states())
    # The bar and the line follow the bytes of an item whose size is known.
    assert ("Downloading A (0.0 of 48.0 MB)", 0, 10000) in seen
    # Bytes that come just after others are shown too.
    assert ("Downloading A (13.3 of 48.0 MB)", 1390, 10000) in seen
    assert ("Downloading A (48.0 of 48.0 MB)", 5000, 10000) in seen
    assert ("Downloading B", 5000, 10000) in seen
    events = probe.events()
    assert events.index("slept 800") < events.index("dialog-ended=1")


def test_long_name_is_shortened_before_its_numbers(ui_prefix, probes):
    title = "Long Setup"
    name = "Microsoft Visual C++ 2015-2022 Redistributable (x64) with a very long name indeed" * 2
    probe = probes(ui_prefix, "progress", "--title", title, "count:1", f"text:Downloading {name}",
                   f"started:{10 * MiB}", f"progress:{MiB}", "sleep:3000", "finish")
    probe.wait_for("step sleep")
    found = inspect(ui_prefix, "find", title)
    kids = children(found)
    assert probe.finish() == 1
    assert 1034 in kids, (found, probe.events())
    line = kids[1034][5]
    assert line.startswith("Downloading Microsoft Visual C++") and line.endswith("\u2026 (1.0 of 10.0 MB)"), line


@pytest.mark.parametrize("how,answer", [("cancel", "yes"), ("esc", "yes"), ("close", "yes"), ("cancel", "no"),
                                        ("esc", "esc")])
def test_cancel_asks_and_the_dialog_stays_until_the_setup_has_ended(ui_prefix, probes, tmp_path, how, answer):
    title = f"Cancel Setup {how} {answer}"
    probe = probes(ui_prefix, "progress", "--title", title, "count:2", "text:Installing Alpha Runtime",
                   "untilcancel:6000", "check", "text:Installing B", "sleep:300", "finish")
    probe.wait_for("step untilcancel")
    if how == "esc":
        assert "ok" in inspect(ui_prefix, "key", title, "27")
    else:
        assert "ok" in inspect(ui_prefix, how, title)
    report = tmp_path / "question.txt"
    assert ui_prefix.run(program("answer_box"), title, answer, win_path(report), "20000", timeout=60).code == 0
    box = report.read_text(encoding="utf-8")
    assert "text=Cancel the installation?" in box and "default=7" in box, box
    if answer != "yes":
        # No (Esc in the question too) goes on as if nothing had happened.
        assert probe.finish() == 1
        assert "step text Installing B" in probe.events()
        return
    kids = children(inspect(ui_prefix, "find", title))
    # The running setup goes to its end; the dialog says so and stays.
    assert kids[1034][5] == "Cancelling after Alpha Runtime finishes\u2026"
    screenshot(ui_prefix, title, tmp_path / "cancelling.png")
    assert probe.finish() == 2
    events = probe.events()
    assert events.index("step-ended cancelled=1") < events.index("dialog-ended=2")
    assert "cancelled-seen" in events and "step text Installing B" not in events
    assert "reevaluate" not in events


@pytest.mark.parametrize("close", ["cancel", "enter"])
def test_error_blinks_and_stays_until_closed(ui_prefix, probes, tmp_path, close):
    title = "Error Setup " + close
    probe = probes(ui_prefix, "progress", "--title", title, "count:2", "text:Installing Alpha",
                   "sleep:1500", "failure:setup:1603:Microsoft .NET Framework 4.8",
                   "error:0xE0000024:Microsoft .NET Framework 4.8")
    watcher = Watcher(ui_prefix, title)
    probe.wait_for("sequence-ended")
    time.sleep(1.0)
    # The sequence ended without its final call: the dialog stays.
    found = screenshot(ui_prefix, title, tmp_path / "progress-error.png")
    failed = "Setup of Microsoft .NET Framework 4.8 ended with return code 1603: a fatal error during installation"
    assert children(found)[1034][5] == failed
    assert children(found)[2][5] == "Close"
    # Close is the default button and has the focus: Enter closes.
    assert "focus=2" in found, found
    assert "ok" in inspect(ui_prefix, "key" if close == "enter" else "cancel", title, "13")
    assert probe.finish() == 2
    rows = [r for r in watcher.states() if "text" in r]
    # The bar disappears for a moment and comes back, and stays with the
    # error text until Close. (Wine keeps no progress-bar state: the red
    # state itself is visible only on Windows.)
    blink = [i for i, r in enumerate(rows) if r["visible"] == "0" and r["text"] == failed]
    assert blink, f"no blink seen: {rows}"
    after = rows[blink[0] + 1]
    # The failed item is not counted as done.
    assert after["visible"] == "1" and after["text"] == failed and after["pos"] == "0", rows
    assert "onerror code=0xE0000024 answer=0xE0000024" in probe.events()


@pytest.mark.parametrize("code,context,line", [
    ("12045", "", "Downloading Alpha"),
    ("0xE0000012", "", "Downloading Alpha"),
    # A transfer's report names its file and says what went wrong.
    ("0xE0000012", "alpha.exe", "alpha.exe: the server or proxy demands a user name and password"),
    # The engine's rejection comes without a text: the item is named from the work.
    ("0xE0000022", "", "Download of Alpha failed: the downloaded file's size, MD5 or SHA256 checksum does not match"),
], ids=["certificate", "credentials", "credentials-with-file", "rejected-file"])
def test_questions_are_refused_and_the_line_says_what_failed(ui_prefix, probes, code, context, line):
    title = "Question Setup " + code + context
    probe = probes(ui_prefix, "progress", "--title", title, "count:1", "text:Downloading Alpha", "sleep:1500",
                   "failure:download:0:Alpha", f"error:{code}:{context}", "sleep:800", "finish")
    watcher = Watcher(ui_prefix, title)
    assert probe.finish() == 1
    value = int(code, 0)
    assert f"onerror code=0x{value:08X} answer=0x{value:08X}" in probe.events()
    # Rows with an empty range belong to the closing dialog.
    rows = [r for r in watcher.states() if "text" in r and r["high"] != "0"]
    assert rows and all(r["text"] in ("Preparing...", "Downloading Alpha", line) for r in rows)
    assert any(r["visible"] == "0" and r["text"] == line for r in rows), "no blink"


def test_end_session_sets_the_stop_flag_and_the_dialog_stays(ui_prefix, probes):
    title = "Session Setup"
    probe = probes(ui_prefix, "progress", "--title", title, "count:1", "text:Installing A",
                   "waitshutdown:2500", "waitshutdown:20000", "sleep:500", "finish")
    inspect(ui_prefix, "find", title)
    # A shutdown that was called off changes nothing.
    assert "ok" in inspect(ui_prefix, "endsession", title, "0")
    probe.wait_for("shutdown-seen=0")
    assert "ok" in inspect(ui_prefix, "endsession", title, "1")
    probe.wait_for("shutdown-seen=1")
    assert "not-found" not in inspect(ui_prefix, "find", title), "the dialog must stay"
    assert probe.finish() == 1
    assert probe.events().count("shutdown-flag") == 1


SUMMARY_CASES = {
    # An optional download that failed: the run goes on and ends as a
    # success, and the user reads why at the end.
    "optional 404": ([], ["outcome:D:failed:0xE0000018:-:Optional Tool", "outcome:I:done:0:s:Runtime"], 1,
                     "The installation finished, but not everything was installed.",
                     ["\u2022 Optional Tool could not be downloaded: the server does not have the file (404 or 410 "
                      "not found).", "Run this setup again; if the problem stays, contact the publisher of this program."]),
    "optional 1603": ([], ["outcome:I:failed:1603:s:Runtime"], 1,
                      "The installation finished, but not everything was installed.",
                      ["\u2022 The setup of Runtime ended with return code 1603: a fatal error during installation."]),
    "optional 3010": ([], ["outcome:I:failed:3010:s:Runtime"], 1,
                      "The installation finished, but not everything was installed.",
                      ["return code 3010: the setup succeeded and asks for a restart.",
                       "Restart the computer, then run this setup again."]),
    # A mandatory item whose setup went through but that is still missing:
    # told, and the run still ends as missing (7).
    "mandatory missing": (["--mandatory-missing"], ["outcome:I:missing:0:sm:Ghost"], 7,
                          "The installation could not be completed.",
                          ["\u2022 The setup of Ghost ended without an error, but Ghost is still missing."]),
    "stalled and skipped": ([], ["outcome:D:failed:0xE000001D:m:Big", "outcome:I:skipped:0:-:Later"], 1,
                            "The installation could not be completed.",
                            ["no data arrived for 60 seconds", "\u2022 Later was not installed, because the "
                             "installation stopped before it.", "Check the Internet connection, then run this setup again."]),
}


@pytest.mark.parametrize("case", SUMMARY_CASES, ids=list(SUMMARY_CASES))
def test_summary_of_what_was_not_done(ui_prefix, probes, tmp_path, case):
    flags, outcome, code, headline, lines = SUMMARY_CASES[case]
    title = "Summary Setup " + case
    log = tmp_path / "run.log"
    probe = probes(ui_prefix, "progress", "--title", title, "--log", win_path(log), *flags, "count:1",
                   "text:Installing Runtime", *outcome, "finish")
    probe.wait_for("outcome-asked")
    time.sleep(0.5)
    found = screenshot(ui_prefix, title, tmp_path / "summary.png")
    kids = children(found)
    assert kids[1034][5] == headline
    assert kids[1037][4] == 1 and kids[1035][4] == 0, "the list takes the bar's place"
    text = inspect(ui_prefix, "text", title, "1037")
    for line in lines:
        assert line in text, text
    assert f"Details are in the log: {win_path(log)}" in text
    assert kids[2][5] == "Close" and "focus=2" in found, found
    # The list stays until the user closes it; Enter does, the code unchanged.
    time.sleep(1.0)
    assert "dialog-ended" not in " ".join(probe.events())
    assert "ok" in inspect(ui_prefix, "key", title, "13")
    assert probe.finish() == code


def test_everything_done_closes_without_a_summary(ui_prefix, probes):
    probe = probes(ui_prefix, "progress", "--title", "Done Setup", "count:1", "text:Installing Runtime",
                   "outcome:I:done:0:s:Runtime", "finish")
    assert probe.finish() == 1
    events = probe.events()
    assert events.index("outcome-asked") < events.index("dialog-ended=1")


# Each shipped language: the locale Wine takes the user's UI language from,
# the title's format, the status window's waiting text and the Cancel button.
LANGUAGE_CASES = {
    "en": ("C.UTF-8", "{} Setup", "Waiting for another installation to finish\u2026", "Cancel"),
    "de": ("de_DE.UTF-8", "{} Setup", "Warten auf das Ende einer anderen Installation\u2026", "Abbrechen"),
    "fr": ("fr_FR.UTF-8", "Installation de {}", "En attente de la fin d'une autre installation\u2026", "Annuler"),
    "es": ("es_ES.UTF-8", "Instalación de {}", "Esperando a que termine otra instalación\u2026", "Cancelar"),
    "it": ("it_IT.UTF-8", "Installazione di {}", "In attesa del termine di un'altra installazione\u2026", "Annulla"),
    "pt-BR": ("pt_BR.UTF-8", "Instalação de {}", "Aguardando o término de outra instalação\u2026", "Cancelar"),
    "ja": ("ja_JP.UTF-8", "{} セットアップ", "別のインストールの完了を待っています\u2026", "キャンセル"),
    "zh-CN": ("zh_CN.UTF-8", "{} 安装程序", "正在等待另一个安装完成\u2026", "取消"),
    "ru": ("ru_RU.UTF-8", "Установка {}", "Ожидание завершения другой установки\u2026", "Отмена"),
    # Not shipped: English; a language of the same family reads that one.
    "nl": ("nl_NL.UTF-8", "{} Setup", "Waiting for another installation to finish\u2026", "Cancel"),
    "pt-PT": ("pt_PT.UTF-8", "Instalação de {}", "Aguardando o término de outra instalação\u2026", "Cancelar"),
}


def _misfits(probe, when):
    """The controls whose text does not fit, as the probe measured them."""
    fits = [e.split() for e in probe.events() if e.startswith(f"fit {when} ")]
    assert fits, f"nothing measured for {when}: {probe.events()}"
    return [f for f in fits if f[3] != "fits=1"]


@pytest.mark.parametrize("dpi", [96, 192])
@pytest.mark.parametrize("language", LANGUAGE_CASES, ids=list(LANGUAGE_CASES))
def test_texts_in_the_users_language_fit_their_windows(ui_prefix, probes, tmp_path, language, dpi):
    locale, title_format, waiting, cancel = LANGUAGE_CASES[language]
    env = {"LANG": locale, "LC_ALL": locale}
    ui_prefix.reg_add("HKCU\\Control Panel\\Desktop", "LogPixels", dpi, kind="REG_DWORD")
    try:
        # The status window with Skip shown: its text at its narrowest.
        status = probes(ui_prefix, "status", "--skip", "--waiting", "--same-thread", "--hold", "1500", env=env)
        status.wait_for("waiting")
        line = _status_line(status, "waiting")
        product_title = title_format.format("Corvane")
        assert line["title"] == product_title and line["text"] == waiting
        screenshot(ui_prefix, product_title, tmp_path / f"status-{language}-{dpi}.png")
        assert status.finish() == 0
        assert not _misfits(status, "waiting")

        # The progress dialog downloading (rate and time left), then the
        # summary with the longest texts.
        title = f"Language {language} {dpi}"
        steps = ["count:3", "item:download:Visual C++ Runtime", f"started:{100 * MiB}",
                 f"progress:{MiB}", "sleep:1100", f"progress:{MiB}", "sleep:1100", f"progress:{MiB}", "sleep:1100", "measure", "sleep:1000",
                 "outcome:D:failed:0xE000001E:-:Visual C++ Runtime", "outcome:I:failed:3011:s:Framework",
                 "outcome:I:missing:0:sm:Database Engine", "outcome:I:skipped:0:-:Tools", "finish"]
        probe = probes(ui_prefix, "progress", "--title", title, "--mandatory-missing", *steps, env=env)
        probe.wait_for("slept 1100")
        time.sleep(1.5)
        found = screenshot(ui_prefix, title, tmp_path / f"progress-{language}-{dpi}.png")
        kids = children(found)
        assert kids[2][5] == cancel
        assert re.search(r"\d", kids[1036][5]), kids[1036]
        probe.wait_for("fit progress")
        assert not _misfits(probe, "progress")
        probe.wait_for("fit summary")
        found = screenshot(ui_prefix, title, tmp_path / f"summary-{language}-{dpi}.png")
        assert not _misfits(probe, "summary")
        kids = children(found)
        # The list stays inside the dialog, above Close.
        assert kids[1037][4] == 1 and kids[1037][3] <= kids[2][1], kids
        assert "ok" in inspect(ui_prefix, "key", title, "13")
        assert probe.finish() == 7
    finally:
        ui_prefix.reg_add("HKCU\\Control Panel\\Desktop", "LogPixels", 96, kind="REG_DWORD")

