#!/bin/sh
# Long fuzzing runs that grow the kept corpora: every target (or the named
# ones) runs for the given seconds (default 600) from its corpus in
# fuzz/corpus/<target>, then the corpus is minimised (libFuzzer's merge) and
# written back, so that the short runs of tools/test.sh start where this run
# ended. Commit the changed corpus. Needs the fuzz tree (tools/build.sh fuzz).
#   tools/fuzz.sh [seconds] [target...]
set -e
cd "$(dirname "$0")/.."
root="${CORVANE_BUILD_ROOT:-build}"
seconds="${1:-600}"
[ $# -gt 0 ] && shift
targets="$*"
[ -n "$targets" ] || targets=$(cd fuzz && ls *_fuzz.cpp | sed 's/\.cpp$//')
status=0
for name in $targets; do
    f="$root/fuzz/$name"
    [ -x "$f" ] || { echo "not built: $f" >&2; status=1; continue; }
    corpus="fuzz/corpus/$name"
    mkdir -p "$corpus"
    work=$(mktemp -d)
    echo "== $name for ${seconds}s"
    # New inputs go to the scratch folder (the first one named); a crash
    # leaves its input in the fuzz tree's folder and fails the run.
    if ! "$f" "$work" "$corpus" -max_total_time="$seconds" -rss_limit_mb=2048 \
        -artifact_prefix="$root/fuzz/" > "$work.log" 2>&1; then
        tail -30 "$work.log"
        status=1
    fi
    tail -1 "$work.log"
    rm -f "$work.log"
    minimal=$(mktemp -d)
    "$f" -merge=1 "$minimal" "$corpus" "$work" 2>&1 | tail -1
    # Inputs of faults found once stay, whatever the merge keeps.
    for kept in "$corpus"/regression-*; do
        [ -f "$kept" ] && cp "$kept" "$minimal/"
    done
    rm -rf "$corpus" && mv "$minimal" "$corpus" && chmod 755 "$corpus"
    rm -rf "$work"
    echo "$name: $(ls "$corpus" | wc -l) inputs kept"
done
exit $status
