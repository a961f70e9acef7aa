#!/usr/bin/env bash
# Times brenvale-cli recovering about 1 GiB of files from an NTFS image against cp -r copying
# the same files out of a read-only ntfs-3g mount of that image, in one hyperfine run; cp -r
# of a copy of the files on the local disk runs beside them as the bar a plain copy sets. Then
# checks that the recovered files are byte for byte the mounted ones.
# The files are written to an ext4 volume with a journal, made for the run in a file beside the
# build (on the same disk as the image) and mounted through a loop device: on an ext4 without
# one, as this VM's root is, every run after the first lost seconds in the kernel skipping the
# inodes the previous run's files had freed (without a journal, ext4 avoids reusing an inode
# for up to five minutes after it was freed).
#   usage: bench/run-recover.sh [BUILD_DIR]
# Needs root: the image is mounted through a loop device and FUSE (and made the first time,
# bench/make-recover-image.sh).
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${1:-$ROOT/build}
# shellcheck source-path=SCRIPTDIR source=lib.sh
source "$ROOT/bench/lib.sh"
require_tools "apt-get install hyperfine ntfs-3g e2fsprogs time" hyperfine ntfs-3g losetup mountpoint mkfs.ext4 \
    sha256sum /usr/bin/time
if [[ $EUID -ne 0 ]]; then
    echo "the image is mounted through a loop device and FUSE: run as root" >&2
    exit 1
fi
build_cli "$BUILD"
IMAGES="$BUILD/recover-image"
"$ROOT/bench/make-recover-image.sh" "$IMAGES"
IMG="$IMAGES/recover.img"
# The same files as plain files on the local disk, made once from the mount below.
PLAIN="$IMAGES/plain"
DEST_IMG="$BUILD/recover-dest.img"
DEST="$BUILD/recover-dest"

if mountpoint -q "$DEST"; then echo "$DEST is still mounted from an earlier run: unmount it first" >&2; exit 1; fi

WORK=$(mktemp -d --tmpdir brenvale-recover-run-XXXXXX)
MNT=""
LOOP=""
FUSE_PID=""
DEST_LOOP=""
cleanup() {
    if mountpoint -q "$DEST"; then umount "$DEST" || umount -l "$DEST" || true; fi
    if [[ -n $DEST_LOOP ]]; then losetup -d "$DEST_LOOP" || true; fi
    rm -f "$DEST_IMG"
    rmdir "$DEST" 2>/dev/null || true
    if [[ -n $MNT ]] && mountpoint -q "$MNT"; then umount "$MNT" || umount -l "$MNT" || true; fi
    if [[ -n $FUSE_PID ]]; then wait "$FUSE_PID" || true; fi
    if [[ -n $LOOP ]]; then losetup -d "$LOOP" || true; fi
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

rm -f "$DEST_IMG"
truncate -s 4G "$DEST_IMG"
mkfs.ext4 -q -F "$DEST_IMG"
DEST_LOOP=$(losetup -f --show "$DEST_IMG")
mkdir -p "$DEST"
mount "$DEST_LOOP" "$DEST"

LOOP=$(losetup -r -f --show "$IMG")
MNT="$WORK/mnt"
mkdir "$MNT"
mount_ntfs "$LOOP" "$MNT" "$WORK/ntfs-3g.log" ro,no_detach
if [[ ! -d $PLAIN ]]; then
    rm -rf "$PLAIN.part"
    mkdir "$PLAIN.part"
    cp -r "$MNT/data" "$PLAIN.part/"
    mv "$PLAIN.part" "$PLAIN"
fi

# Everything read comes from the page cache: the image (which brenvale-cli reads and the loop
# device reads for ntfs-3g) and the local copy. The warm-up runs fill the loop device's cache.
cat "$IMG" >/dev/null
tar -cf - -C "$PLAIN" . >/dev/null
# Only /data: the whole volume would add the file-system metadata files ($MFT, $LogFile ...)
# that the mount does not show. The folder left from the last run is removed, and sync writes
# back what is left, before each run; a run's own writes stay in the page cache.
hyperfine --warmup 1 --runs 5 --export-markdown "$BUILD/recover.md" \
    --prepare "rm -rf $DEST/data && sync" \
    -n "brenvale-cli recover" "$CLI recover $IMG --to $DEST --quiet /data" \
    -n "cp -r (ntfs-3g mount)" "cp -r $MNT/data $DEST/" \
    -n "cp -r (local copy)" "cp -r $PLAIN/data $DEST/"

# One more recovery, for its peak memory and to compare what it wrote with the mount.
rm -rf "$DEST/data"
/usr/bin/time -f %M -o "$WORK/cli.rss" "$CLI" recover "$IMG" --to "$DEST" --quiet /data >"$WORK/summary.txt"
sums() { (cd "$1" && find . -type f -print0 | sort -z | xargs -0 sha256sum); }
sums "$MNT/data" >"$WORK/mounted.sha256"
sums "$DEST/data" >"$WORK/recovered.sha256"
files=$(wc -l <"$WORK/mounted.sha256")
bytes=$(du -sb --apparent-size "$MNT/data" | cut -f1)
echo "$(grep -i recovered "$WORK/summary.txt"); $files files, $bytes bytes on the mount;" \
    "peak memory brenvale-cli $(cat "$WORK/cli.rss") KiB"
if cmp -s "$WORK/mounted.sha256" "$WORK/recovered.sha256"; then
    echo "the recovered files are byte for byte the mounted ones (sha256 of all $files)"
else
    echo "the recovered files differ from the mounted ones:" >&2
    diff "$WORK/mounted.sha256" "$WORK/recovered.sha256" | head -20 >&2
    exit 1
fi
