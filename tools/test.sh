#!/bin/sh
# Builds everything and runs every test: native unit tests under ASan and
# UBSan, unit tests under wine64, the layer check of the includes, the import
# check of the 32-bit release, bounded fuzzing runs, and the system tests under
# Wine with their own Xvfb and loopback servers.
set -e
cd "$(dirname "$0")/.."
root="${CORVANE_BUILD_ROOT:-build}"
export CORVANE_BUILD_X64="$root/x64"
tools/build.sh
status=0
echo "== native unit tests (ASan, UBSan)"
(cd "$root/native" && ctest --output-on-failure) || status=1
echo "== unit tests under wine64"
(cd "$root/x64-tests" && ctest --output-on-failure) || status=1
echo "== layer check of the includes"
/usr/bin/python3 tools/check_layers.py || status=1
echo "== import check of the 32-bit release"
/usr/bin/python3 tools/check_imports.py "$root/i686/bin"/corvane.exe || status=1
echo "== fuzzing (bounded)"
for f in "$root"/fuzz/*_fuzz; do
    [ -x "$f" ] || continue
    "$f" -max_total_time="${CORVANE_FUZZ_SECONDS:-20}" -rss_limit_mb=2048 2>&1 | tail -1 || status=1
done
echo "== system tests under Wine"
/usr/bin/python3 -m pytest -q tests/system ${PYTEST_ARGS:-} || status=1
exit $status
