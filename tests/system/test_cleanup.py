"""End-of-run cleanup under Wine: what the chainer deletes and prunes, what
it leaves, and how it starts the package's cleanup script (through a
stand-in powershell.exe that records its command line)."""
import os
import re
import stat

import pytest

import harness
from install_support import NoPowerShell, StandInPowerShell, run_probe, wait_for_records, read_records

SCRIPT_TEXT = "# cleanup script of the package\r\nparam($paths, $retry_count)\r\n"
PARAMS = re.compile(r'^-NonInteractive -NoLogo -ExecutionPolicy AllSigned -Command "& \'(?P<temp>[^\']+)\' -paths '
                    r'(?P<paths>.*) -retry_count (?P<retries>-?\d+)"$')


def temp_folder(prefix, protected=False):
    # An elevated run's protected folders lie in the system's own Temp.
    return prefix.drive_c / "windows" / "temp" if protected else prefix.drive_c / "users"


def check_temp_copy(prefix, temp, script_text, protected=False):
    """The copy lies in the temporary folder itself, or (protected) in a
    CorvaneCleanup.<8 hex digits> folder of it, which is removed here."""
    assert re.search(r"\\Temp\\%sCV_[^\\]*\.ps1$" % (r"CorvaneCleanup\.[0-9a-f]{8}\\" if protected else ""),
                     temp, re.I), temp
    name = temp.rsplit("\\", 1)[1]
    found = [p for p in temp_folder(prefix, protected).rglob(name)]
    assert len(found) == 1, temp
    assert found[0].read_bytes() == script_text.encode()
    found[0].unlink()
    if protected:
        found[0].parent.rmdir()


@pytest.mark.parametrize("elevated", [False, True], ids=["unelevated", "elevated"])
def test_script_runner_parameters_and_working_folder(prefix, workdir, elevated):
    record = workdir / "ps.txt"
    script = workdir / "pkg" / "clean.ps1"
    script.parent.mkdir(parents=True)
    script.write_bytes(SCRIPT_TEXT.encode())
    paths = [harness.win_path(workdir / "a"), "C:\\Users\\O'Brien\\Downloads"]
    with StandInPowerShell(prefix, record) as ps:
        r = run_probe(prefix, workdir, "script", paths="|".join(paths), script=harness.win_path(script), retries=10,
                      elevated=int(elevated))
        runs = wait_for_records(record)
    assert r["result"] == "1"
    assert r["program"].lower().endswith("\\system32\\windowspowershell\\v1.0\\powershell.exe")
    m = PARAMS.match(r["params"])
    assert m, r["params"]
    assert m["temp"] == r["temp"]
    quoted = "'%s','C:\\Users\\O''Brien\\Downloads'" % paths[0]
    if elevated:
        # The folder of the copy goes to the script last, for it to remove.
        folder = r["temp"].rsplit("\\", 1)[0]
        quoted += ",'%s'" % folder
        # Wine 8 answers a list made from the mode bits unless it kept the
        # descriptor; a kept one is the protected one.
        if r["dacl_protected"] == "1":
            assert r["entries"] == "3"
    assert m["paths"] == quoted
    assert m["retries"] == "10"
    check_temp_copy(prefix, r["temp"], SCRIPT_TEXT, protected=elevated)

    assert len(runs) == 1
    assert runs[0]["cmdline"].endswith(" " + r["params"])
    assert runs[0]["cwd"].rstrip("\\").lower() == harness.win_path(script.parent).lower()


@pytest.mark.parametrize("case", ["no powershell", "empty script", "missing script", "no paths"])
def test_script_runner_without_a_start(prefix, workdir, case):
    record = workdir / "ps.txt"
    script = workdir / "clean.ps1"
    script.write_bytes(SCRIPT_TEXT.encode())
    kw = dict(paths=harness.win_path(workdir / "x"), script=harness.win_path(script), retries=10)
    if case == "empty script":
        kw["script"] = ""
    elif case == "missing script":
        kw["script"] = harness.win_path(workdir / "missing.ps1")
    elif case == "no paths":
        kw["paths"] = ""
    if case == "no powershell":
        with NoPowerShell(prefix):
            r = run_probe(prefix, workdir, "script", **kw)
        # Nothing started, but the copy was made.
        assert r["result"] == "1" and r["pid"] == "0" and r["program"] == ""
        check_temp_copy(prefix, r["temp"], SCRIPT_TEXT)
        return
    with StandInPowerShell(prefix, record):
        r = run_probe(prefix, workdir, "script", **kw)
        assert r["pid"] == "0"
        assert read_records(record) == []
    assert r["result"] == ("1" if case == "no paths" else "0")


def make_tree(root, files):
    for rel in files:
        p = root / rel
        p.parent.mkdir(parents=True, exist_ok=True)
        p.write_text(rel)


def test_full_run_leaves_exactly_what_the_plan_says(prefix, workdir):
    root = workdir / "Work"
    pkg_dir = root / "Pkg" / "Sub"
    package = harness.Package(pkg_dir)
    script = root / "clean.ps1"
    script.write_bytes(SCRIPT_TEXT.encode())
    outside = workdir / "Outside" / "keep.txt"
    make_tree(root, ["Pkg/a.txt", "Pkg/Deep/Er/b.txt", "Pkg/Shared/c.txt", "Pkg/Shared/stays.txt",
                     "Pkg/ro.txt", "Pkg/RoDir/d.txt", "PkgOther/e.txt"])
    make_tree(workdir, ["Outside/keep.txt", "Victim/victim.txt"])
    # A link below the root leads outside it: nothing is deleted through it.
    (root / "Pkg" / "Link").symlink_to(workdir / "Victim", target_is_directory=True)
    os.chmod(root / "Pkg" / "ro.txt", stat.S_IREAD)
    w = harness.win_path
    files = [w(root / "Pkg" / "a.txt"), w(root / "Pkg" / "Deep" / "Er" / "b.txt"), w(root / "Pkg" / "Shared" / "c.txt"),
             w(root / "Pkg" / "ro.txt"), w(root / "Pkg" / "RoDir" / "d.txt"), w(outside), "Pkg\\a.txt",
             w(root / "Pkg" / "missing.txt"), w(root / "PkgOther" / "e.txt"), w(root / "Pkg" / "Link" / "victim.txt")]
    ini = "\n".join([
        "[GeneralOptions]", "Options=q", "",
        "[PREREQ_CHAINER]", "LogFile=" + w(workdir / "run.log"),
        "CleanupFiles=" + "\u0001".join(files),
        "CleanupFolders=" + w(root / "Pkg") + "\\",
        "CleanupScript=" + w(script), ""])
    # Outside the root, relative: entries the chainer must leave alone.
    package.write_ini(ini, faults=("cleanup",))
    record = workdir / "ps.txt"
    with StandInPowerShell(prefix, record):
        result = prefix.run(package.exe, timeout=120)
        runs = wait_for_records(record)
    assert result.code == 0

    gone = ["Pkg/a.txt", "Pkg/Deep", "Pkg/Shared/c.txt", "Pkg/RoDir"]
    left = ["Pkg/Shared/stays.txt", "Pkg/ro.txt", "PkgOther/e.txt", "Pkg/Sub/setup.exe", "clean.ps1"]
    for rel in gone:
        assert not (root / rel).exists(), rel
    for rel in left:
        assert (root / rel).exists(), rel
    assert outside.exists() and (workdir / "Victim" / "victim.txt").exists()
    assert not package.ini.exists()
    assert "Cleanup refused, a link is on the way to:" + w(root / "Pkg" / "Link" / "victim.txt") in \
        harness.Package.read_log(None, workdir / "run.log")

    assert len(runs) == 1
    params = runs[0]["cmdline"].split(" ", 1)[1].lstrip()
    m = PARAMS.match(params)
    assert m, params
    # Elevated (the prefix's user is an administrator): the script reads its
    # copy from a protected folder, which it is given last to remove.
    expected = [w(script), w(package.exe), w(pkg_dir), m["temp"].rsplit("\\", 1)[0]]
    assert m["paths"] == ",".join("'%s'" % p for p in expected)
    assert m["retries"] == "10"
    assert runs[0]["cwd"].rstrip("\\").lower() == w(root).lower()
    assert "Cleanup script started from the protected folder:" + m["temp"].rsplit("\\", 1)[0] + "\\" in \
        harness.Package.read_log(None, workdir / "run.log")
    check_temp_copy(prefix, m["temp"], SCRIPT_TEXT, protected=True)


def test_full_run_keeps_a_crowded_folder_from_the_script(prefix, workdir):
    root = workdir / "R"
    package = harness.Package(root / "Pkg")
    (root / "Pkg" / "other.dll").write_text("x")
    script = workdir / "clean.ps1"
    script.write_bytes(SCRIPT_TEXT.encode())
    package.write_ini("\n".join([
        "[GeneralOptions]", "Options=q", "",
        "[PREREQ_CHAINER]", "CleanupFolders=" + harness.win_path(root),
        "CleanupScript=" + harness.win_path(script), ""]))
    record = workdir / "ps.txt"
    with StandInPowerShell(prefix, record):
        assert prefix.run(package.exe, timeout=120).code == 0
        runs = wait_for_records(record)
    m = PARAMS.match(runs[0]["cmdline"].split(" ", 1)[1].lstrip())
    assert m
    # Pkg still holds setup.exe and other.dll: only the script and the executable go to the script
    # (and the folder of its copy).
    assert m["paths"] == "'%s','%s','%s'" % (harness.win_path(script), harness.win_path(package.exe),
                                             m["temp"].rsplit("\\", 1)[0])
    assert not package.ini.exists() and (root / "Pkg").exists()
    check_temp_copy(prefix, m["temp"], SCRIPT_TEXT, protected=True)


def test_run_without_cleanup_section_keeps_the_ini(prefix, workdir):
    package = harness.Package(workdir / "pkg")
    package.write_ini("[GeneralOptions]\nOptions=q\n")
    assert prefix.run(package.exe, timeout=120).code == 0
    assert package.ini.exists()
