#!/usr/bin/env python3
"""Runs the example package under Wine: a loopback HTTP server serves the demo
prerequisite, the chainer (x86_64 build) runs silently, finds the prerequisite
missing, downloads it, checks its size and MD5, installs it and re-evaluates.
Prints the exit code, the log and what the setup left in the registry."""
import functools
import hashlib
import http.server
import shutil
import sys
import tempfile
import threading
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "system"))
import harness  # noqa: E402


def main():
    setup = harness.program("demo_setup")
    work = Path(tempfile.mkdtemp(prefix="corvane-demo-"))
    served = work / "www"
    served.mkdir()
    shutil.copyfile(setup, served / "demo_setup.exe")
    data = (served / "demo_setup.exe").read_bytes()

    class QuietHandler(http.server.SimpleHTTPRequestHandler):
        def log_message(self, *args):
            pass

    handler = functools.partial(QuietHandler, directory=str(served))
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    port = server.server_address[1]

    display_proc, display = harness.start_xvfb()
    prefix = harness.Prefix(work / "wine", display)
    try:
        print(f"Creating a Wine prefix in {prefix.path} ...", flush=True)
        prefix.create()
        prefix.reg_delete("HKCU\\Software\\CorvaneDemo")
        pkg = harness.Package(work / "package", "setup.exe")
        log = work / "package" / "setup-run.log"
        ini = (ROOT / "examples" / "demo.ini.in").read_text()
        ini = (ini.replace("@PORT@", str(port)).replace("@SIZE@", str(len(data)))
               .replace("@MD5@", hashlib.md5(data).hexdigest()).replace("@LOG@", harness.win_path(log)))
        pkg.write_ini(ini)
        print(f"Serving demo_setup.exe ({len(data)} bytes) at http://127.0.0.1:{port}/")
        print(f"Running {harness.win_path(pkg.exe)} ...", flush=True)
        result = prefix.run(pkg.exe, timeout=120)
        print(f"\nExit code: {result.code}\n")
        if log.exists():
            print("Log:")
            print(pkg.read_log(log))
        value = prefix.reg_query("HKCU\\Software\\CorvaneDemo", "Version")
        print(f"Installed demo runtime version (HKCU\\Software\\CorvaneDemo\\Version): {value}")
        return 0 if result.code == 0 else 1
    finally:
        prefix.close()
        server.shutdown()
        display_proc.terminate()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
