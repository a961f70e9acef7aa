#!/usr/bin/env bash
# Times brenvale-cli adv-scan over a page-cached 1 GiB NTFS volume that held 100,000 files
# (bench/make-ntfs-scan-image.sh) and was then quick-formatted (mkntfs -Q): the whole advanced
# scan (the pass with the signature scan, and the stages) against photorec carving the same
# image, in one hyperfine run; then the peak memory per harvested record, beyond what the scan
# of the freshly formatted 64 MiB volume takes. Then the same scan over the 1 GiB FAT32 and
# exFAT volumes of 100,000 entries (bench/make-fat-scan-images.sh), formatted again by
# mkfs.vfat and mkfs.exfat with the same cluster size: speed, and the stages' share of it.
# Needs root the first time, when the image is made.
#   usage: bench/run-adv-scan.sh [BUILD_DIR]
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${1:-$ROOT/build}
# shellcheck source-path=SCRIPTDIR source=lib.sh
source "$ROOT/bench/lib.sh"
require_tools "apt-get install hyperfine testdisk time ntfs-3g imagemagick exfat-fuse" hyperfine photorec /usr/bin/time mkntfs python3 convert mount.exfat-fuse
build_cli "$BUILD"
IMAGES="$BUILD/ntfs-scan-images"
"$ROOT/bench/make-ntfs-scan-image.sh" "$IMAGES"
IMG="$IMAGES/ntfs-qformat.img"
if [[ ! -f $IMG ]]; then
    cp --sparse=always "$IMAGES/ntfs.img" "$IMG.part"
    mkntfs -Q -q -F -c 4096 -s 512 -p 0 -H 0 -S 0 -L REFORMAT "$IMG.part" >/dev/null 2>&1
    mv "$IMG.part" "$IMG"
fi
OUT=$(mktemp -d --tmpdir brenvale-adv-out-XXXXXX)
trap 'rm -rf "$OUT"' EXIT
cd "$OUT"

cat "$IMG" >/dev/null
hyperfine --warmup 1 --runs 3 --export-markdown "$BUILD/adv-scan.md" --export-json "$OUT/adv.json" \
    -n "brenvale-cli adv-scan --json" "$CLI adv-scan $IMG --json >/dev/null" \
    --prepare "rm -rf $OUT/recup*" \
    -n photorec "photorec /d $OUT/recup /cmd $IMG partition_none,options,paranoid,keep_corrupted_file_no,wholespace,search </dev/null >/dev/null 2>&1"

"$CLI" adv-scan "$IMG" --json >"$OUT/listing.json"
/usr/bin/time -f %M -o "$OUT/peak" "$CLI" adv-scan "$IMG" --json >/dev/null
/usr/bin/time -f %M -o "$OUT/base" "$CLI" adv-scan "$IMAGES/ntfs-empty.img" --json >/dev/null
python3 - "$OUT/adv.json" "$IMG" "$OUT/listing.json" "$OUT/peak" "$OUT/base" <<'EOF'
import json, os, sys
results = {r["command"]: r["mean"] for r in json.load(open(sys.argv[1]))["results"]}
size = os.path.getsize(sys.argv[2])
adv = results["brenvale-cli adv-scan --json"]
listing = json.load(open(sys.argv[3]))
records = len(listing["entries"])
peak, base = (int(open(p).read().split()[-1]) for p in sys.argv[4:6])
print(f"adv-scan: {size / adv / 2**30:.2f} GiB/s over {size / 2**30:.1f} GiB; photorec takes {results['photorec'] / adv:.2f}x its time")
print(f"records listed: {records}; geometry: {listing['geometry']}")
print(f"peak memory: {peak} KiB, {base} KiB for an empty volume: {(peak - base) * 1024 / max(records, 1):.0f} bytes per record")
EOF

FAT_IMAGES="$BUILD/fat-scan-images"
"$ROOT/bench/make-fat-scan-images.sh" "$FAT_IMAGES"

# Sixteen photographs among the exFAT volume's text files, four in each of four folders: the
# geometry the folders vote for is taken only when files' first bytes confirm it, and a tree is
# built only then. Through a loop device and a FUSE mount, in a subshell that cleans up after
# itself.
add_pictures() (
    local img=$1 mnt loop dir i
    mnt=$(mktemp -d --tmpdir brenvale-adv-pictures-XXXXXX)
    loop=$(losetup -f --show "$img")
    trap 'mountpoint -q "$mnt" && umount "$mnt"; losetup -d "$loop"; rmdir "$mnt"' EXIT
    mount.exfat-fuse "$loop" "$mnt"
    find "$mnt" -mindepth 1 -maxdepth 1 -type d | sort | head -n 4 | while IFS= read -r dir; do
        for i in 1 2 3 4; do
            convert -size 320x240 -seed "$i" plasma:fractal -quality 90 "$dir/photo$i.jpg"
        done
    done
    umount "$mnt"
)
for fs in fat32 exfat; do
    img="$FAT_IMAGES/$fs-reformat.img"
    if [[ ! -f $img ]]; then
        cp --sparse=always "$FAT_IMAGES/$fs.img" "$img.part"
        case $fs in
            fat32) mkfs.vfat -F 32 -S 512 -s 8 -n REFORMAT "$img.part" >/dev/null ;;
            exfat)
                add_pictures "$img.part"
                mkfs.exfat -c 4K -L REFORMAT "$img.part" >/dev/null
                ;;
        esac
        mv "$img.part" "$img"
    fi
    cat "$img" >/dev/null
    hyperfine --warmup 1 --runs 3 --export-json "$OUT/$fs.json" -n "adv-scan $fs" "$CLI adv-scan $img --json >/dev/null"
    "$CLI" adv-scan "$img" --json >"$OUT/$fs-listing.json"
    python3 - "$OUT/$fs.json" "$img" "$OUT/$fs-listing.json" "$fs" <<'EOF'
import json, os, sys
mean = json.load(open(sys.argv[1]))["results"][0]["mean"]
size = os.path.getsize(sys.argv[2])
listing = json.load(open(sys.argv[3]))
t = listing["seconds"]
root = "/!!! Advanced Extra !!!/" + ("exFAT Root/" if sys.argv[4] == "exfat" else "FAT Root/")
entries = sum(1 for e in listing["entries"] if e["path"].startswith(root))
geometry = listing["exfat_geometry" if sys.argv[4] == "exfat" else "fat_geometry"]
print(f"{sys.argv[4]} re-formatted: {size / mean / 2**30:.2f} GiB/s over {size / 2**30:.1f} GiB; "
      f"stages {t['stages']:.3f} s of {t['pass'] + t['stages']:.3f} s "
      f"({100 * t['stages'] / max(t['pass'] + t['stages'], 1e-9):.0f} %); {entries} entries rebuilt; geometry {geometry}")
EOF
done
