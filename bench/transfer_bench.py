"""Transfer benchmarks (run through bench/transfer_bench.sh)."""
import os
import re
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

MIB = 1024 * 1024
SIZE = int(os.environ.get("BENCH_MIB", "256")) * MIB


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
        time.sleep(0.05)


def main():
    work = Path(tempfile.mkdtemp(prefix="corvane-bench-"))
    served = work / "served"
    served.mkdir()
    source = served / "big.bin"
    with open(source, "wb") as f:
        block = os.urandom(MIB)
        for i in range(SIZE // MIB):
            f.write(block[i % 7:] + block[:i % 7])
    prefix = harness.Prefix(work).create()
    server = servers.HttpServer(served).start()
    server.set_mode(chunk=MIB)
    try:
        # Native curl from the same server.
        curl_out = work / "curl.bin"
        t = time.monotonic()
        subprocess.run(["curl", "-s", "-o", str(curl_out), server.url("big.bin")], check=True, timeout=600)
        curl_s = time.monotonic() - t
        curl_out.unlink()

        # The transfer under wine64 (process start included).
        target = work / "dl" / "big.bin"
        peak = [0]
        t = time.monotonic()
        proc = prefix.popen(harness.program("transfer_probe"), server.url("big.bin"), harness.win_path(target),
                            "--quiet")
        watcher = threading.Thread(target=peak_memory_watch, args=(proc.pid, peak), daemon=True)
        watcher.start()
        out, _ = proc.communicate(timeout=900)
        probe_s = time.monotonic() - t
        out = out.decode(errors="replace")
        assert "result=0 " in out, out
        assert target.stat().st_size == SIZE
        ws = re.search(r"peak-working-set=(\d+)", out)

        # FileMd5 against md5sum over the same file.
        t = time.monotonic()
        md5sum = subprocess.run(["md5sum", str(target)], capture_output=True, text=True, check=True).stdout.split()[0]
        md5sum_s = time.monotonic() - t
        t = time.monotonic()
        r = prefix.wine(harness.program("transfer_probe"), "--md5", harness.win_path(target), timeout=600)
        md5_wall = time.monotonic() - t
        m = re.search(r"md5=(\w+) ok=1 ms=(\d+)", r.stdout.decode(errors="replace"))
        assert m and m.group(1) == md5sum, r.stdout
        md5_s = int(m.group(2)) / 1000

        mb = SIZE / MIB
        print(f"download {mb:.0f} MiB: curl {curl_s:.2f}s ({mb / curl_s:.0f} MiB/s), "
              f"FileTransfer under wine64 {probe_s:.2f}s ({mb / probe_s:.0f} MiB/s), "
              f"ratio {curl_s / probe_s:.2f}x of curl")
        print(f"peak memory of the probe: VmHWM {peak[0] / 1024:.1f} MiB"
              + (f", peak working set {int(ws.group(1)) / MIB:.1f} MiB" if ws else ""))
        print(f"MD5 {mb:.0f} MiB: md5sum {md5sum_s:.2f}s, FileMd5 {md5_s:.2f}s inside the process "
              f"({md5_wall:.2f}s with Wine start), ratio {md5sum_s / md5_s:.2f}x of md5sum")
    finally:
        server.stop()
        prefix.close()
        subprocess.run(["rm", "-rf", str(work)])


if __name__ == "__main__":
    main()
