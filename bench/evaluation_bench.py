#!/usr/bin/env python3
"""Cost of the evaluation: a silent chainer run with 200 prerequisites of five
registry searches each (all found, so nothing is installed), with logging off
and on, against a run with no prerequisites at all. Each figure is the median
wall time of whole runs in one prefix; only the ratios are meaningful across
machines.
Usage: CORVANE_BUILD_X64=<root>/x64 bench/evaluation_bench.py [prerequisites] [rounds]"""
import shutil
import statistics
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "system"))
import harness  # noqa: E402

KEY = r"HKCU\Software\CorvaneEvaluationBench"


def configuration(count, log):
    text = ["[PREREQ_CHAINER]\n"]
    if log:
        text.append(f"LogFile={harness.win_path(log)}\n")
    text.append("[GeneralOptions]\nOptions=q\n[PREREQUISITES]\n")
    text += [f"App{n}=Bench prerequisite {n}\n" for n in range(1, count + 1)]
    searches = [(5, KEY), (2, KEY + r"\Version"), (1, KEY), (9, KEY + r"\Version"), (12, KEY)]
    for n in range(1, count + 1):
        text.append(f"[App{n}]\nSetupFile=setup{n}.exe\n")
        for k, (kind, path) in enumerate(searches, 1):
            text.append(f"SearchType{k}={kind}\nSearchString{k}={path}\n")
            if kind == 9:
                text.append(f"RefContent{k}=S1.\n")
    return "".join(text)


def timed_runs(prefix, package, rounds):
    times = []
    for _ in range(rounds):
        result = prefix.run(package.exe, timeout=600)
        if result.code != 0:
            raise SystemExit(f"chainer run failed: {result!r}")
        times.append(result.seconds)
    return statistics.median(times)


def main():
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 200
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    work = harness.temp_dir("corvane-evalbench-")
    prefix = harness.Prefix(work / "wine").create()
    try:
        prefix.reg_add(KEY + r"\1.0")
        prefix.reg_add(KEY, "Version", "1.2.3")
        package = harness.Package(work / "pkg")
        log = work / "bench.log"
        package.write_ini(configuration(0, None))
        empty = timed_runs(prefix, package, rounds)
        package.write_ini(configuration(count, None))
        quiet = timed_runs(prefix, package, rounds)
        package.write_ini(configuration(count, log))
        logged = timed_runs(prefix, package, rounds)
        lines = log.read_bytes().decode("utf-16-le", errors="replace").count("Searching for:")
        print(f"prerequisites: {count} x 5 registry searches, rounds: {rounds}")
        print(f"no prerequisites:     {empty:.3f} s")
        print(f"logging off:          {quiet:.3f} s  ({quiet / empty:.2f}x the empty run)")
        print(f"logging on:           {logged:.3f} s  ({logged / empty:.2f}x the empty run, "
              f"{logged / quiet:.2f}x logging off; {lines} evaluations logged)")
    finally:
        prefix.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
