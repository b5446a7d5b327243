#!/usr/bin/env python3
"""Cost of the log's per-write flush: lines per second of the Logger (four
writes per line, each flushed to disk) against a plain writer doing the same
four writes without flushing, both measured in one process of the log probe.
Only the ratio is meaningful across machines.
Usage: CORVANE_BUILD_X64=<root>/x64 bench/log_bench.py [lines] [rounds]"""
import re
import shutil
import statistics
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "system"))
import harness  # noqa: E402


def main():
    lines = int(sys.argv[1]) if len(sys.argv) > 1 else 2000
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    work = harness.temp_dir("corvane-logbench-")
    prefix = harness.Prefix(work / "wine").create()
    try:
        ratios = []
        for r in range(rounds):
            log = work / f"bench-{r}.log"
            proc = prefix.wine(harness.program("log_probe"), "bench", harness.win_path(log), str(lines), timeout=600)
            out = proc.stdout.decode(errors="replace")
            m = re.search(r"ratio=([\d.]+)", out)
            if proc.returncode != 0 or not m:
                raise SystemExit(f"log probe failed: {out!r}")
            ratios.append(float(m.group(1)))
        print(f"lines per round: {lines}, rounds: {rounds}")
        print(f"unflushed/flushed speed ratio (median): {statistics.median(ratios):.1f}x")
    finally:
        prefix.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
