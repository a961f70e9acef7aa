#!/usr/bin/env bash
# Makes the volume images the ntfs_scan benchmark scans, once, in OUTDIR:
#   ntfs.img        1 GiB (sparse) NTFS, 4 KiB clusters, 100,000 files of 1 to 4000 bytes in
#                   10 folders × 10 folders × 10 folders × 100 files (8.3 names, long names
#                   and mixed case), filled through ntfs-3g; then 1,000 of the files and one
#                   folder of 100 files deleted;
#   ntfs-empty.img  64 MiB NTFS as mkntfs leaves it, for the scanner's fixed memory.
# An image that is already there is kept.
# Needs root: the volume is filled through a loop device and a FUSE mount.
#   usage: bench/make-ntfs-scan-image.sh [OUTDIR]
set -euo pipefail
# shellcheck source-path=SCRIPTDIR source=lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
OUT=${1:-/tmp/brenvale-ntfs-scan}
IMG="$OUT/ntfs.img"
EMPTY="$OUT/ntfs-empty.img"
[[ -f $IMG && -f $EMPTY ]] && exit 0
require_tools "apt-get install ntfs-3g util-linux" mkntfs ntfs-3g losetup mountpoint
if [[ ! -f $IMG && $EUID -ne 0 ]]; then
    echo "the NTFS image is filled through a loop device and a FUSE mount: run as root" >&2
    exit 1
fi
mkdir -p "$OUT"

begin_image_work ntfs-scan "$IMG.part" "$EMPTY.part"
# mkntfs always warns that a file is not a block device; its output is shown only on failure.
format() {
    mkntfs -q -F -f -c 4096 -s 512 -p 0 -H 0 -S 0 -L "$2" "$1" >"$WORK/mkntfs.log" 2>&1 || { cat "$WORK/mkntfs.log" >&2; exit 1; }
}

if [[ ! -f $EMPTY ]]; then
    truncate -s 64M "$EMPTY.part"
    format "$EMPTY.part" EMPTY
    mv "$EMPTY.part" "$EMPTY"
fi
[[ -f $IMG ]] && exit 0

# The smallest files stay in their MFT record, the rest take one cluster each.
TREE="$WORK/tree"
make_scan_tree "$TREE" ntfs 10 100

truncate -s 1G "$IMG.part"
format "$IMG.part" BRENVALE
LOOP=$(losetup -f --show "$IMG.part")
MNT="$WORK/mnt"
mkdir "$MNT"
mount_ntfs "$LOOP" "$MNT" "$WORK/ntfs-3g.log"
cp -r "$TREE"/. "$MNT"/
(cd "$MNT" && rm -f -- "${deleted_files[@]}" && rm -rf -- "$deleted_dir")
finish_ntfs_fill
mv "$IMG.part" "$IMG"
