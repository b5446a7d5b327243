"""A silent run whose setup asks for a reboot. Windows' restart request runs
wineboot under Wine, which would end every process of the prefix; here the
prefix is the test's own and its wineboot.exe is a stand-in that records the
request."""
import shutil

import pytest

import harness
from install_support import place_stand_in, read_records
from silent_support import TESTS_KEY, chainer_ini, installed_search, log_lines


@pytest.fixture(scope="module")
def reboot_prefix(display, tmp_path_factory):
    root = tmp_path_factory.mktemp("reboot-wine")
    pfx = harness.Prefix(root, display).create()
    record = root / "wineboot-record.txt"
    system32 = pfx.drive_c / "windows" / "system32"
    place_stand_in(root / "standin", "wineboot.exe", record=harness.win_path(record))
    shutil.copyfile(root / "standin" / "wineboot.exe", system32 / "wineboot.exe")
    shutil.copyfile(root / "standin" / "wineboot.txt", system32 / "wineboot.txt")
    pfx.env["WINEDLLOVERRIDES"] = "mscoree,mshtml=;wineboot.exe=n"
    pfx.record = record
    yield pfx
    pfx.close()


def test_reboot_pending_keeps_context(reboot_prefix, workdir):
    prefix = reboot_prefix
    pkg = harness.Package(workdir / "pkg")
    log = workdir / "run.log"
    place_stand_in(pkg.folder, "needsreboot.exe", exit=0)
    place_stand_in(pkg.folder, "later.exe", exit=0)
    apps = [
        {"Name": "R", "SetupFile": "needsreboot.exe", "Options": "mr", "RetValPropName": "RRet",
         **installed_search("reboot", "R")},
        {"Name": "L", "SetupFile": "later.exe", "Options": "m", "RetValPropName": "LRet",
         **installed_search("reboot", "L")},
    ]
    pkg.write_ini(chainer_ini("q", apps, log, extra_general={"ExtractionFolder": "[SETUPEXEDIR]"}))
    result = prefix.run(pkg.exe, timeout=120)
    assert result.code == -1
    lines = log_lines(log)
    assert "Rebooting machine..." in lines
    assert "After running prerequisites we have:  Reboot was required=true" in lines
    assert "  Reboot was refused=false" in lines
    assert "  Reboot in Progress=false" in lines
    # The install loop stopped at the reboot: the second setup never ran, and
    # re-evaluation was skipped (no second "Searching for:R").
    assert sum(1 for l in lines if l.startswith("Launching file:")) == 1
    assert lines.count("Searching for:R") == 1
    # The context survives with the return code; the restart was requested.
    assert prefix.reg_query("HKCU\\InterbootContext", "RRet") == "0"
    requests = [r["cmdline"] for r in read_records(prefix.record) if "--init" not in r["cmdline"]]
    assert requests, "the restart request did not reach wineboot"
    assert any("--kill" in c or "--end-session" in c for c in requests), requests
