"""The shipped 32-bit chainer (build/i686, the release build) as it runs on
64-bit Windows: under the private 32-bit Wine that tools/setup_wine32.sh
prepares (WoW64), in a copy of the WoW64 prefix it made. A 32-bit process
there sees the 32-bit registry view (Wow6432Node) and SysWOW64 in place of
System32 unless a prerequisite's "x" asks for the 64-bit view and switches
redirection off; its Program Files are the (x86) ones; it starts 64-bit and
32-bit setups and reads their whole exit codes. The 32-bit Linux side of
Wine runs under qemu-i386."""
import hashlib
import re
import shutil
import subprocess
import threading

import pytest

import harness
from harness import Package, Prefix, program, win_path
from install_support import place_stand_in, read_records
from silent_support import TESTS_KEY, chainer_ini, installed_search, log_lines, md5_of, prepare_setup
from test_search import WXS
from test_ui import children, inspect, screenshot

I686 = harness.BUILD_I686
CHAINER = I686 / "bin" / "corvane.exe"


@pytest.fixture(scope="session")
def wow64(display, tmp_path_factory):
    assert (harness.WINE32 / "stamp").exists(), "prepare the 32-bit Wine first: tools/setup_wine32.sh"
    assert CHAINER.exists() and program("stand_in_setup", I686).exists(), "build the i686 tree first"
    root = tmp_path_factory.mktemp("wow64-wine")
    pfx = Prefix(root, display, loader=harness.WINE32 / "wine64").create(template=harness.WINE32 / "prefix")
    # Unmanaged windows: Wine draws their captions for the screenshot. This
    # first process also starts the prefix's services through wineboot.
    pfx.reg_add("HKCU\\Software\\Wine\\X11 Driver", "Managed", "N")
    # From now on a restart request runs wineboot: a stand-in of each
    # bitness records it.
    record = root / "wineboot-record.txt"
    for folder, build in (("system32", None), ("syswow64", I686)):
        place_stand_in(pfx.drive_c / "windows" / folder, "wineboot.exe", build, record=win_path(record))
    pfx.env["WINEDLLOVERRIDES"] = "mscoree,mshtml=;wineboot.exe=n"
    pfx.wineboot_record = record
    yield pfx
    pfx.close()
    shutil.rmtree(pfx.path, ignore_errors=True)


@pytest.fixture
def key(wow64, request):
    name = re.sub(r"\W", "_", request.node.name)
    yield name
    wow64.reg_delete(f"{TESTS_KEY}\\{name}")
    wow64.reg_delete("HKCU\\InterbootContext")


def chainer_package(folder):
    return Package(folder, chainer=CHAINER)


# What Wine or the emulator writes when the emulation, not the program,
# broke a run (tools/wine32_tls.c keeps these away; a process the emulator
# ends is reported with exit code 0).
EMULATOR_FAULTS = ("wine client error:", "qemu: uncaught target signal")


def unbroken(errors):
    assert not any(fault in errors for fault in EMULATOR_FAULTS), errors[-2000:]


def run_chainer(wow64, pkg, timeout=180):
    result = wow64.run(pkg.exe, timeout=timeout)
    unbroken(result.errors)
    return result


def test_without_ini_it_ends_at_once(wow64, workdir):
    assert run_chainer(wow64, chainer_package(workdir / "pkg")).code == 0


def test_silent_download_verify_and_install(wow64, workdir, http, key):
    dl, log, record = workdir / "dl", workdir / "run.log", workdir / "record.txt"
    exe = prepare_setup(http.root, dl, "setup32.exe", I686, record=win_path(record),
                        regkey=f"Software\\CorvaneTests\\{key}", regvalue="Fetched", regdata="1")
    app = {"Name": "Fetched", "Url": http.url("setup32.exe"), "ExactSize": exe.stat().st_size, "MD5": md5_of(exe),
           "SHA256": hashlib.sha256(exe.read_bytes()).hexdigest(), "NoUiCommandLine": "/quiet", "Options": "m",
           **installed_search(key, "Fetched")}
    pkg = chainer_package(workdir / "pkg")
    pkg.write_ini(chainer_ini("q", [app], log, dl))
    assert run_chainer(wow64, pkg).code == 0
    # A 32-bit process on 64-bit Windows: IsWow64Process answered true.
    banner = pkg.read_log(log)
    assert re.search(r"<< Corvane \(x86\) Log >>\r\nOS Version: [^\r]* \[x64\]\r\n", banner), banner[:300]
    lines = log_lines(log)
    for line in ("Download completed succesfully.", "Downloaded file was accepted.", "Return code of launched file:0",
                 "=====================End of Log====================="):
        assert line in lines, lines
    assert [l for l in lines if l.startswith("Search result:")][-1] == "Search result:An acceptable version was found."
    assert [r["cmdline"].split()[-1] for r in read_records(record)] == ["/quiet"]


# Searches: every row is evaluated twice in one run, without and with "x".
VIEW = r"HKLM\Software\CorvaneWow"
FOUND, MISSING, EXCLUDED = "found", "missing", "excluded"
ALL_64 = "Windows XP/Vista/Windows 7/Windows 8 x64/Windows 8.1 x64/Windows 10 x64/Windows 11 x64"
ALL_32 = "Windows 9x/ME/NT/2000/XP/Vista/Windows 7/Windows 8 x86/Windows 8.1 x86/Windows 10 x86"
# (id, keys of the prerequisite, result without "x", result with "x")
SEARCHES = [
    # The registry: the 64-bit view holds 6.4 and Only64, Wow6432Node 3.2 and Only32.
    ("subkeys", dict(SearchType1=1, SearchString1=VIEW, VerMin1=5, VerMax1=10), MISSING, FOUND),
    ("value version", dict(SearchType1=2, SearchString1=VIEW + r"\Version", VerMin1=5), MISSING, FOUND),
    ("key of the 64-bit view", dict(SearchType1=5, SearchString1=VIEW + r"\Only64Key"), MISSING, FOUND),
    ("key of the 32-bit view", dict(SearchType1=5, SearchString1=VIEW + r"\Only32Key"), FOUND, MISSING),
    ("key absent", dict(SearchType1=6, SearchString1=VIEW + r"\Only64Key"), FOUND, MISSING),
    ("value exists", dict(SearchType1=7, SearchString1=VIEW + r"\Only64"), MISSING, FOUND),
    ("value absent", dict(SearchType1=8, SearchString1=VIEW + r"\Only32"), MISSING, FOUND),
    ("value content", dict(SearchType1=9, SearchString1=VIEW + r"\Count", RefContent1="G40"), MISSING, FOUND),
    ("value names", dict(SearchType1=12, SearchString1=VIEW, VerMin1=50), MISSING, FOUND),
    # Files: System32 holds a versioned corvane_view.exe, SysWOW64 one
    # without a version; corvane_wow.exe lies in SysWOW64 only.
    ("SystemFolder", dict(SearchType1=0, SearchString1="[SystemFolder]corvane_view.exe", VerMin1=2), MISSING, FOUND),
    ("System32Folder", dict(SearchType1=0, SearchString1="[System32Folder]corvane_view.exe", VerMin1=2), MISSING, FOUND),
    ("System32 path", dict(SearchType1=0, SearchString1=r"C:\windows\system32\corvane_view.exe", VerMin1=2),
     MISSING, FOUND),
    ("SysWOW64 file", dict(SearchType1=0, SearchString1="[SystemFolder]corvane_wow.exe"), FOUND, MISSING),
    # On the fixed drives (C: only) down to C:\windows\system32.
    ("bare name", dict(SearchType1=0, SearchString1="corvane_view.exe?2", VerMin1=2), MISSING, FOUND),
    ("registry reference", dict(SearchType1=0, SearchString1="!" + VIEW + r"\Dir!corvane_ref.exe"), MISSING, FOUND),
    # Folder properties of a 32-bit process, with or without "x".
    ("ProgramFilesFolder", dict(SearchType1=0, SearchString1=r"[ProgramFilesFolder]CorvaneWow\pf32.exe"), FOUND, FOUND),
    ("ProgramFilesFolder is not 64-bit", dict(SearchType1=0, SearchString1=r"[ProgramFilesFolder]CorvaneWow\pf64.exe"),
     MISSING, MISSING),
    ("ProgramFiles", dict(SearchType1=0, SearchString1=r"[ProgramFiles]CorvaneWow\pf32.exe"), FOUND, FOUND),
    ("ProgramFiles64Folder", dict(SearchType1=0, SearchString1=r"[ProgramFiles64Folder]CorvaneWow\pf64.exe"),
     FOUND, FOUND),
    ("CommonFilesFolder", dict(SearchType1=0, SearchString1=r"[CommonFilesFolder]CorvaneWow\common32.exe"),
     FOUND, FOUND),
    ("ProgramW6432 variable", dict(SearchType1=0, SearchString1=r"%ProgramW6432%\CorvaneWow\pf64.exe"), FOUND, FOUND),
    # Programs of the package of both bitnesses, run for their exit code.
    ("64-bit program", dict(SearchType1=10, SearchString1="exit64.exe", SearchCmdLine1=0, RefContent1="WND_HIDE"),
     FOUND, FOUND),
    ("64-bit program exit 7", dict(SearchType1=10, SearchString1="exit64.exe", SearchCmdLine1=7, RefContent1="WND_HIDE"),
     MISSING, MISSING),
    ("32-bit program", dict(SearchType1=10, SearchString1="exit32.exe", SearchCmdLine1=0, RefContent1="WND_HIDE"),
     FOUND, FOUND),
    # A 64-bit system reads WinNT64Versions only.
    ("every 64-bit system excluded", dict(WinNT64Versions=ALL_64), EXCLUDED, EXCLUDED),
    ("every 32-bit system excluded", dict(WinNTVersions=ALL_32), FOUND, FOUND),
]


def reg_file(path, keys):
    lines = ["Windows Registry Editor Version 5.00", ""]
    for key, values in keys.items():
        lines.append("[" + key.replace("HKLM", "HKEY_LOCAL_MACHINE") + "]")
        for name, value in values.items():
            data = "dword:%08x" % value if isinstance(value, int) else '"' + value.replace("\\", "\\\\") + '"'
            lines.append(f'"{name}"={data}')
        lines.append("")
    path.write_bytes(b"\xff\xfe" + "\r\n".join(lines).encode("utf-16-le"))
    return path


@pytest.fixture(scope="module")
def evaluated(wow64, tmp_path_factory):
    """One evaluation-only run over every row, without and with "x": the
    first result of each prerequisite, by name."""
    work = tmp_path_factory.mktemp("wow64-searches")
    wow32 = VIEW.replace("Software", r"Software\Wow6432Node")
    wow64.reg("import", win_path(reg_file(work / "views.reg", {
        VIEW: {"Version": "6.4", "Count": 64, "Only64": "1", "Dir": "C:\\corvane_ref64\\"},
        VIEW + r"\Release6.4": {}, VIEW + r"\Only64Key": {},
        wow32: {"Version": "3.2", "Count": 32, "Only32": "1", "Dir": "C:\\corvane_ref32\\"},
        wow32 + r"\Release3.2": {}, wow32 + r"\Only32Key": {}})))
    c = wow64.drive_c
    versioned64, versioned32 = program("versioned_app"), program("versioned_app", I686)
    placed = {c / "windows/system32/corvane_view.exe": versioned64, c / "windows/syswow64/corvane_view.exe": None,
              c / "windows/syswow64/corvane_wow.exe": versioned32, c / "corvane_ref64/corvane_ref.exe": versioned64,
              c / "Program Files (x86)/CorvaneWow/pf32.exe": versioned32,
              c / "Program Files/CorvaneWow/pf64.exe": versioned64,
              c / "Program Files (x86)/Common Files/CorvaneWow/common32.exe": versioned32}
    for path, source in placed.items():
        path.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(source, path) if source else path.write_text("no version here")
    apps = []
    for name, keys, _, _ in SEARCHES:
        for options in ("", "x"):
            apps.append({"Name": f"{name} {options}".strip(), "SetupFile": "missing.exe", "Options": options,
                         **{k: str(v) for k, v in keys.items()}})
    pkg = chainer_package(work / "pkg")
    shutil.copyfile(versioned64, pkg.folder / "exit64.exe")
    shutil.copyfile(versioned32, pkg.folder / "exit32.exe")
    log = work / "searches.log"
    pkg.write_ini(chainer_ini("", apps, log, extra_general={"ExtractionFolder": pkg.win_folder}))
    # The checker of the release tree plans what the chainer finds (first:
    # the run deletes its INI).
    out = wow64.wine(I686 / "bin" / "corvane-check.exe", "--plan", win_path(pkg.ini), timeout=300)
    unbroken(out.stderr.decode(errors="replace"))
    planned = re.findall(r"\n\d+\. ([^\r\n]+)\r?\n.*?\n   result: (\d)", out.stdout.decode(errors="replace"), re.S)
    plans = {name: {"0": FOUND, "4": EXCLUDED}.get(code, MISSING) for name, code in planned}
    assert run_chainer(wow64, pkg, timeout=300).code == 0
    lines = log_lines(log)
    assert lines[-1] == "=====================End of Log====================="
    results = {}
    for i, line in enumerate(lines):
        if line.startswith("Wrong OS or Os language for:"):
            results.setdefault(line.split(":", 1)[1], EXCLUDED)
        elif line.startswith("Searching for:"):
            found = lines[i + 1] == "Search result:An acceptable version was found."
            results.setdefault(line.split(":", 1)[1], FOUND if found else MISSING)
    yield results, plans
    for path in placed:
        path.unlink()


@pytest.mark.parametrize("name,without_x,with_x", [(n, a, b) for n, _, a, b in SEARCHES],
                         ids=[s[0] for s in SEARCHES])
def test_searches_see_the_view_of_their_x_option(evaluated, name, without_x, with_x):
    chainer, plan = evaluated
    assert [(r.get(name), r.get(f"{name} x")) for r in (chainer, plan)] == [(without_x, with_x)] * 2


def test_setups_of_both_bitnesses_and_the_interboot_context(wow64, workdir, key):
    """A 64-bit and a 32-bit setup return codes no exit status of Linux could
    carry; a third asks for a restart, so the context stays."""
    setups = [("Setup64", "setup64.exe", None, 0x80070005, ""), ("Setup32", "setup32.exe", I686, 0x12345678, ""),
              ("Restart", "restart.exe", I686, 0, "r")]
    pkg, log, record = chainer_package(workdir / "pkg"), workdir / "run.log", workdir / "record.txt"
    apps = []
    for name, exe, build, code, options in setups:
        place_stand_in(pkg.folder, exe, build, exit=code, record=win_path(record))
        apps.append({"Name": name, "SetupFile": exe, "NoUiCommandLine": f"/{name}", "Options": options,
                     "RetValPropName": f"{name}Ret", **installed_search(key, name)})
    pkg.write_ini(chainer_ini("q", apps, log, extra_general={"ExtractionFolder": "[SETUPEXEDIR]"}))
    result = run_chainer(wow64, pkg)
    assert result.code == -1
    lines = log_lines(log)
    assert [l for l in lines if l.startswith("Return code of launched file:")] == [
        "Return code of launched file:2147942405", "Return code of launched file:305419896",
        "Return code of launched file:0"]
    ran = read_records(record)
    assert [(r["exe"].rsplit("\\", 1)[-1], r["cmdline"].split()[-1], r["cwd"]) for r in ran] == [
        (exe, f"/{name}", pkg.win_folder) for name, exe, *_ in setups]
    context = {name: wow64.reg_query("HKCU\\InterbootContext", f"{name}Ret") for name, *_ in setups}
    assert context == {"Setup64": "-2147024891", "Setup32": "305419896", "Restart": "0"}
    requests = [r["cmdline"] for r in read_records(wow64.wineboot_record) if "--init" not in r["cmdline"]]
    assert any("--kill" in c or "--end-session" in c for c in requests), requests


def test_basic_ui_downloads_and_installs(wow64, workdir, http, key):
    dl, log, record = workdir / "dl", workdir / "run.log", workdir / "record.txt"
    exe = prepare_setup(http.root, dl, "shown.exe", I686, sleep=3000, record=win_path(record),
                        regkey=f"Software\\CorvaneTests\\{key}", regvalue="Shown", regdata="1")
    app = {"Name": "Shown Runtime", "Url": http.url("shown.exe"), "ExactSize": exe.stat().st_size, "MD5": md5_of(exe),
           "BasicUiCommandLine": "/passive", **installed_search(key, "Shown")}
    pkg = chainer_package(workdir / "pkg")
    pkg.write_ini(chainer_ini("b", [app], log, dl))
    box = {}
    runner = threading.Thread(target=lambda: box.update(result=wow64.run(pkg.exe, timeout=180)))
    runner.start()
    # The progress dialog while the setup runs, seen from outside.
    seen = None
    while runner.is_alive() and seen is None:
        found = inspect(wow64, "find", "Corvane Setup", "500")
        kids = children(found) if "window=" in found else {}
        if 1034 in kids and kids[1034][5] == "Installing Shown Runtime":
            seen = screenshot(wow64, "Corvane Setup", workdir / "wow64-progress.png")
    runner.join()
    unbroken(box["result"].errors)
    assert box["result"].code == 0 and seen, "the progress dialog was not seen installing"
    assert [r["cmdline"].split()[-1] for r in read_records(record)] == ["/passive"]
    lines = log_lines(log)
    assert "Starting installing prerequisites in basic UI mode." in lines
    assert [l for l in lines if l.startswith("Search result:")][-1] == "Search result:An acceptable version was found."
    assert "window=" not in inspect(wow64, "find", "Corvane Setup", "100")


def test_installer_package_through_msiexec_and_found_by_the_installer_searches(wow64, workdir):
    """An elevated run hands a package to msiexec.exe of its system folder;
    the product, its upgrade code and its component are then found."""
    product, upgrade, component = (f"{{C0A7E5E1-0000-4000-8000-0000000064{n}}}" for n in ("A1", "AA", "C1"))
    pkg, log = chainer_package(workdir / "pkg"), workdir / "run.log"
    (pkg.folder / "payload.txt").write_text("payload\n")
    (pkg.folder / "w.wxs").write_text(WXS.format(product=product, tag="W", version="6.4.1", upgrade=upgrade,
                                                  component=component, payload="payload.txt"))
    subprocess.run(["wixl", "-o", "product.msi", "w.wxs"], check=True, timeout=120, cwd=pkg.folder)
    app = {"Name": "Package", "SetupFile": "product.msi", "NoUiCommandLine": "/qn", "Options": "m",
           "SearchType1": "3", "SearchString1": product, "VerMin1": "6.4",
           "SearchType2": "4", "SearchString2": upgrade, "SearchType3": "11", "SearchString3": component}
    pkg.write_ini(chainer_ini("q", [app], log, extra_general={"ExtractionFolder": "[SETUPEXEDIR]"}))
    assert run_chainer(wow64, pkg, timeout=300).code == 0
    lines = log_lines(log)
    assert "Return code of launched file:0" in lines
    assert [l for l in lines if l.startswith("Search result:")][-1] == "Search result:An acceptable version was found."
    assert (wow64.drive_c / "Program Files (x86)" / "CorvaneSearchW" / "payload.txt").exists()
