#!/usr/bin/env bash
# Times the standard scan of an NTFS image of 100,000 files against The Sleuth Kit's fls
# listing the same volume, in one hyperfine run; then the peak memory of one run of each, the
# scanner's peak memory on an empty volume (its fixed part), and how many entries each lists.
#   usage: bench/run-ntfs-scan.sh [BUILD_DIR]
# Needs root the first time, when the image is made (bench/make-ntfs-scan-image.sh).
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${1:-$ROOT/build}
# shellcheck source-path=SCRIPTDIR source=lib.sh
source "$ROOT/bench/lib.sh"
require_tools "apt-get install hyperfine sleuthkit time" hyperfine fls /usr/bin/time
build_cli "$BUILD"
IMAGES="$BUILD/ntfs-scan-images"
"$ROOT/bench/make-ntfs-scan-image.sh" "$IMAGES"
IMG="$IMAGES/ntfs.img"
EMPTY="$IMAGES/ntfs-empty.img"
OUT=$(mktemp -d --tmpdir brenvale-ntfs-scan-out-XXXXXX)
trap 'rm -rf "$OUT"' EXIT

cat "$IMG" "$EMPTY" >/dev/null
hyperfine --warmup 2 --runs 10 --export-markdown "$BUILD/ntfs_scan.md" \
    -n "brenvale-cli scan (ntfs)" "$CLI scan $IMG --json >/dev/null" \
    -n "fls -r -p (ntfs)" "fls -f ntfs -r -p $IMG >/dev/null"

/usr/bin/time -f %M -o "$OUT/cli.rss" "$CLI" scan "$IMG" --json >"$OUT/cli.json"
/usr/bin/time -f %M -o "$OUT/fls.rss" fls -f ntfs -r -p "$IMG" >"$OUT/fls.txt"
/usr/bin/time -f %M -o "$OUT/empty.rss" "$CLI" scan "$EMPTY" --json >"$OUT/empty.json"
# Entries are the objects at the second level of the document. fls lists deleted entries it
# cannot place in the tree under $OrphanFiles, and named streams ($BadClus:$Bad ...) as
# entries of their own.
entries=$(grep -c '^    {$' "$OUT/cli.json" || true)
empty_entries=$(grep -c '^    {$' "$OUT/empty.json" || true)
deleted=$(grep -c '"status": "deleted"' "$OUT/cli.json" || true)
lines=$(wc -l <"$OUT/fls.txt")
fls_deleted=$(grep -c $'^[^\t]* \\* ' "$OUT/fls.txt" || true)
orphans=$(grep -c $'\t\\$OrphanFiles/' "$OUT/fls.txt" || true)
streams=$(grep -c $'\t[^\t]*:[^/\t]*$' "$OUT/fls.txt" || true)
cli_rss=$(cat "$OUT/cli.rss")
empty_rss=$(cat "$OUT/empty.rss")
fls_rss=$(cat "$OUT/fls.rss")
echo "peak memory: brenvale-cli $cli_rss KiB, fls $fls_rss KiB; brenvale-cli on the empty volume $empty_rss KiB ($empty_entries entries)"
echo "brenvale-cli lists $entries entries ($deleted deleted): $((cli_rss * 1024 / entries)) bytes per entry," \
    "$(((cli_rss - empty_rss) * 1024 / (entries - empty_entries))) past the empty volume's"
echo "fls lists $lines lines ($fls_deleted deleted): $orphans under \$OrphanFiles, $streams named streams," \
    "$((fls_rss * 1024 / lines)) bytes per line"
