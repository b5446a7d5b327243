#!/usr/bin/env python3
"""Cost of the evaluation: a silent chainer run with 200 prerequisites of five
registry searches each (all found, so nothing is installed), with logging off
and on, against a run with no prerequisites at all; then runs that only
evaluate (neither "q" nor "b") 200 and 400 download prerequisites that are
all missing, whose download targets the evaluation works out, to show that
the cost grows linearly. The runs are interleaved round by round; each
figure is the median over the rounds, with every round's ratio; only the
ratios are meaningful across machines.
Usage: CORVANE_BUILD_X64=<root>/x64 bench/evaluation_bench.py [prerequisites] [rounds]"""
import shutil
import statistics
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "system"))
import harness  # noqa: E402

KEY = r"HKCU\Software\CorvaneEvaluationBench"


def configuration(count, log, downloads=False):
    text = ["[PREREQ_CHAINER]\n"]
    if log:
        text.append(f"LogFile={harness.win_path(log)}\n")
    text.append(f"[GeneralOptions]\nOptions={'' if downloads else 'q'}\n[PREREQUISITES]\n")
    text += [f"App{n}=Bench prerequisite {n}\n" for n in range(1, count + 1)]
    searches = [(5, KEY), (2, KEY + r"\Version"), (1, KEY), (9, KEY + r"\Version"), (12, KEY)]
    if downloads:
        searches = [(6, KEY)]  # the key exists: "absent" never finds it
    for n in range(1, count + 1):
        text.append(f"[App{n}]\nUrl=http://127.0.0.1:9/setup{n}.exe\n" if downloads else f"[App{n}]\nSetupFile=setup{n}.exe\n")
        for k, (kind, path) in enumerate(searches, 1):
            text.append(f"SearchType{k}={kind}\nSearchString{k}={path}\n")
            if kind == 9:
                text.append(f"RefContent{k}=S1.\n")
    return "".join(text)


def timed_run(prefix, package, text):
    package.write_ini(text)
    result = prefix.run(package.exe, timeout=600)
    if result.code != 0:
        raise SystemExit(f"chainer run failed: {result!r}")
    return result.seconds


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
        variants = {
            "no prerequisites": configuration(0, None),
            "logging off": configuration(count, None),
            "logging on": configuration(count, log),
            "no downloads": configuration(0, None, downloads=True),
            f"{count} downloads": configuration(count, None, downloads=True),
            f"{2 * count} downloads": configuration(2 * count, None, downloads=True),
        }
        times = {name: [] for name in variants}
        for _ in range(rounds):
            for name, text in variants.items():
                times[name].append(timed_run(prefix, package, text))
        lines = log.read_bytes().decode("utf-16-le", errors="replace").count("Searching for:")
        empty = times["no prerequisites"]
        print(f"prerequisites: {count} x 5 registry searches, rounds: {rounds} ({lines} evaluations logged)")
        for name, values in times.items():
            # Runs that only evaluate are measured against the one without downloads.
            base = times["no downloads"] if "downloads" in name else empty
            over = [v - e for v, e in zip(values, base)]
            print(f"{name:20s} median {statistics.median(values):.3f} s, over the empty run: median "
                  f"{statistics.median(over) * 1000:.0f} ms; rounds: " + ", ".join(f"{o * 1000:.0f}" for o in over))
        one, two = times[f"{count} downloads"], times[f"{2 * count} downloads"]
        ratios = [(b - e) / max(a - e, 1e-6) for a, b, e in zip(one, two, times["no downloads"])]
        print(f"twice the downloads cost {statistics.median(ratios):.2f}x over the empty run (linear: 2); rounds: "
              + ", ".join(f"{r:.2f}" for r in ratios))
    finally:
        prefix.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
