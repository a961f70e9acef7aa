#!/usr/bin/env bash
# Makes the images the carve benchmark scans, once, in OUTDIR:
#   carve.img             SIZE_MIB MiB (default 1024) of random bytes with a few hundred archives
#                         of about 4 KiB to 8 MiB at random sector starts, not overlapping, over
#                         about half of it (bench/carve_image.py: zip, also streamed with data
#                         descriptors, docx, xlsx, jar, tar ustar and GNU, gz, bz2, cab, RAR 4)
#   carve.manifest.tsv    offset, size, sha256, extension and first member of every archive
#   random64.img          64 MiB of random bytes: what a scan costs when nothing is found
#   zeros64.img, ff64.img, pk64.img
#                         64 MiB of 0x00, of 0xFF and of "PK\3\4" over and over: bytes that
#                         look like the start of something far more often than random ones
# The random bytes come from AES-CTR over zeros with a fixed key, so every image made with the
# same size is the same apart from what the archive tools stamp into their output. carve.img
# counts as made once carve.stamp names its size; a different SIZE_MIB makes it again.
#   usage: bench/make-carve-image.sh OUTDIR [SIZE_MIB]
set -euo pipefail
BENCH=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source-path=SCRIPTDIR source=lib.sh
source "$BENCH/lib.sh"
OUT=${1:?usage: bench/make-carve-image.sh OUTDIR [SIZE_MIB]}
MIB=${2:-1024}
IMG="$OUT/carve.img"
STAMP="$OUT/carve.stamp"
require_tools "apt-get install openssl python3 gzip bzip2 gcab" openssl python3 gzip bzip2 gcab
# Debian's own python3 first: python3-docx and python3-openpyxl are installed for it, and without
# them the image has no docx and xlsx (fastjar is optional in the same way, for jar).
PY=$(command -v /usr/bin/python3 || command -v python3)
mkdir -p "$OUT"

# random_bytes KEY_BYTE MIB: a repeatable stream of random bytes, at disk speed.
random_bytes() {
    local key
    key=$(printf '%02x' "$1")
    key=$(printf "%.0s$key" {1..16})
    openssl enc -aes-128-ctr -nosalt -K "$key" -iv 00000000000000000000000000000000 </dev/zero 2>/dev/null |
        head -c "$(($2 << 20))" || true
}

# fixed_image NAME COMMAND...: NAME made once from the output of COMMAND.
fixed_image() {
    local path="$OUT/$1"
    shift
    [[ -f $path ]] && return 0
    "$@" >"$path.part"
    mv "$path.part" "$path"
}
fixed_image random64.img random_bytes 2 64
fixed_image zeros64.img head -c 64M /dev/zero
fixed_image ff64.img sh -c "head -c 64M /dev/zero | tr '\\000' '\\377'"
fixed_image pk64.img "$PY" -c 'import sys; sys.stdout.buffer.write(b"PK\x03\x04" * (16 << 20))'

# The generator's own hash is part of the stamp: a changed mix makes the image again.
STAMP_TEXT="$MIB MiB $(sha256sum "$BENCH/carve_image.py" | cut -c1-16)"
if [[ -f $IMG && -f $STAMP && $(cat "$STAMP") == "$STAMP_TEXT" ]]; then exit 0; fi
rm -f "$STAMP" "$IMG"
trap 'rm -f "$IMG.part" "$OUT/carve.manifest.tsv.part"' EXIT
random_bytes 1 "$MIB" >"$IMG.part"
[[ $(stat -c %s "$IMG.part") -eq $((MIB << 20)) ]] || { echo "the background of $IMG came out short" >&2; exit 1; }
"$PY" "$BENCH/carve_image.py" "$IMG.part" "$OUT/carve.manifest.tsv.part"
mv "$OUT/carve.manifest.tsv.part" "$OUT/carve.manifest.tsv"
mv "$IMG.part" "$IMG"
echo "$STAMP_TEXT" >"$STAMP"
