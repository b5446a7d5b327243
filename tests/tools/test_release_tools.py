"""The release's own steps: the PE checksum and the zip that depends only on
the files."""
import os
import struct
import subprocess
import sys
import zipfile
from pathlib import Path

import pytest

TOOLS = Path(__file__).resolve().parents[2] / "tools"


def run(tool, *args, env=None):
    return subprocess.run([sys.executable, str(TOOLS / tool), *map(str, args)], capture_output=True, text=True,
                          env=env)


def image(size=0x200, magic=0x10B, pe=0x40):
    data = bytearray(size)
    data[:2] = b"MZ"
    struct.pack_into("<I", data, 0x3C, pe)
    if pe + 26 <= size:
        data[pe:pe + 4] = b"PE\0\0"
        struct.pack_into("<H", data, pe + 24, magic)
    data[-1] = 0x7F
    return bytes(data)


CHECKSUM_AT = 0x40 + 24 + 64

# (file, what the tool must say, exit status of the check and of the fill-in)
CASES = [
    (image(), "should be 0x", 1, 0),
    (image(size=0x201), "should be 0x", 1, 0),  # odd length: the last byte is a word of its own
    (image(magic=0x20B), "should be 0x", 1, 0),
    (b"ZM" + image()[2:], "no MZ header", 2, 2),
    (image()[:0x30], "no MZ header", 2, 2),
    (image(pe=0xFFFFFFF0), "no PE header", 2, 2),
    (image()[:CHECKSUM_AT], "no PE header", 2, 2),
    (image(magic=0x107), "unknown optional header", 2, 2),
]


@pytest.mark.parametrize("data,message,check_status,fill_status", CASES)
def test_pe_checksum(tmp_path, data, message, check_status, fill_status):
    exe = tmp_path / "a.exe"
    exe.write_bytes(data)
    checked = run("pe_checksum.py", "--check", exe)
    assert checked.returncode == check_status and message in checked.stdout + checked.stderr
    assert exe.read_bytes() == data
    filled = run("pe_checksum.py", exe)
    assert filled.returncode == fill_status, filled.stderr
    if fill_status == 0:
        written = exe.read_bytes()
        assert written[:CHECKSUM_AT] + written[CHECKSUM_AT + 4:] == data[:CHECKSUM_AT] + data[CHECKSUM_AT + 4:]
        assert struct.unpack_from("<I", written, CHECKSUM_AT)[0] >= len(data)
        assert run("pe_checksum.py", "--check", exe).returncode == 0
        # Any other byte changed makes it wrong again.
        exe.write_bytes(written[:-1] + b"\x00")
        assert run("pe_checksum.py", "--check", exe).returncode == 1


def test_zip_depends_only_on_names_contents_and_modes(tmp_path):
    zips = []
    for n, (order, stamp, umask) in enumerate([(["b/c.txt", "a.exe", "d"], 1_000_000_000, 0o022),
                                               (["d", "a.exe", "b/c.txt"], 1_700_000_000, 0o077)]):
        folder = tmp_path / str(n) / "corvane-1.2.3"
        old = os.umask(umask)
        for name in order:
            (folder / name).parent.mkdir(parents=True, exist_ok=True)
            (folder / name).write_text(name)
            os.utime(folder / name, (stamp, stamp))
        os.umask(old)
        (folder / "a.exe").chmod(0o700)
        zips.append(tmp_path / f"{n}.zip")
        env = dict(os.environ, SOURCE_DATE_EPOCH="1796797059")
        assert run("release_zip.py", folder, zips[-1], env=env).returncode == 0
    assert zips[0].read_bytes() == zips[1].read_bytes()
    with zipfile.ZipFile(zips[0]) as z:
        infos = z.infolist()
        assert [i.filename for i in infos] == ["corvane-1.2.3/", "corvane-1.2.3/a.exe", "corvane-1.2.3/b/",
                                               "corvane-1.2.3/b/c.txt", "corvane-1.2.3/d"]
        assert {i.date_time for i in infos} == {(2026, 12, 9, 6, 17, 38)}
        assert [oct(i.external_attr >> 16) for i in infos[1:2] + infos[4:]] == ["0o100755", "0o100644"]
        assert z.read("corvane-1.2.3/b/c.txt") == b"b/c.txt"
    bad = run("release_zip.py", folder, tmp_path / "x.zip", env=dict(os.environ, SOURCE_DATE_EPOCH="yesterday"))
    assert bad.returncode == 2 and not (tmp_path / "x.zip").exists()
