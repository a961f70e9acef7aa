#!/usr/bin/env bash
# Compares reading a page-cached 1 GiB image through TDevice::Read (1 MiB batches) with
# `cat FILE > /dev/null`, in one hyperfine run.   usage: bench/run-read-throughput.sh [BUILD_DIR]
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${1:-$ROOT/build}
command -v hyperfine >/dev/null || { echo "hyperfine is not installed (apt-get install hyperfine)" >&2; exit 1; }
cmake --build "$BUILD" --target read_throughput >/dev/null
IMG=$(mktemp --tmpdir brenvale-bench-XXXXXX.img)
trap 'rm -f "$IMG"' EXIT
head -c 1G /dev/urandom >"$IMG"
cat "$IMG" >/dev/null  # into the page cache
hyperfine --warmup 3 --runs 20 --export-markdown "$BUILD/read_throughput.md" \
    -n cat "cat $IMG > /dev/null" \
    -n TDevice.Read "$BUILD/bench/read_throughput $IMG"
