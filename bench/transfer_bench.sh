#!/bin/sh
# Transfer benchmarks: the chainer's silent download-and-verify of a 256 MiB
# loopback file (x86_64 build under wine64), a minimal synchronous WinINet
# loop, and that loop + md5sum, interleaved in each round; the
# chainer's peak memory against a run without an INI; the MD5 of a held file against md5sum.
# Usage: CORVANE_BUILD_X64=<root>/x64 bench/transfer_bench.sh
# (BENCH_MIB and BENCH_RUNS change the size and the number of runs.)
set -e
cd "$(dirname "$0")/.."
exec /usr/bin/python3 bench/transfer_bench.py "$@"
