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

# The tree, built once on the local file system with builtins only (a process per file would
# take minutes). Sizes run from 1 to 4000 bytes: the smallest stay in their MFT record, the
# rest take one cluster each.
TREE="$WORK/tree"
mkdir "$TREE"
blob=""
for ((i = 0; i < 80; ++i)); do blob+="brenvale ntfs scan benchmark line $(printf '%05d' "$i") 0123456789abcdef\n"; done
blob=$(printf '%b' "$blob")
# Names are set with printf -v: a command substitution per file would fork 100,000 times.
top_name() { printf -v "$1" 'Top folder %02d' "$2"; }
mid_name() {
    if (( $3 % 2 )); then printf -v "$1" 'SUB%d_%02d' "$2" "$3"; else printf -v "$1" 'Project archive %d-%02d (copy)' "$2" "$3"; fi
}
leaf_name() { printf -v "$1" 'leaf%02d' "$2"; }
file_name() {
    case $(($2 % 5)) in
        0) printf -v "$1" 'f%05d.txt' "$2" ;;
        1) printf -v "$1" 'F%05d.BIN' "$2" ;;
        2) printf -v "$1" 'Meeting notes from the quarterly review number %05d.txt' "$2" ;;
        3) printf -v "$1" 'photo_%05d.jpeg' "$2" ;;
        *) printf -v "$1" 'Mixed Case %05d.Dat' "$2" ;;
    esac
}
n=0
ta="" tb="" tc="" name=""
deleted_files=()
for ((a = 0; a < 10; ++a)); do
    top_name ta "$a"
    for ((b = 0; b < 10; ++b)); do
        mid_name tb "$a" "$b"
        for ((c = 0; c < 10; ++c)); do
            leaf_name tc "$c"
            dir="$ta/$tb/$tc"
            mkdir -p "$TREE/$dir"
            for ((f = 0; f < 100; ++f)); do
                file_name name "$n"
                printf '%s' "${blob:0:$((n * 37 % 4000 + 1))}" >"$TREE/$dir/$name"
                # Every tenth file of the first top folder goes.
                if (( a == 0 && f % 10 == 3 )); then deleted_files+=("$dir/$name"); fi
                n=$((n + 1))
            done
        done
    done
done
top_name ta 1
mid_name tb 1 2
leaf_name tc 4
deleted_dir="$ta/$tb/$tc"

truncate -s 1G "$IMG.part"
format "$IMG.part" BRENVALE
LOOP=$(losetup -f --show "$IMG.part")
MNT="$WORK/mnt"
mkdir "$MNT"
# In the foreground, as a child: umount may return before ntfs-3g has written everything back,
# and the image is only complete once the process has ended.
mount_ntfs "$LOOP" "$MNT" "$WORK/ntfs-3g.log"
cp -r "$TREE"/. "$MNT"/
(cd "$MNT" && rm -f -- "${deleted_files[@]}" && rm -rf -- "$deleted_dir")
umount "$MNT"
wait "$FUSE_PID"
FUSE_PID=""
MNT=""
losetup -d "$LOOP"
LOOP=""
mv "$IMG.part" "$IMG"
