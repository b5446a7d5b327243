"""corvane-check.exe under wine64: --write makes the file the chainer reads,
and --plan runs the chainer's own evaluation on this machine (filters,
every search type against the registry, files, the installer database and a
program's exit code) without downloading, installing, logging or writing the
registry."""
import shutil

import pytest

import harness
from harness import program, win_path

CHECK_EXE = harness.BUILD / "bin" / "corvane-check.exe"
EXAMPLE = harness.ROOT / "examples" / "every_search.txt"
KEY = r"HKCU\Software\CorvaneExample"


def check(prefix, *args):
    proc = prefix.wine(CHECK_EXE, *args, timeout=120)
    return proc.returncode, proc.stdout.decode("utf-8", errors="replace").replace("\r\n", "\n")


@pytest.fixture
def example(prefix, workdir):
    """The example package written by the Windows build, with its program."""
    assert CHECK_EXE.exists(), f"build first: {CHECK_EXE}"
    folder = workdir / "pkg"
    folder.mkdir()
    source = folder / "setup.txt"
    shutil.copyfile(EXAMPLE, source)
    code, out = check(prefix, "--write", win_path(source), win_path(folder / "setup.ini"))
    assert code == 0, out
    assert "0 errors, 0 warnings" in out
    shutil.copyfile(program("empty_program"), folder / "check_tools.exe")
    prefix.reg_delete(KEY)
    prefix.reg_add(KEY + r"\Releases\Release2.5")
    prefix.reg_add(KEY, "Version", "2.4")
    prefix.reg_add(KEY, "InstallDir", r"C:\Tools")
    prefix.reg_add(KEY + r"\Plugins", "Plugin1.5", "on")
    yield folder
    prefix.reg_delete(KEY)


def section(out, number):
    """The lines of one prerequisite in the plan."""
    start = out.index(f"\n{number}. ")
    end = out.find(f"\n{number + 1}. ", start)
    return out[start:end if end >= 0 else len(out)]


@pytest.mark.parametrize("build, present", [("120", True), ("90", False)])
def test_plan_shows_found_and_missed_searches(prefix, example, build, present):
    prefix.reg_add(KEY, "Build", build)
    before = sorted(p.name for p in example.iterdir())
    code, out = check(prefix, "--plan", win_path(example / "setup.ini"))
    assert code == 0, out
    assert "64-bit: reads WinNT64Versions" in out and "Mode: basic UI (b); elevated" in out

    tools = section(out, 1)
    for k in range(1, 9):
        assert f"search {k}: type " in tools
    assert "search 2: type 1 RegistrySubkeys" in tools and "values: Release2.5" in tools
    assert "search 3: type 2 RegistryValueVersion HKCU\\Software\\CorvaneExample\\Version\n      found; values: 2.4" in tools
    assert f"content: {build}" in tools
    if present:
        assert "search 9: type 10 ProgramExitCode check_tools.exe\n      found" in tools
        assert "search 10: type 12 RegistryValueNames" in tools and "values: Plugin1.5" in tools
        assert "result: 0 an acceptable version is present" in tools
        assert "action: 7 not selected" in tools
    else:
        assert "search 8: type 9 RegistryValueContent HKCU\\Software\\CorvaneExample\\Build\n      not found" in tools
        assert "search 9: type 10 ProgramExitCode check_tools.exe\n      not run" in tools
        setup = win_path(example) + "\\tools_setup.exe"
        assert "action: 1 install from the package: " + setup + " (written: tools_setup.exe)" in tools
        assert "mandatory: yes (m); parent: none" in tools
        # A setup of the package, as this (elevated) process would start it:
        # directly, the quoted path and two blanks before the command line as
        # written; with the reboot mode and return codes the run applies.
        assert "command line (BasicUiCommandLine): /passive\n" in tools
        assert f'launch: directly: {setup} with "{setup}"  /passive\n' in tools
        assert "working folder: " + win_path(example) + "\n" in tools
        assert "reboot: none\n   return codes: 0 success, anything else failure\n" in tools
        assert "selected: yes" in tools

    service = section(out, 2)
    for k, name in [(1, "MsiProductVersion"), (2, "MsiUpgradeCodeVersions"), (3, "MsiComponentInstalled")]:
        assert f"search {k}: type {(3, 4, 11)[k - 1]} {name}" in service
    assert service.count("not found") == 4  # three searches and the answer
    assert "action: 2 download: http://127.0.0.1:8080/downloads/example_service.exe -> " in service
    assert "example_service.exe.part; validator: " in service and "launch: directly: " in service
    assert "mandatory: no; parent: Corvane Example Tools 2.4" in service
    assert "command line (BasicUiCommandLine): /passive" in service
    assert "selected: yes" in service

    driver = section(out, 3)
    assert "filter: OS excluded" in driver and "result: 4 OS or language not supported" in driver
    assert "search 1" not in driver

    # Nothing was written: no interboot context, no log, no new files.
    assert not prefix.key_exists(r"HKCU\InterbootContext")
    assert sorted(p.name for p in example.iterdir()) == before


def test_check_and_explain_answer_like_the_native_build(prefix, workdir):
    bad = workdir / "bad.ini"
    bad.write_bytes(harness.encode_ini("[GeneralOptions]\nOptions=Q\n[PREREQUISITES]\nApp1=B\n[App1]\nSetupFile=C:\\b.exe\n"))
    code, out = check(prefix, "--json", win_path(bad))
    assert code == 0, out  # warnings only
    assert '"line": 2, "severity": "warning"' in out
    code, out = check(prefix, "--werror", win_path(bad))
    assert code == 1 and "1 warning" in out and "[value-read-differently]" in out
    code, out = check(prefix, "--werror", "--ignore", "value-read-differently", win_path(bad))
    assert code == 0 and "0 warnings" in out
    # With --write the messages name the source the author edits.
    source = workdir / "bad.txt"
    source.write_bytes(b"[GeneralOptions]\r\nOptions=Q\r\n")
    code, out = check(prefix, "--write", win_path(source), win_path(workdir / "written.ini"))
    assert code == 0 and win_path(source) + ":2: warning: option letter 'Q'" in out, out
    source.write_bytes(b"[GeneralOptions]\r\nOptions=q\xe9\r\n")
    proc = prefix.wine(CHECK_EXE, "--write", win_path(source), win_path(workdir / "written.ini"), timeout=120)
    assert proc.returncode == 2 and b"bad.txt:2: error: not UTF-8" in proc.stderr
    code, out = check(prefix, "--explain", "-536870888")
    assert code == 0 and "E_DL_NOT_FOUND" in out
    # The languages the chainer's texts are shipped in, each complete.
    code, out = check(prefix, "--languages")
    rows = out.splitlines()
    assert code == 0 and len(rows) == 9 and rows[0].startswith("en-US 0409 English: "), out
    assert len({row.split(": ")[1] for row in rows}) == 1, "a language lacks texts"
    assert "ja-JP 0411 Japanese" in out and "zh-CN 0804 Chinese (Simplified)" in out
    # Title is a key the chainer acts on: no note about carried keys.
    titled = workdir / "titled.ini"
    titled.write_bytes(harness.encode_ini("[GeneralOptions]\nOptions=b\nTitle=Contoso Suite\n"))
    code, out = check(prefix, win_path(titled))
    assert code == 0 and "Title" not in out, out
    code, out = check(prefix, "--version")
    assert (code, out) == (0, "corvane-check " + (harness.ROOT / "VERSION").read_text().strip() + "\n")
