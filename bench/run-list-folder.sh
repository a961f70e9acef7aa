#!/usr/bin/env bash
# Times listing a folder of 100,000 entries into file-list rows (bench/list_folder, Google
# Benchmark), with and without the deleted-only filter. The goal: under 0.5 s.
#   usage: bench/run-list-folder.sh [BUILD_DIR]
# Needs root the first time, when the image is made (bench/make-list-image.sh).
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${1:-$ROOT/build}
cmake --build "$BUILD" --target list_folder >/dev/null
IMAGES="$BUILD/list-images"
"$ROOT/bench/make-list-image.sh" "$IMAGES"
cat "$IMAGES/list.img" >/dev/null
"$BUILD/bench/list_folder" "$IMAGES/list.img" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
