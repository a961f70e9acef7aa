#!/usr/bin/env python3
"""Damaged copies of two fixture volumes for bench/run-hostile-recover.sh.

  fat32-root.img  the FAT32 fixture with its root-cluster field (boot sector offset 44)
                  pointing a quarter of the way into the data area: the walk reads the file
                  data there as the root (about 7,500 garbage entries with the fixture).
  exfat-huge.img  the exFAT fixture with the data length (and valid data length) of the
                  first file of its root folder set to 2^40 bytes.

usage: make-hostile-images.py FIXTURE_DIR OUT_DIR
"""
import os
import shutil
import struct
import sys


def fat32_root(src, dst):
    shutil.copyfile(src, dst)
    with open(dst, "r+b") as f:
        boot = f.read(512)
        bps, spc, reserved, fats = struct.unpack_from("<HBHB", boot, 11)
        total, fat_size = struct.unpack_from("<II", boot, 32)
        clusters = (total - reserved - fats * fat_size) // spc
        # A quarter of the way into the data area: file data, read as the root folder.
        f.seek(44)
        f.write(struct.pack("<I", 2 + clusters // 4))


def exfat_huge(src, dst):
    shutil.copyfile(src, dst)
    with open(dst, "r+b") as f:
        boot = f.read(512)
        heap, _, root = struct.unpack_from("<III", boot, 88)
        bps, spc = 1 << boot[108], 1 << boot[109]
        f.seek(heap * bps + (root - 2) * spc * bps)
        folder = f.read(spc * bps)
        for off in range(0, len(folder), 32):
            if folder[off] == 0xC0 and folder[off - 32] == 0x85 and not folder[off - 32 + 4] & 0x10:
                at = heap * bps + (root - 2) * spc * bps + off
                f.seek(at + 8)
                f.write(struct.pack("<Q", 1 << 40))
                f.seek(at + 24)
                f.write(struct.pack("<Q", 1 << 40))
                return
        sys.exit("no file in the exFAT root")


def main():
    fixtures, out = sys.argv[1], sys.argv[2]
    os.makedirs(out, exist_ok=True)
    fat32_root(os.path.join(fixtures, "fat32.img"), os.path.join(out, "fat32-root.img"))
    exfat_huge(os.path.join(fixtures, "exfat.img"), os.path.join(out, "exfat-huge.img"))


if __name__ == "__main__":
    main()
