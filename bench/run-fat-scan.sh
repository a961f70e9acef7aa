#!/usr/bin/env bash
# Times the standard scan of a FAT32 and an exFAT image of 100,000 entries against The Sleuth
# Kit's fls listing the same volume, one hyperfine run per image; then the peak memory of one
# run of each and how many entries each lists.
#   usage: bench/run-fat-scan.sh [BUILD_DIR]
# Needs root the first time, when the images are made (bench/make-fat-scan-images.sh).
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${1:-$ROOT/build}
# shellcheck source-path=SCRIPTDIR source=lib.sh
source "$ROOT/bench/lib.sh"
require_tools "apt-get install hyperfine sleuthkit time" hyperfine fls /usr/bin/time
build_cli "$BUILD"
IMAGES="$BUILD/fat-scan-images"
"$ROOT/bench/make-fat-scan-images.sh" "$IMAGES"
OUT=$(mktemp -d --tmpdir brenvale-fat-scan-out-XXXXXX)
trap 'rm -rf "$OUT"' EXIT

for fs in fat32 exfat; do
    img="$IMAGES/$fs.img"
    cat "$img" >/dev/null
    hyperfine --warmup 2 --runs 10 --export-markdown "$BUILD/fat_scan_$fs.md" \
        -n "brenvale-cli scan ($fs)" "$CLI scan $img --json >/dev/null" \
        -n "fls -r -p ($fs)" "fls -f $fs -r -p $img >/dev/null"

    /usr/bin/time -f %M -o "$OUT/cli.rss" "$CLI" scan "$img" --json >"$OUT/cli.json"
    /usr/bin/time -f %M -o "$OUT/fls.rss" fls -f "$fs" -r -p "$img" >"$OUT/fls.txt"
    # Entries are the objects at the second level of the document; fls adds its own entries
    # for file-system metadata ($MBR, $FAT1, the volume label ...) and lists what it cannot
    # place in the tree under $OrphanFiles.
    entries=$(grep -c '^    {$' "$OUT/cli.json" || true)
    lines=$(wc -l <"$OUT/fls.txt")
    orphans=$(grep -c $'\t\\$OrphanFiles/' "$OUT/fls.txt" || true)
    meta=$(grep -c -E $'\t(\\$(MBR|FAT1|FAT2|OrphanFiles|ALLOC_BITMAP|UPCASE_TABLE)$|.* \\(Volume Label Entry\\)$)' "$OUT/fls.txt" || true)
    echo "$fs: peak memory brenvale-cli $(cat "$OUT/cli.rss") KiB, fls $(cat "$OUT/fls.rss") KiB"
    echo "$fs: brenvale-cli lists $entries entries; fls $lines lines: $((lines - orphans - meta)) in the tree," \
        "$orphans under \$OrphanFiles, $meta file-system metadata"
done
