"""Identification of the running Windows end to end: the registry values of the
test prefix are set (and restored), then a fresh process identifies the system
once and prints what it found, and the chainer's log banner shows it."""
import re

import time

import pytest

from harness import program, win_path

CURRENT = r"HKLM\Software\Microsoft\Windows NT\CurrentVersion"
OPTIONS = r"HKLM\SYSTEM\CurrentControlSet\Control\ProductOptions"
TOUCHED = [(CURRENT, n) for n in ("CurrentMajorVersionNumber", "CurrentMinorVersionNumber", "CurrentVersion",
                                   "CurrentBuildNumber", "BuildBranch", "CSDVersion", "ReleaseId")] + \
          [(OPTIONS, n) for n in ("ProductType", "ProductSuite")]


def query_key(prefix, key):
    """{name: (type, data)} of a key's values as reg shows them."""
    proc = prefix.reg("query", key, check=False)
    values = {}
    for line in proc.stdout.decode("utf-8", errors="replace").splitlines():
        parts = line.strip().split(None, 2)
        if len(parts) >= 2 and parts[1].startswith("REG_"):
            values[parts[0]] = (parts[1], parts[2] if len(parts) > 2 else "")
    return values


def snapshot(prefix):
    keys = {k: query_key(prefix, k) for k in (CURRENT, OPTIONS)}
    return {(k, n): keys[k].get(n) for k, n in TOUCHED}


def reg_data(kind, value):
    if value is None:
        return "-"
    if kind == "REG_DWORD":
        return "dword:%08x" % (int(value, 0) if isinstance(value, str) else value)
    if kind == "REG_MULTI_SZ":
        items = value.split("\\0") if isinstance(value, str) else value
        raw = "".join(i + "\0" for i in items if i) + "\0"
        return "hex(7):" + ",".join("%02x" % b for b in raw.encode("utf-16-le"))
    return '"' + value.replace("\\", "\\\\").replace('"', '\\"') + '"'


def import_values(prefix, folder, values):
    """Writes all values in one registry import: {(key, name): (kind, value or None)}."""
    lines = ["Windows Registry Editor Version 5.00", ""]
    for key in (CURRENT, OPTIONS):
        lines.append("[" + key.replace("HKLM", "HKEY_LOCAL_MACHINE") + "]")
        for (k, name), (kind, value) in values.items():
            if k == key:
                lines.append('"%s"=%s' % (name, reg_data(kind, value)))
        lines.append("")
    path = folder / "os-values.reg"
    path.write_bytes(b"\xff\xfe" + "\r\n".join(lines).encode("utf-16-le"))
    prefix.reg("import", win_path(path))


@pytest.fixture
def os_registry(prefix, workdir):
    """Sets OS values for one test; restores every touched value afterwards."""
    saved = snapshot(prefix)

    def apply(values):
        typed = {}
        for key, value in values.items():
            kind = ("REG_DWORD" if isinstance(value, int) else
                    "REG_MULTI_SZ" if isinstance(value, list) else "REG_SZ")
            typed[key] = (kind, value)
        import_values(prefix, workdir, typed)

    yield apply
    restore = {key: (old[0], old[1]) if old else ("REG_SZ", None) for key, old in saved.items()}
    # Wine may still be writing the registry of a process that just ended:
    # restore again until the values read back as they were.
    for _ in range(3):
        import_values(prefix, workdir, restore)
        if snapshot(prefix) == saved:
            break
        time.sleep(1)
    assert snapshot(prefix) == saved


def identify(prefix, *args):
    out = prefix.wine(program("os_probe"), *args, timeout=120)
    assert out.returncode == 0, out.stderr[-2000:]
    text = out.stdout.decode("utf-8", errors="replace")
    info = {}
    for line in text.splitlines():
        key, _, value = line.partition("=")
        info.setdefault(key, []).append(value)
    return {k: v[0] if len(v) == 1 else v for k, v in info.items()}


def win(major, minor, build, branch=None, csd=None, release=None, product="WinNT", suites=None):
    return {(CURRENT, "CurrentMajorVersionNumber"): major, (CURRENT, "CurrentMinorVersionNumber"): minor,
            (CURRENT, "CurrentBuildNumber"): build, (CURRENT, "BuildBranch"): branch,
            (CURRENT, "CSDVersion"): csd, (CURRENT, "ReleaseId"): release,
            (OPTIONS, "ProductType"): product, (OPTIONS, "ProductSuite"): suites}


def old_win(version, build, csd, product="WinNT"):
    values = win(None, None, build, csd=csd, product=product)
    values[(CURRENT, "CurrentVersion")] = version
    return values


CASES = [
    ("windows 10", win(10, 0, "19045", release="2009"),
     dict(major="10", minor="0", build="19045", sp="0", release="2009", server="0", producttype="1",
          detailed="Windows 10 x64", generic="Windows 10 x64")),
    ("build 22000+ with another branch stays 10", win(10, 0, "22631", branch="ni_release"),
     dict(major="10", build="22631", detailed="Windows 10 x64", generic="Windows 10 x64")),
    ("windows 11 by branch, any case", win(10, 0, "22631", branch="CO_RELEASE"),
     dict(major="11", build="22631", detailed="Windows 11 x64", generic="Windows 11 x64")),
    ("windows 11 first build", win(10, 0, "22000", branch="rs_prerelease"),
     dict(major="11", detailed="Windows 11 version 21H2 x64", generic="Windows 11 x64")),
    ("server 2022", win(10, 0, "20348", product="ServerNT", suites=["Enterprise", "Terminal Server", "Other"]),
     dict(major="10", server="1", producttype="3", suite="0x0012",
          detailed="Windows Server 2022 x64", generic="Windows Server x64")),
    ("domain controller", old_win("6.0", "6002", "Service Pack 2", product="LanmanNT"),
     dict(major="6", minor="0", sp="2", server="1", producttype="2", sptext="Service Pack 2",
          detailed="Windows Server 2008 SP2 x64", generic="Windows Server 2008 x64")),
    ("text version only", old_win("5.2", "3790", "Service Pack 2"),
     dict(major="5", minor="2", build="3790", sp="2", detailed="Windows XP SP2 x64", generic="Windows XP x64")),
    ("not in the tables", win(10, 1, "30000"),
     dict(major="10", minor="1", detailed="OsNotIdentified", generic="OsNotIdentified")),
    ("nothing readable", old_win(None, None, None, product=None),
     dict(major="0", minor="0", build="0", sp="0", producttype="1", server="0",
          detailed="OsNotIdentified", generic="OsNotIdentified")),
]


@pytest.mark.parametrize("values,expected", [c[1:] for c in CASES], ids=[c[0] for c in CASES])
def test_identification_from_registry(prefix, os_registry, values, expected):
    os_registry(values)
    info = identify(prefix)
    assert info["x64"] == "1"
    for key, value in expected.items():
        assert info[key] == value, (key, info)


def test_filters_on_a_64_bit_server(prefix, os_registry):
    os_registry(win(10, 0, "20348", product="ServerNT"))
    info = identify(prefix,
                    "--filter", "", "Windows Server x64",
                    "--filter", "Windows Server x64", "",
                    "--filter", "", "Windows 10 x64, Windows Server 2022 x64",
                    "--filter", "", "Windows 10 x64,Windows Server 2022 x64",
                    "--filter", "", "Windows XP/Vista/Windows 7/Windows 8 x64/Windows 8.1 x64/Windows 10 x64/Windows 11 x64")
    assert info["filter"] == ["0", "1", "0", "1", "0"]


def test_log_banner_shows_the_identified_system(prefix, package, workdir, os_registry):
    os_registry(win(10, 0, "20348", product="ServerNT"))
    log = workdir / "server.log"
    package.write_ini(f"[PREREQ_CHAINER]\nLogFile={win_path(log)}\n[GeneralOptions]\nOptions=q\n")
    assert prefix.run(package.exe).code == 0
    text = log.read_bytes()[2:].decode("utf-16-le")
    assert "\r\nOS Version: 10.0.20348 SP0 (server) [x64]\r\n" in text


def test_language_filter_and_its_log_line(prefix, workdir):
    log = workdir / "lang.log"
    base = identify(prefix)
    lang = int(base["langid"])
    other = 1036 if lang != 1036 else 1031
    info = identify(prefix, "--log", win_path(log),
                    "--lang", f"{other};{lang};", "--lang", f"{other};", "--lang", f"{other};{lang}", "--lang", "")
    assert info["lang"] == ["1", "0", "0", "1"]
    text = log.read_bytes()[2:].decode("utf-16-le")
    lines = re.findall(r"-SystemDefault LangID=(\d+)-([^\r\n]+)\r\n", text)
    # Three lists that are not empty, three lines.
    assert len(lines) == 3
    assert all(int(n) == lang for n, _ in lines)
    if lang == 1033:
        assert lines[0][1] == "English (United States)"
