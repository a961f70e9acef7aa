#!/usr/bin/env bash
# Compares `brenvale-cli image create` of a page-cached 300 MB raw image with `dd bs=1M` of the
# same file, in one hyperfine run.   usage: bench/run-image-create.sh [BUILD_DIR]
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${1:-$ROOT/build}
source "$ROOT/bench/lib.sh"
require_tools "apt-get install hyperfine" hyperfine dd
build_cli "$BUILD"
WORK=$(mktemp -d --tmpdir brenvale-image-create-XXXXXX)
trap 'rm -rf "$WORK"' EXIT
IMG=$WORK/source.img
head -c 300M /dev/urandom >"$IMG"
cat "$IMG" >/dev/null  # into the page cache
# Each run writes a fresh copy beside the source; the old one is removed first, outside the timing.
hyperfine --warmup 3 --runs 20 --export-markdown "$BUILD/image_create.md" \
    --prepare "rm -f $WORK/copy.img $WORK/copy.dif" \
    -n "dd bs=1M" "dd if=$IMG of=$WORK/copy.img bs=1M status=none" \
    -n "image create" "$CLI image create $IMG --to $WORK/copy.dif"
