#!/bin/sh
# Builds everything and runs every test: native unit tests under ASan and
# UBSan, unit tests under wine64, the layer check of the includes, the import
# check of the 32-bit release, two release builds that must be identical,
# bounded fuzzing runs, and the system tests under Wine with their own Xvfb
# and loopback servers (the x86_64 build under wine64, the shipped i686 build
# under the 32-bit Wine of tools/setup_wine32.sh).
set -e
cd "$(dirname "$0")/.."
root="${CORVANE_BUILD_ROOT:-build}"
export CORVANE_BUILD_X64="$root/x64" CORVANE_BUILD_I686="$root/i686"
tools/build.sh
status=0
echo "== native unit tests (ASan, UBSan)"
(cd "$root/native" && ctest --output-on-failure) || status=1
echo "== corvane-check over the example packages"
examples_out=$(mktemp -d)
for src in examples/*.txt examples/*.ini.in; do
    [ -f "$src" ] || continue
    # Templates get sample values for their placeholders.
    sed -e 's/@PORT@/8080/g; s/@SIZE@/1000/g; s/@MD5@/0123456789abcdef0123456789abcdef/g; s/@LOG@/C:\\Logs\\demo.log/g' \
        "$src" > "$examples_out/source.txt"
    "$root/native/corvane-check" --werror --write "$examples_out/source.txt" "$examples_out/$(basename "$src").ini" || status=1
done
rm -rf "$examples_out"
echo "== unit tests under wine64"
(cd "$root/x64-tests" && ctest --output-on-failure) || status=1
echo "== layer check of the includes"
/usr/bin/python3 tools/check_layers.py || status=1
echo "== import check of the 32-bit release"
/usr/bin/python3 tools/check_imports.py "$root/i686/bin"/corvane.exe || status=1
echo "== reproducible release: two builds in different folders, SHA256SUMS, signing"
tools/check_release.sh || status=1
echo "== fuzzing (bounded)"
# Each run starts from the target's kept corpus (fuzz/corpus/<target>, grown
# by tools/fuzz.sh); new inputs go to a scratch folder, not into the tree.
for f in "$root"/fuzz/*_fuzz; do
    [ -x "$f" ] || continue
    scratch=$(mktemp -d)
    # A crash fails the run (its input is left in the fuzz tree's folder).
    if "$f" "$scratch" "fuzz/corpus/$(basename "$f")" -max_total_time="${CORVANE_FUZZ_SECONDS:-20}" \
        -rss_limit_mb=2048 -artifact_prefix="$root/fuzz/" > "$scratch.log" 2>&1; then
        tail -1 "$scratch.log"
    else
        tail -30 "$scratch.log"
        status=1
    fi
    rm -rf "$scratch" "$scratch.log"
done
echo "== system tests under Wine, and the tests of the project's own tools"
/usr/bin/python3 -m pytest -q tests/system tests/tools ${PYTEST_ARGS:-} || status=1
exit $status
