#!/bin/sh
# Transfer benchmarks: a 256 MiB loopback download through the x86_64 build
# under wine64 against curl from the same server, the probe's peak memory
# during it, and FileMd5 over a 256 MiB file against md5sum.
# Usage: CORVANE_BUILD_X64=<root>/x64 bench/transfer_bench.sh
set -e
cd "$(dirname "$0")/.."
exec /usr/bin/python3 bench/transfer_bench.py "$@"
