#!/usr/bin/env python3
"""Writes a zip of a folder that depends only on the files' names, contents
and executable bits: entries sorted by name, every date SOURCE_DATE_EPOCH
(default 1980-01-01), fixed permissions, no owner and no extra fields.

usage: release_zip.py FOLDER OUT.zip   (the entries are named FOLDER's name/...)
"""
import os
import sys
import time
import zipfile
from pathlib import Path

ZIP_EPOCH = 315532800  # 1980-01-01, the earliest date a zip entry can carry


def entry(name, mode, date_time):
    info = zipfile.ZipInfo(name, date_time)
    info.create_system = 3  # Unix, so the permissions below are read
    info.external_attr = mode << 16
    info.compress_type = zipfile.ZIP_STORED if name.endswith("/") else zipfile.ZIP_DEFLATED
    return info


def write_zip(folder, out, epoch):
    folder = Path(folder)
    date_time = time.gmtime(max(epoch, ZIP_EPOCH))[:6]
    paths = sorted(p for p in folder.rglob("*") if not p.is_symlink())
    with zipfile.ZipFile(out, "w") as z:
        z.writestr(entry(folder.name + "/", 0o40755, date_time), b"")
        for path in paths:
            name = folder.name + "/" + path.relative_to(folder).as_posix()
            if path.is_dir():
                z.writestr(entry(name + "/", 0o40755, date_time), b"")
            elif path.is_file():
                mode = 0o100755 if path.stat().st_mode & 0o111 else 0o100644
                z.writestr(entry(name, mode, date_time), path.read_bytes(), compresslevel=9)


def main(argv):
    if len(argv) != 2 or not Path(argv[0]).is_dir():
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    try:
        epoch = int(os.environ.get("SOURCE_DATE_EPOCH", ZIP_EPOCH))
    except ValueError:
        print("SOURCE_DATE_EPOCH must be a number of seconds", file=sys.stderr)
        return 2
    write_zip(argv[0], argv[1], epoch)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
