#!/usr/bin/env bash
# Compares a full lost-partition search over a page-cached 2 GiB image with reading the same
# image through TDevice::Read in 1 MiB batches, in one hyperfine run.
#   usage: bench/run-lost-search.sh [BUILD_DIR]
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${1:-$ROOT/build}
command -v hyperfine >/dev/null || { echo "hyperfine is not installed (apt-get install hyperfine)" >&2; exit 1; }
cmake --build "$BUILD" --target read_throughput lost_search >/dev/null
IMG=$(mktemp --tmpdir brenvale-bench-XXXXXX.img)
trap 'rm -f "$IMG"' EXIT
# Random bytes, so no sector looks like a boot sector and every one is examined.
head -c 2G /dev/urandom >"$IMG"
cat "$IMG" >/dev/null
hyperfine --warmup 2 --runs 10 --export-markdown "$BUILD/lost_search.md" \
    -n TDevice.Read "$BUILD/bench/read_throughput $IMG" \
    -n DetectLostParti "$BUILD/bench/lost_search $IMG"
