#!/usr/bin/env bash
# Builds the seed inputs of the fuzz targets into tests/fuzz/corpus/<target>/ with the fixture
# tools (mkfs.fat, mtools, mkfs.exfat, mkntfs, sfdisk, sgdisk) and the command-line program.
# The seeds are checked in; run this only to remake them. Trailing zeros are cut, since every
# target reads a short input as one padded with zeros or as a smaller device.
#
#   make-corpus.sh [BRENVALE_CLI]     (default: build/brenvale-cli)
#
# Inputs that once found a fault are kept beside the seeds under names starting "found-"; this
# script remakes the ones that can be rebuilt and never deletes the others.
set -Eeuo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
CLI=${1:-$ROOT/build/brenvale-cli}
CORPUS=$HERE/corpus
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"

for tool in mkfs.fat mcopy mkfs.exfat mkntfs sfdisk sgdisk python3; do
    command -v "$tool" >/dev/null || { echo "make-corpus: $tool is missing" >&2; exit 1; }
done
[[ -x $CLI ]] || { echo "make-corpus: no command-line program at $CLI" >&2; exit 1; }
mkdir -p "$CORPUS"/{fuzz_volume_scan,fuzz_partition_table,fuzz_image_load,fuzz_ntfs_record,fuzz_lznt1,fuzz_scan_checkpoint}

# seed OUT [--prefix HEX] [--limit BYTES] IN: IN with its trailing zeros cut, at most BYTES of
# it, after a one-byte prefix.
seed() {
    python3 - "$@" <<'PY'
import sys
args = sys.argv[1:]
out = args.pop(0)
prefix, limit = b"", None
while args[0].startswith("--"):
    opt, val = args.pop(0), args.pop(0)
    if opt == "--prefix": prefix = bytes.fromhex(val)
    if opt == "--limit": limit = int(val)
data = open(args[0], "rb").read()
if limit is not None: data = data[:limit]
open(out, "wb").write(prefix + data.rstrip(b"\0"))
PY
}

echo "hello, world" >small.txt
python3 -c 'print("line of a longer file\n" * 120, end="")' >long.txt

# Volumes for fuzz_volume_scan: the first byte picks the walker (0 FAT12, 1 FAT16, 2 FAT32,
# 3 exFAT, 4 NTFS).
truncate -s 64K fat12.img
mkfs.fat -F 12 -s 1 -r 16 -f 1 -n SEED12 fat12.img >/dev/null
mcopy -i fat12.img small.txt ::A.TXT
mmd -i fat12.img ::DIR
mcopy -i fat12.img long.txt "::DIR/A Long File Name.txt"
mcopy -i fat12.img small.txt ::GONE.TXT
mdel -i fat12.img ::GONE.TXT
seed "$CORPUS/fuzz_volume_scan/fat12-files-folder-deleted" --prefix 00 fat12.img

truncate -s 2200K fat16.img
mkfs.fat -F 16 -s 1 -r 16 -f 1 -n SEED16 fat16.img >/dev/null
mcopy -i fat16.img small.txt ::A.TXT
mcopy -i fat16.img long.txt ::LONG.TXT
mcopy -i fat16.img small.txt ::GONE.TXT
mdel -i fat16.img ::GONE.TXT
seed "$CORPUS/fuzz_volume_scan/fat16-files-deleted" --prefix 01 fat16.img
# The same volume read by the FAT32 walker.
seed "$CORPUS/fuzz_volume_scan/fat16-read-as-fat32" --prefix 02 fat16.img

# Found by fuzz_volume_scan (149 s for one input): a file that claims 4 GB, whose preview built
# the extents of every cluster instead of those of the bytes asked for.
python3 - fat16.img found.img <<'PY'
import sys
d = bytearray(open(sys.argv[1], "rb").read())
at = d.find(b"A       TXT")
d[at + 28:at + 32] = (0xFFFFFFF0).to_bytes(4, "little")
open(sys.argv[2], "wb").write(d)
PY
seed "$CORPUS/fuzz_volume_scan/found-fat16-file-of-4gb-preview" --prefix 01 found.img

truncate -s 1M fat32.img
mkfs.fat -F 32 -s 1 -f 1 -n SEED32 fat32.img >/dev/null 2>&1
seed "$CORPUS/fuzz_volume_scan/fat32-empty" --prefix 02 fat32.img

truncate -s 1M exfat.img
mkfs.exfat -b 4096 -L SEEDEX exfat.img >/dev/null
seed "$CORPUS/fuzz_volume_scan/exfat-empty" --prefix 03 exfat.img

truncate -s 2M ntfs.img
mkntfs -F -Q -s 512 -c 512 -L SEEDNTFS ntfs.img >/dev/null 2>&1
# Boot sector and the system files' records; the rest of the volume reads as missing.
seed "$CORPUS/fuzz_volume_scan/ntfs-boot-and-mft" --prefix 04 --limit 45056 ntfs.img

# fuzz_ntfs_record: one record (1024 bytes), then the rest as a run list. The $MFT record (its
# data runs) and the root folder's (index root and allocation) of the volume above.
python3 - ntfs.img "$CORPUS/fuzz_ntfs_record" <<'PY'
import struct, sys
d = open(sys.argv[1], "rb").read()
cluster = struct.unpack_from("<H", d, 11)[0] * d[13]
mft = struct.unpack_from("<q", d, 0x30)[0] * cluster
runs = bytes([0x11, 0x10, 0x20, 0x21, 0x08, 0x00, 0x01, 0x01, 0xF0, 0x00])  # three runs, one sparse
for name, index in (("mft-record", 0), ("root-folder-record", 5)):
    open(f"{sys.argv[2]}/{name}", "wb").write(d[mft + index * 1024:mft + index * 1024 + 1024] + runs)
PY

# fuzz_partition_table: an MBR with an extended chain of two logical partitions (a FAT12 boot
# sector at the first one's start) and a GPT disk. The last byte's low bit picks a fixed disk.
truncate -s 32K mbr.img
printf 'label: dos\nstart=2, size=10, type=6\nstart=14, size=40, type=5\nstart=16, size=8, type=7\nstart=26, size=10, type=b\n' |
    sfdisk -q mbr.img >/dev/null
dd if=fat12.img of=mbr.img bs=512 seek=2 count=1 conv=notrunc status=none
seed "$CORPUS/fuzz_partition_table/mbr-extended-chain" mbr.img
{ cat "$CORPUS/fuzz_partition_table/mbr-extended-chain"; printf '\001'; } >"$CORPUS/fuzz_partition_table/mbr-extended-chain-fixed"
truncate -s 48K gpt.img
sgdisk -a 1 -n 1:34:50 -t 1:0700 -n 2:51:60 -t 2:8300 gpt.img >/dev/null
seed "$CORPUS/fuzz_partition_table/gpt-two-partitions" gpt.img

# fuzz_image_load: a drive image with its descriptor, and a raw image.
"$CLI" image create fat12.img --from 0 --count 8 --to seed.dif >/dev/null
cp seed.dif "$CORPUS/fuzz_image_load/dif-fat12-volume"
seed "$CORPUS/fuzz_image_load/raw-fat12-volume" --limit 4096 fat12.img

# fuzz_lznt1: compressed and literal chunks (the unit tests' vectors) and a chunk of 4096
# literal bytes.
python3 - "$CORPUS/fuzz_lznt1" <<'PY'
import sys
out = sys.argv[1]
open(f"{out}/back-reference", "wb").write(bytes([0x05, 0xB0, 0x08]) + b"abc" + bytes([0x06, 0x20, 0, 0]))
open(f"{out}/two-chunks", "wb").write(bytes([0x01, 0x30]) + b"hi" + bytes([0x05, 0xB0, 0x08]) + b"abc" + bytes([0x06, 0x20, 0, 0]))
open(f"{out}/literal-chunk", "wb").write(bytes([0xFF, 0x3F]) + bytes(range(256)) * 16 + bytes([0, 0]))
PY

# fuzz_scan_checkpoint: the saved results of advanced scans of the FAT12, exFAT and NTFS
# volumes above (entries of each kind, harvested lists, the signature scan's state).
"$CLI" adv-scan fat12.img --results "$CORPUS/fuzz_scan_checkpoint/fat12-results" >/dev/null
"$CLI" adv-scan exfat.img --results "$CORPUS/fuzz_scan_checkpoint/exfat-results" >/dev/null
"$CLI" adv-scan ntfs.img --results "$CORPUS/fuzz_scan_checkpoint/ntfs-results" >/dev/null
"$CLI" adv-scan fat12.img --whole-disk --results "$CORPUS/fuzz_scan_checkpoint/fat12-disk-results" >/dev/null

du -b "$CORPUS"/*/* | sort -k2
