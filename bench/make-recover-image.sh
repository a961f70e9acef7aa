#!/usr/bin/env bash
# Makes the volume image the recover benchmark copies files out of, once: recover.img in
# OUTDIR, a 1.5 GiB (sparse) NTFS volume with 4 KiB clusters holding, under /data, about
# 1 GiB of random bytes in files of three kinds:
#   data/large        3 files of 60, 110 and 190 MiB
#   data/medium/m*    160 files of 1 to 5 MiB in 4 folders
#   data/small/s*     6,000 files of 4 to 64 KiB in 60 folders
# An image that is already there is kept.
# Needs root: the volume is filled through a loop device and a FUSE mount.
#   usage: bench/make-recover-image.sh [OUTDIR]
set -euo pipefail
# shellcheck source-path=SCRIPTDIR source=lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
OUT=${1:-/tmp/brenvale-recover}
IMG="$OUT/recover.img"
[[ -f $IMG ]] && exit 0
require_tools "apt-get install ntfs-3g util-linux" mkntfs ntfs-3g losetup mountpoint head
if [[ $EUID -ne 0 ]]; then
    echo "the NTFS image is filled through a loop device and a FUSE mount: run as root" >&2
    exit 1
fi
mkdir -p "$OUT"

begin_image_work recover "$IMG.part"

truncate -s 1536M "$IMG.part"
# mkntfs always warns that a file is not a block device; its output is shown only on failure.
mkntfs -q -F -f -c 4096 -s 512 -p 0 -H 0 -S 0 -L RECOVER "$IMG.part" >"$WORK/mkntfs.log" 2>&1 ||
    { cat "$WORK/mkntfs.log" >&2; exit 1; }
LOOP=$(losetup -f --show "$IMG.part")
MNT="$WORK/mnt"
mkdir "$MNT"
# In the foreground, as a child: the image is only complete once the process has ended.
mount_ntfs "$LOOP" "$MNT" "$WORK/ntfs-3g.log"

# Sizes follow from the file's number, so every image holds the same layout; the bytes are
# random, so nothing compresses or deduplicates along the way.
D="$MNT/data"
mkdir -p "$D/large"
sizes=(60 110 190)
for i in 0 1 2; do
    head -c "$((sizes[i] << 20))" /dev/urandom >"$D/large/video_$i.mkv"
done
for ((i = 0; i < 160; ++i)); do
    dir="$D/medium/m$((i % 4))"
    mkdir -p "$dir"
    head -c "$(((1 << 20) + i * 7919 * 3359 % (4 << 20)))" /dev/urandom >"$dir/photo_$(printf '%03d' "$i").jpg"
done
for ((i = 0; i < 6000; ++i)); do
    dir="$D/small/s$(printf '%02d' $((i / 100)))"
    mkdir -p "$dir"
    head -c "$((4096 + i * 7919 % (60 << 10)))" /dev/urandom >"$dir/doc_$(printf '%04d' "$i").bin"
done

finish_ntfs_fill
mv "$IMG.part" "$IMG"
