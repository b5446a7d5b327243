"""Transfer benchmarks (run through bench/transfer_bench.sh), all in one
command against the same loopback server and the same 256 MiB file:

- the chainer's silent download-and-verify (ExactSize and MD5) as a whole
  process, a minimal synchronous WinINet loop (51,200-byte reads) alone, and
  that loop followed by md5sum (the baseline): the three run one after the
  other in each round, so that the noise of a shared machine hits them alike;
  the medians and every round's ratio are printed;
- resuming a 256 MiB part file of a 320 MiB file (ExactSize and MD5: the
  held bytes are hashed from the part file, the rest as it comes) against
  md5sum of the part followed by the loop for the rest (a range request),
  interleaved the same way;
- the chainer's peak memory (VmHWM of its wine process) against a run of the
  chainer without an INI, for the 256 MiB file and for a 5 GiB one (a sparse
  file on the server's side; BENCH_BIG_GIB=0 leaves it out);
- the MD5 of a held file (VerifiedFile) against md5sum over the same file."""
import hashlib
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "system"))
import harness  # noqa: E402
import servers  # noqa: E402
from silent_support import chainer_ini, log_lines  # noqa: E402

MIB = 1024 * 1024
SIZE = int(os.environ.get("BENCH_MIB", "256")) * MIB
RUNS = int(os.environ.get("BENCH_RUNS", "3"))
PART = SIZE              # the part file a resumption continues
REST = 64 * MIB          # ... and what it still has to fetch
BIG = int(os.environ.get("BENCH_BIG_GIB", "5")) << 30


def peak_memory_watch(pid, result):
    """Polls the process's high-water mark of resident memory (kB)."""
    path = Path(f"/proc/{pid}/status")
    while True:
        try:
            m = re.search(r"VmHWM:\s+(\d+)", path.read_text())
        except OSError:
            return
        if m:
            result[0] = max(result[0], int(m.group(1)))
        time.sleep(0.02)


def timed_wine(prefix, *args):
    """Runs a Windows program as a whole process: (seconds, exit code, output, peak kB)."""
    peak = [0]
    t = time.monotonic()
    proc = prefix.popen(*args)
    watcher = threading.Thread(target=peak_memory_watch, args=(proc.pid, peak), daemon=True)
    watcher.start()
    out, _ = proc.communicate(timeout=900)
    seconds = time.monotonic() - t
    watcher.join(timeout=1)
    return seconds, proc.returncode, out.decode(errors="replace"), peak[0]


def md5sum(path: Path) -> str:
    return subprocess.run(["md5sum", str(path)], capture_output=True, text=True, check=True).stdout.split()[0]


def main():
    work = Path(tempfile.mkdtemp(prefix="corvane-bench-"))
    served = work / "served"
    served.mkdir()
    source = served / "big.bin"
    digest = hashlib.md5()
    with open(source, "wb") as f:
        block = os.urandom(MIB)
        for i in range(SIZE // MIB):
            piece = block[i % 7:] + block[:i % 7]
            f.write(piece)
            digest.update(piece)
    expected_md5 = digest.hexdigest()
    # The file a resumption finishes, and its part file as a run left it.
    resume_source = served / "resume.bin"
    part_copy = work / "part.bin"
    resume_digest = hashlib.md5()
    with open(resume_source, "wb") as f, open(part_copy, "wb") as part:
        for i in range((PART + REST) // MIB):
            piece = block[i % 11:] + block[:i % 11]
            f.write(piece)
            resume_digest.update(piece)
            if i < PART // MIB:
                part.write(piece)
    resume_md5 = resume_digest.hexdigest()
    prefix = harness.Prefix(work).create()
    server = servers.HttpServer(served).start()
    server.set_mode(chunk=MIB)
    url = server.url("big.bin")
    try:
        # The chainer: one prerequisite to download, checked for size and MD5.
        # Its "setup" is not a program; the failed launch costs a few ms.
        dl = work / "dl"
        log = work / "bench.log"
        app = {"Name": "Big", "Url": url, "ExactSize": SIZE, "MD5": expected_md5, "NoUiCommandLine": "/q",
               "SearchType1": "7", "SearchString1": "HKCU\\Software\\CorvaneBench\\never"}
        ini = chainer_ini("q", [app], log, dl, {"KeepFiles": "minimum"})
        chainer = harness.Package(work / "pkg")
        bare = harness.Package(work / "bare")  # no INI: exits at once

        def chainer_run():
            chainer.write_ini(ini)
            if log.exists():
                log.unlink()
            seconds, code, _, peak = timed_wine(prefix, chainer.exe)
            lines = log_lines(log)
            assert "Downloaded file was accepted." in lines, lines
            return seconds, peak

        def loop_run(with_md5sum):
            target = work / "loop.bin"
            t = time.monotonic()
            seconds, code, out, _ = timed_wine(prefix, harness.program("wininet_loop"), url, harness.win_path(target))
            assert code == 0 and f"bytes={SIZE}" in out, out
            if with_md5sum:
                assert md5sum(target) == expected_md5
                seconds = time.monotonic() - t
            target.unlink()
            return seconds

        resume_url = server.url("resume.bin")
        resume_app = {"Name": "Resumed", "Url": resume_url, "ExactSize": PART + REST, "MD5": resume_md5,
                      "NoUiCommandLine": "/q", "SearchType1": "7",
                      "SearchString1": "HKCU\\Software\\CorvaneBench\\never"}
        resume_ini = chainer_ini("q", [resume_app], log, dl, {"KeepFiles": "minimum"})

        def resume_run():
            """The chainer continues the part file (copied in place first, not timed)."""
            dl.mkdir(exist_ok=True)
            shutil.copyfile(part_copy, dl / "resume.bin.part")
            chainer.write_ini(resume_ini)
            if log.exists():
                log.unlink()
            server.requests.clear()
            seconds, code, _, peak = timed_wine(prefix, chainer.exe)
            lines = log_lines(log)
            assert "Downloaded file was accepted." in lines, lines
            assert server.requests[0]["headers"].get("Range") == f"bytes={PART}-", server.requests
            return seconds

        def resume_transfer():
            """The transfer alone (transfer_probe): the part file continued,
            judged and put in place, without the hold and the launch."""
            dl.mkdir(exist_ok=True)
            shutil.copyfile(part_copy, dl / "probe.bin.part")
            seconds, code, out, _ = timed_wine(prefix, harness.program("transfer_probe"), resume_url,
                                               harness.win_path(dl / "probe.bin"), "--quiet", "--expected",
                                               str(PART + REST), "--md5", resume_md5)
            assert code == 0 and "verified-while-writing=1" in out, out
            (dl / "probe.bin").unlink()
            return seconds

        def resume_baseline():
            """md5sum of the part file, then the loop for the rest."""
            target = work / "rest.bin"
            t = time.monotonic()
            md5sum(part_copy)
            proc = prefix.popen(harness.program("wininet_loop"), resume_url, harness.win_path(target), str(PART))
            proc.communicate(timeout=900)
            assert proc.returncode == 0 and target.stat().st_size == REST
            seconds = time.monotonic() - t
            target.unlink()
            return seconds

        chainer_run()  # warm the prefix and the page cache
        resume_run()
        samples = {"chainer": [], "loop": [], "loop+md5sum": [], "peak": [], "bare": [], "resume": [],
                   "md5sum+rest": [], "resume transfer": []}
        for _ in range(RUNS):
            s, peak = chainer_run()
            samples["chainer"].append(s)
            samples["peak"].append(peak)
            samples["loop"].append(loop_run(False))
            samples["loop+md5sum"].append(loop_run(True))
            samples["bare"].append(timed_wine(prefix, bare.exe)[3])
            samples["resume"].append(resume_run())
            samples["md5sum+rest"].append(resume_baseline())
            samples["resume transfer"].append(resume_transfer())
        chainer_s = statistics.median(samples["chainer"])
        loop_s = statistics.median(samples["loop"])
        baseline_s = statistics.median(samples["loop+md5sum"])
        ratios = [b / c for b, c in zip(samples["loop+md5sum"], samples["chainer"])]
        peak_kb = max(samples["peak"])
        bare_kb = max(samples["bare"])

        mb = SIZE / MIB
        print(f"download and verify {mb:.0f} MiB, median of {RUNS} interleaved rounds:")
        print(f"  chainer (silent, ExactSize + MD5)  {chainer_s:6.2f} s  ({mb / chainer_s:5.0f} MiB/s)")
        print(f"  WinINet loop alone                 {loop_s:6.2f} s  ({mb / loop_s:5.0f} MiB/s)")
        print(f"  WinINet loop + md5sum (baseline)   {baseline_s:6.2f} s  ({mb / baseline_s:5.0f} MiB/s)")
        for i, (c, l, b) in enumerate(zip(samples["chainer"], samples["loop"], samples["loop+md5sum"]), 1):
            print(f"  round {i}: chainer {c:6.2f} s, loop {l:6.2f} s, loop + md5sum {b:6.2f} s, "
                  f"ratio {b / c:.2f}x")
        print(f"  speed of the chainer: median ratio {statistics.median(ratios):.2f}x the loop + md5sum "
              f"(goal 1.00x), {baseline_s / chainer_s:.2f}x from the medians")
        print(f"peak memory (VmHWM): chainer {peak_kb / 1024:.1f} MiB, without INI {bare_kb / 1024:.1f} MiB, "
              f"difference {(peak_kb - bare_kb) / 1024:.1f} MiB (goal under 8 MiB)")

        print(f"resume a {PART // MIB} MiB part file of {(PART + REST) // MIB} MiB, median of {RUNS} interleaved rounds:")
        resume_s = statistics.median(samples["resume"])
        transfer_s = statistics.median(samples["resume transfer"])
        base_s = statistics.median(samples["md5sum+rest"])
        print(f"  transfer (ExactSize + MD5, put in place)   {transfer_s:6.2f} s")
        print(f"  chainer (silent run, hold and launch too)  {resume_s:6.2f} s")
        print(f"  md5sum of the part + loop for the rest     {base_s:6.2f} s")
        for i, (t, c, b) in enumerate(zip(samples["resume transfer"], samples["resume"], samples["md5sum+rest"]), 1):
            print(f"  round {i}: transfer {t:6.2f} s, chainer {c:6.2f} s, md5sum + rest {b:6.2f} s, "
                  f"cost {t / b:.2f}x (chainer {c / b:.2f}x)")
        print(f"  cost of the resumption: median {statistics.median([t / b for t, b in zip(samples['resume transfer'], samples['md5sum+rest'])]):.2f}x "
              f"md5sum + the loop for the rest (goal at most 1.10x); the whole chainer run "
              f"{statistics.median([c / b for c, b in zip(samples['resume'], samples['md5sum+rest'])]):.2f}x")

        if BIG:
            # A sparse file on the server's side: the chainer writes and
            # hashes every byte, its memory must not grow with them.
            five = served / "five.bin"
            with open(five, "wb") as f:
                f.truncate(BIG)
                f.seek(BIG - 4)
                f.write(b"tail")
            big_app = {"Name": "Big", "Url": server.url("five.bin"), "ExactSize": BIG, "MD5": md5sum(five),
                       "NoUiCommandLine": "/q", "SearchType1": "7",
                       "SearchString1": "HKCU\\Software\\CorvaneBench\\never"}
            chainer.write_ini(chainer_ini("q", [big_app], log, dl, {"KeepFiles": "minimum"}))
            if log.exists():
                log.unlink()
            seconds, code, _, big_peak = timed_wine(prefix, chainer.exe)
            assert "Downloaded file was accepted." in log_lines(log), log_lines(log)
            five.unlink()
            print(f"download and verify {BIG >> 30} GiB: {seconds:.1f} s, peak memory {big_peak / 1024:.1f} MiB, "
                  f"{(big_peak - bare_kb) / 1024:.1f} MiB above a run without INI (goal under 8 MiB)")

        # The MD5 of a held file against md5sum over the same file.
        t = time.monotonic()
        md5sum(source)
        md5sum_s = time.monotonic() - t
        r = prefix.wine(harness.program("transfer_probe"), "--md5", harness.win_path(source), timeout=600)
        m = re.search(r"md5=(\w+) ok=1 ms=(\d+)", r.stdout.decode(errors="replace"))
        assert m and m.group(1) == expected_md5, r.stdout
        md5_s = int(m.group(2)) / 1000
        print(f"MD5 {mb:.0f} MiB: md5sum {md5sum_s:.2f}s, held file {md5_s:.2f}s inside the process, "
              f"ratio {md5sum_s / md5_s:.2f}x of md5sum")
    finally:
        server.stop()
        prefix.close()
        subprocess.run(["rm", "-rf", str(work)])


if __name__ == "__main__":
    main()
