#!/usr/bin/env bash
# Times brenvale-cli recovering the whole of two damaged fixture volumes (made by
# bench/make-hostile-images.py): FAT32 with its root-cluster field pointing at a file's data,
# and exFAT with a file claiming 2^40 bytes. Then starts each recovery again, sends SIGINT
# (Ctrl-C) after a moment and measures how long the program takes to end after it.
#   usage: bench/run-hostile-recover.sh [BUILD_DIR] [FIXTURE_DIR]
# BUILD_DIR should be a release build; FIXTURE_DIR defaults to BUILD_DIR/fixtures
# (tests/fixtures/build-fixtures.sh).
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${1:-$ROOT/build}
FIXTURES=${2:-$BUILD/fixtures}
# shellcheck source-path=SCRIPTDIR source=lib.sh
source "$ROOT/bench/lib.sh"
require_tools "apt-get install hyperfine python3" hyperfine python3
build_cli "$BUILD"
WORK=$(mktemp -d --tmpdir brenvale-hostile-XXXXXX)
trap 'rm -rf "$WORK"' EXIT
trap 'exit 130' INT TERM
"$ROOT/bench/make-hostile-images.py" "$FIXTURES" "$WORK"

for img in fat32-root exfat-huge; do
    # Exit 1 is expected: some files fail.
    hyperfine --warmup 1 --runs 5 -i --export-markdown "$BUILD/hostile-$img.md" \
        --prepare "rm -rf $WORK/dest" -n "recover $img" "$CLI recover $WORK/$img.img --to $WORK/dest --quiet"
    rm -rf "$WORK/dest"
    "$CLI" recover "$WORK/$img.img" --to "$WORK/dest" --quiet >"$WORK/summary.txt" 2>/dev/null || true
    echo "$img: $(tr '\n' ' ' <"$WORK/summary.txt")"
done

# Ctrl-C: the time from the signal to the end of the process, after DELAY seconds of running.
for img in fat32-root exfat-huge; do
    for delay in 0.05 0.2; do
        rm -rf "$WORK/dest"
        "$CLI" recover "$WORK/$img.img" --to "$WORK/dest" --quiet >/dev/null 2>&1 &
        pid=$!
        sleep "$delay"
        sent=$(date +%s.%N)
        if kill -INT "$pid" 2>/dev/null; then
            wait "$pid" || true
            ended=$(date +%s.%N)
            echo "$img: SIGINT after ${delay} s, ended $(echo "$ended - $sent" | bc) s later"
        else
            wait "$pid" || true
            echo "$img: finished within ${delay} s, before SIGINT"
        fi
    done
done
