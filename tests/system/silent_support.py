"""Helpers for whole chainer runs: INI composition for prerequisites served
over loopback HTTP, and reading the run's log."""
import hashlib
import re
import shutil
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


def prepare_setup(served: Path, download_folder: Path, name: str, **behaviour) -> Path:
    """A stand-in setup served by HTTP; its behaviour file waits in the
    download folder beside the place the download will land."""
    exe = place_stand_in(served, name, **behaviour)
    download_folder.mkdir(parents=True, exist_ok=True)
    base = name.rsplit(".", 1)[0]
    shutil.copyfile(served / (base + ".txt"), download_folder / (base + ".txt"))
    return exe


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
