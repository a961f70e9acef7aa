#!/usr/bin/env bash
# Makes the volume image the list_folder benchmark lists, once, in OUTDIR:
#   list.img  512 MiB (sparse) NTFS, 4 KiB clusters, one folder "Big Folder" holding 100,000
#             files of 0 to 199 bytes (all resident in their MFT records) with short upper- and
#             lower-case names, long names, names with several dots and names without an
#             extension, over 37 extensions (some the type table knows, some it does not, in
#             mixed case); filled through ntfs-3g, then every hundredth file deleted (1,000).
# FAT32 cannot hold that many entries in one folder. An image that is already there is kept.
# Needs root: the volume is filled through a loop device and a FUSE mount.
#   usage: bench/make-list-image.sh [OUTDIR]
set -euo pipefail
# shellcheck source-path=SCRIPTDIR source=lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
OUT=${1:-/tmp/brenvale-list}
IMG="$OUT/list.img"
[[ -f $IMG ]] && exit 0
require_tools "apt-get install ntfs-3g util-linux" mkntfs ntfs-3g losetup mountpoint
if [[ $EUID -ne 0 ]]; then
    echo "the NTFS image is filled through a loop device and a FUSE mount: run as root" >&2
    exit 1
fi
mkdir -p "$OUT"

begin_image_work list "$IMG.part"

FOLDER="Big Folder"
FILES=100000
# 37 extensions, a prime, so that every name style meets every extension.
exts=(txt jpg jpeg png gif bmp tif pdf doc docx xls xlsx ppt pptx zip rar 7z mp3 mp4 avi mkv wav
    html htm css js json xml csv log ini dat bin exe dll qqx brv)
blob=""
for ((i = 0; i < 4; ++i)); do blob+="brenvale list folder benchmark line $i 0123456789abcdef\n"; done
blob=$(printf '%b' "$blob")
# Names are set with printf -v: a command substitution per file would fork 100,000 times.
file_name() {
    local ext=${exts[$(($2 % ${#exts[@]}))]}
    case $(($2 % 6)) in
        0) printf -v "$1" 'D%07d.%s' "$2" "${ext^^}" ;;
        1) printf -v "$1" 'img%05d.%s' "$2" "$ext" ;;
        2) printf -v "$1" 'Meeting notes from the quarterly review number %05d.%s' "$2" "$ext" ;;
        3) printf -v "$1" 'Mixed Case Report %05d.%s' "$2" "${ext^}" ;;
        4) printf -v "$1" 'backup.%05d.old.%s' "$2" "$ext" ;;
        *) printf -v "$1" 'README_%05d' "$2" ;;
    esac
}

# The files, made once on the local file system with builtins only (a process per file would
# take minutes), then copied in one cp.
TREE="$WORK/tree"
mkdir -p "$TREE/$FOLDER"
name=""
deleted_files=()
for ((n = 0; n < FILES; ++n)); do
    file_name name "$n"
    printf '%s' "${blob:0:$((n * 37 % 200))}" >"$TREE/$FOLDER/$name"
    if (( n % 100 == 42 )); then deleted_files+=("$FOLDER/$name"); fi
done

truncate -s 512M "$IMG.part"
mkntfs -q -F -f -c 4096 -s 512 -p 0 -H 0 -S 0 -L BIGFOLDER "$IMG.part" >"$WORK/mkntfs.log" 2>&1 \
    || { cat "$WORK/mkntfs.log" >&2; exit 1; }
LOOP=$(losetup -f --show "$IMG.part")
MNT="$WORK/mnt"
mkdir "$MNT"
mount_ntfs "$LOOP" "$MNT" "$WORK/ntfs-3g.log"
cp -r "$TREE"/. "$MNT"/
(cd "$MNT" && rm -f -- "${deleted_files[@]}")
finish_ntfs_fill
mv "$IMG.part" "$IMG"
