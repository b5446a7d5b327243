"""Helpers for whole chainer runs: INI composition for prerequisites served
over loopback HTTP, and reading the run's log."""
import hashlib
import re
from pathlib import Path

import harness
from install_support import place_stand_in

TESTS_KEY = "HKCU\\Software\\CorvaneTests"
LINE = re.compile(r"^\d{4}-\d\d-\d\d \d\d-\d\d-\d\d-(.*)$")


def log_lines(log: Path) -> list[str]:
    """The time-stamped texts of a log (banner lines dropped)."""
    data = log.read_bytes()
    assert data[:2] == b"\xff\xfe"
    lines = []
    for raw in data[2:].decode("utf-16-le").split("\r\n"):
        m = LINE.match(raw)
        if m:
            lines.append(m.group(1))
    return lines


def md5_of(path: Path) -> str:
    return hashlib.md5(path.read_bytes()).hexdigest()


def prepare_setup(served: Path, download_folder: Path, name: str, build: Path | None = None, **behaviour) -> Path:
    """A stand-in setup served by HTTP that carries its behaviour in its own
    bytes, so that any copy of the download behaves so (and two of them with
    different behaviour differ)."""
    (served / name).parent.mkdir(parents=True, exist_ok=True)
    exe = place_stand_in(served, name, build, **behaviour)
    (served / (name.rsplit(".", 1)[0] + ".txt")).unlink()
    with exe.open("ab") as f:
        f.write(b"\n#stand-in behaviour\n" + "".join(f"{k}={v}\n" for k, v in behaviour.items()).encode())
    download_folder.mkdir(parents=True, exist_ok=True)
    return exe


def launched(lines: list[str]) -> list[str]:
    """The files the run launched, from its log."""
    return [l[len("Launching file:"):] for l in lines if l.startswith("Launching file:")]


def protected_folder(lines: list[str]) -> str:
    """The folder an elevated run launched its downloaded setups from."""
    found = [l.split(":", 1)[1] for l in lines if l.startswith("Setups are launched from the protected folder:")]
    assert len(found) == 1, found
    return found[0]


def section(name: str, **keys) -> str:
    return f"[{name}]\n" + "".join(f"{k}={v}\n" for k, v in keys.items())


def chainer_ini(options: str, apps: list[dict], log: Path, download_folder: Path | None = None,
                extra_general: dict | None = None) -> str:
    general = {"Options": options}
    if download_folder is not None:
        general["DownloadFolder"] = harness.win_path(download_folder) + "\\"
    general.update(extra_general or {})
    text = section("GeneralOptions", **general)
    text += section("PREREQUISITES", **{f"App{i + 1}": app.pop("Name") for i, app in enumerate(apps)})
    for i, app in enumerate(apps):
        text += section(f"App{i + 1}", **app)
    text += section("PREREQ_CHAINER", LogFile=harness.win_path(log))
    return text


def installed_search(key: str, value: str = "Installed") -> dict:
    """Search keys that find a prerequisite once its setup wrote key\\value."""
    return {"SearchType1": "7", "SearchString1": f"{TESTS_KEY}\\{key}\\{value}"}
