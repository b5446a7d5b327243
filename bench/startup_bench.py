#!/usr/bin/env python3
"""Size of the 32-bit release, and start-up cost of the chainer against a
trivial empty Windows program under the same persistent wineserver.
Figures are ratios to the baseline measured in the same run.
Usage: bench/startup_bench.py [runs]"""
import os
import statistics
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "system"))
import harness  # noqa: E402


def timed(prefix, exe, runs):
    samples = []
    for _ in range(runs):
        start = time.perf_counter()
        proc = prefix.wine(exe, timeout=60)
        samples.append(time.perf_counter() - start)
        assert proc.returncode == 0, proc
    return statistics.median(samples)


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 30
    release = ROOT / os.environ.get("CORVANE_BUILD_ROOT", "build") / "i686" / "bin" / "corvane.exe"
    if release.exists():
        size = release.stat().st_size
        print(f"32-bit release size: {size} bytes ({size / 1024:.1f} KiB; goal under 200 KiB)")
    work = harness.temp_dir("corvane-bench-")
    prefix = harness.Prefix(work / "wine").create()
    try:
        empty = harness.program("empty_program")
        no_ini = harness.Package(work / "noini")
        empty_ini = harness.Package(work / "emptyini").write_ini("")
        timed(prefix, empty, 3)  # warm the server and the page cache
        base = timed(prefix, empty, runs)
        t_no_ini = timed(prefix, no_ini.exe, runs)
        t_empty = timed(prefix, empty_ini.exe, runs)
        print(f"baseline empty program: {base * 1000:.1f} ms (median of {runs})")
        print(f"no INI:    {t_no_ini * 1000:.1f} ms  ratio {t_no_ini / base:.2f}x (goal within 1.2x)")
        print(f"empty INI: {t_empty * 1000:.1f} ms  ratio {t_empty / base:.2f}x (goal within 1.2x)")
    finally:
        prefix.close()


if __name__ == "__main__":
    main()
