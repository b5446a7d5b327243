#!/usr/bin/env python3
"""Whole silent runs: 100 prerequisites already present (registry searches)
and 10 small downloads, each against a run with no prerequisites, under the
same persistent wineserver. Figures are ratios to that baseline.
Usage: bench/run_bench.py [runs]"""
import statistics
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "system"))
import harness  # noqa: E402
from servers import HttpServer  # noqa: E402
from silent_support import TESTS_KEY, chainer_ini, md5_of, prepare_setup  # noqa: E402


def median_run(prefix, pkg, runs, text):
    """The run ends by deleting its INI (the PREREQ_CHAINER section names the
    log), so the INI is written again before every run."""
    samples = []
    for _ in range(runs):
        pkg.write_ini(text)
        start = time.perf_counter()
        result = prefix.run(pkg.exe, timeout=300)
        samples.append(time.perf_counter() - start)
        assert result.code == 0, result
    return statistics.median(samples)


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 5
    work = harness.temp_dir("corvane-runbench-")
    prefix = harness.Prefix(work / "wine").create()
    served = work / "www"
    served.mkdir()
    server = HttpServer(served).start()
    try:
        log = work / "bench.log"
        empty, empty_text = harness.Package(work / "empty"), chainer_ini("q", [], log)
        prefix.reg_add(f"{TESTS_KEY}\\bench", "present", "1")
        present = [{"Name": f"P{i}", "Url": "http://127.0.0.1:9/p.exe", "SearchType1": "7",
                    "SearchString1": f"{TESTS_KEY}\\bench\\present"} for i in range(100)]
        many, many_text = harness.Package(work / "present"), chainer_ini("q", present, log)
        dl = work / "dl"
        apps = []
        for i in range(10):
            exe = prepare_setup(served, dl, f"s{i}.exe", exit=0)
            apps.append({"Name": f"D{i}", "Url": server.url(f"s{i}.exe"), "ExactSize": exe.stat().st_size,
                         "MD5": md5_of(exe), "NoUiCommandLine": "/q", "SearchType1": "7",
                         "SearchString1": f"{TESTS_KEY}\\bench\\never-{i}"})
        downloads = harness.Package(work / "downloads")
        downloads_text = chainer_ini("q", apps, log, dl, {"KeepFiles": "minimum"})

        median_run(prefix, empty, 2, empty_text)
        base = median_run(prefix, empty, runs, empty_text)
        t_present = median_run(prefix, many, runs, many_text)
        t_downloads = median_run(prefix, downloads, runs, downloads_text)
        print(f"baseline (no prerequisites): {base * 1000:.0f} ms (median of {runs})")
        print(f"100 present (registry):      {t_present * 1000:.0f} ms  ratio {t_present / base:.2f}x")
        print(f"10 downloads + installs:     {t_downloads * 1000:.0f} ms  ratio {t_downloads / base:.2f}x")
    finally:
        server.stop()
        prefix.reg_delete(f"{TESTS_KEY}\\bench")
        prefix.close()


if __name__ == "__main__":
    main()
