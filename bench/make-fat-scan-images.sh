#!/usr/bin/env bash
# Makes the two volume images the fat_scan benchmark scans, once: fat32.img and exfat.img in
# OUTDIR, each 1 GiB (sparse) with 4 KiB clusters and the same tree of 100,010 entries:
#   10 folders, each with 10 folders, each with 9 folders of 110 small files
# (file names mix lower- and upper-case 8.3 names with long ones), then 990 of the files and
# one folder of 110 files deleted. An image that is already there is kept.
# Needs root: the exFAT image is filled through a loop device and a FUSE mount.
#   usage: bench/make-fat-scan-images.sh [OUTDIR]
set -euo pipefail
# shellcheck source-path=SCRIPTDIR source=lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
OUT=${1:-/tmp/brenvale-fat-scan}
FAT="$OUT/fat32.img"
EXFAT="$OUT/exfat.img"
[[ -f $FAT && -f $EXFAT ]] && exit 0
for tool in mkfs.vfat mcopy mdel mdeltree mkfs.exfat mount.exfat-fuse losetup; do
    command -v "$tool" >/dev/null || { echo "$tool is not installed (apt-get install mtools dosfstools exfatprogs exfat-fuse)" >&2; exit 1; }
done
if [[ ! -f $EXFAT && $EUID -ne 0 ]]; then
    echo "the exFAT image is filled through a loop device and a FUSE mount: run as root" >&2
    exit 1
fi
mkdir -p "$OUT"

WORK=$(mktemp -d --tmpdir brenvale-fat-scan-XXXXXX)
MNT=""
LOOP=""
cleanup() {
    if [[ -n $MNT ]] && mountpoint -q "$MNT"; then umount "$MNT" || umount -l "$MNT" || true; fi
    if [[ -n $LOOP ]]; then losetup -d "$LOOP" || true; fi
    rm -rf "$WORK"
    rm -f "$FAT.part" "$EXFAT.part"
}
trap cleanup EXIT

# Sizes run from 1 byte to 4000 bytes, so every file takes one cluster.
TREE="$WORK/tree"
make_scan_tree "$TREE" fat 9 110

if [[ ! -f $FAT ]]; then
    truncate -s 1G "$FAT.part"
    mkfs.vfat -F 32 -S 512 -s 8 -n BRENVALE -i 0B5E1A7E "$FAT.part" >/dev/null
    export MTOOLS_SKIP_CHECK=1
    # One mcopy for the whole tree: a call per file would spend its time opening the image.
    mcopy -s -i "$FAT.part" "$TREE"/* ::/
    fat_paths=()
    for p in "${deleted_files[@]}"; do fat_paths+=("::/$p"); done
    mdel -i "$FAT.part" "${fat_paths[@]}"
    mdeltree -i "$FAT.part" "::/$deleted_dir"
    mv "$FAT.part" "$FAT"
fi

if [[ ! -f $EXFAT ]]; then
    truncate -s 1G "$EXFAT.part"
    mkfs.exfat -c 4K -L BRENVALE "$EXFAT.part" >/dev/null
    LOOP=$(losetup -f --show "$EXFAT.part")
    MNT="$WORK/mnt"
    mkdir "$MNT"
    mount.exfat-fuse "$LOOP" "$MNT"
    cp -r "$TREE"/. "$MNT"/
    (cd "$MNT" && rm -f -- "${deleted_files[@]}" && rm -rf -- "$deleted_dir")
    umount "$MNT"
    MNT=""
    losetup -d "$LOOP"
    LOOP=""
    mv "$EXFAT.part" "$EXFAT"
fi
