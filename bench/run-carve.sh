#!/usr/bin/env bash
# Times brenvale-cli carve over a page-cached image of random bytes holding a few hundred
# archives and pictures (bench/make-carve-image.sh) against photorec and foremost carving the same families,
# in one hyperfine run; then counts, per extension, how many of the archives each tool wrote
# back byte for byte; then the peak memory of one listing per hit found, beyond what a listing
# of 64 MiB of random bytes takes; then how the listing's speed holds over 64 MiB of bytes that
# look like signature starts (0x00, 0xFF, "PK\3\4" repeated) against 64 MiB of random bytes.
#   usage: bench/run-carve.sh [BUILD_DIR]
#   CARVE_IMAGE_MIB=128 bench/run-carve.sh ...   a smaller image (the default is 1024 MiB)
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${1:-$ROOT/build}
MIB=${CARVE_IMAGE_MIB:-1024}
# shellcheck source-path=SCRIPTDIR source=lib.sh
source "$ROOT/bench/lib.sh"
require_tools "apt-get install hyperfine testdisk foremost time" hyperfine photorec foremost /usr/bin/time \
    sha256sum python3
build_cli "$BUILD"
IMAGES="$BUILD/carve-image"
"$ROOT/bench/make-carve-image.sh" "$IMAGES" "$MIB"
IMG="$IMAGES/carve.img"
MANIFEST="$IMAGES/carve.manifest.tsv"
OUT=$(mktemp -d --tmpdir brenvale-carve-out-XXXXXX)
trap 'rm -rf "$OUT"' EXIT
mkdir "$OUT/photorec"
# photorec leaves its session file and log in the working folder.
cd "$OUT"

# The families in the image, and nothing else: photorec by its file-option names, run
# unattended by /cmd over the whole image as one stretch (no partition table); foremost by the
# ones it has built in (not gz, bz2, tar, cab or tif), and -q looks at sector starts only, as
# the other two do.
PHOTOREC_CMD=partition_none,options,paranoid,keep_corrupted_file_no,fileopt,everything,disable
for ext in zip gz bz2 tar cab rar jpg png gif bmp tif; do PHOTOREC_CMD+=",$ext,enable"; done
PHOTOREC_CMD+=",wholespace,search"

cat "$IMG" >/dev/null
# Each tool's folder is emptied before each of its runs (foremost refuses one that is not
# empty; brenvale-cli would number its files past the last run's); the last run's files stay
# for the recall count below.
hyperfine --warmup 2 --runs 5 --export-markdown "$BUILD/carve.md" --export-json "$OUT/carve.json" \
    --prepare true -n "brenvale-cli carve --json" "$CLI carve $IMG --json >/dev/null" \
    --prepare "rm -rf $OUT/brenvale" -n "brenvale-cli carve --to" "$CLI carve $IMG --to $OUT/brenvale >/dev/null" \
    --prepare "rm -rf $OUT/photorec && mkdir $OUT/photorec" \
    -n photorec "photorec /d $OUT/photorec/recup /cmd $IMG $PHOTOREC_CMD </dev/null >/dev/null 2>&1" \
    --prepare "rm -rf $OUT/foremost" -n foremost "foremost -Q -q -t zip,rar,jpg,png,gif,bmp -i $IMG -o $OUT/foremost >/dev/null"

python3 - "$OUT/carve.json" "$IMG" <<'EOF'
import json, os, sys
results = {r["command"]: r["mean"] for r in json.load(open(sys.argv[1]))["results"]}
size = os.path.getsize(sys.argv[2])
listing = results["brenvale-cli carve --json"]
print(f"carve listing: {size / listing / 2**30:.2f} GiB/s; writing: {size / results['brenvale-cli carve --to'] / 2**30:.2f} GiB/s; "
      f"photorec takes {results['photorec'] / listing:.2f}x and foremost {results['foremost'] / listing:.2f}x the listing's time")
EOF

# Recall: an archive counts as recovered when some file a tool wrote has its sha256; one that a
# tool wrote whole but with more bytes after it (photorec rounds some up to the sector or runs on
# to the next header) is counted apart, in brackets.
python3 - "$MANIFEST" "$IMG" "$OUT" "$BUILD/carve_recall.md" <<'EOF'
import hashlib, os, sys
manifest, image, out, md = sys.argv[1:]
tools = {"brenvale": "brenvale-cli", "photorec": "photorec", "foremost": "foremost"}
entries = []
with open(image, "rb") as img:
    for line in open(manifest).read().splitlines()[1:]:
        offset, size, sha, ext = line.split("\t")[:4]
        img.seek(int(offset))
        entries.append((int(size), sha, ext, img.read(min(int(size), 512))))
# Candidates for "whole, with more after" are found by their first 512 bytes.
by_head = {}
for e in entries:
    by_head.setdefault(e[3], []).append(e)
tiny = [e for e in entries if e[0] < 512]
exact = {t: set() for t in tools}
longer = {t: set() for t in tools}
written = {t: 0 for t in tools}
for t in tools:
    for folder, _, files in os.walk(os.path.join(out, t)):
        for name in files:
            with open(os.path.join(folder, name), "rb") as f:
                data = f.read()
            written[t] += 1
            exact[t].add(hashlib.sha256(data).hexdigest())
            for size, sha, _, _ in by_head.get(data[:512], []) + tiny:
                if size < len(data) and hashlib.sha256(data[:size]).hexdigest() == sha:
                    longer[t].add(sha)
rows = {}
for size, sha, ext, _ in entries:
    row = rows.setdefault(ext, [0] + [[0, 0] for _ in tools])
    row[0] += 1
    for i, t in enumerate(tools):
        row[i + 1][0] += sha in exact[t]
        row[i + 1][1] += sha not in exact[t] and sha in longer[t]


def cell(c):
    return f"{c[0]} (+{c[1]})" if c[1] else str(c[0])


total = [sum(r[0] for r in rows.values())] + [[sum(r[i][j] for r in rows.values()) for j in (0, 1)] for i in (1, 2, 3)]
lines = ["| extension | in the image | " + " | ".join(tools.values()) + " |", "|---|---|---|---|---|"]
lines += [f"| {ext} | {r[0]} | " + " | ".join(cell(c) for c in r[1:]) + " |" for ext, r in sorted(rows.items())]
lines.append(f"| all | {total[0]} | " + " | ".join(cell(c) for c in total[1:]) + " |")
lines.append("| files written | | " + " | ".join(str(written[t]) for t in tools) + " |")
text = "\n".join(lines) + "\n"
print(text, end="")
open(md, "w").write(text)
EOF

# Peak memory per hit: one listing of the image against one of 64 MiB of random bytes, which
# finds nothing and shows what a run takes whatever the image holds.
RANDOM_IMG="$IMAGES/random64.img"
cat "$RANDOM_IMG" >/dev/null
/usr/bin/time -f %M -o "$OUT/cli.rss" "$CLI" carve "$IMG" --json >"$OUT/hits.json"
/usr/bin/time -f %M -o "$OUT/random.rss" "$CLI" carve "$RANDOM_IMG" --json >"$OUT/random.json"
python3 - "$OUT" <<'EOF'
import json, sys
out = sys.argv[1]
hits = len(json.load(open(f"{out}/hits.json"))["hits"])
empty = len(json.load(open(f"{out}/random.json"))["hits"])
rss, fixed = (int(open(f"{out}/{n}.rss").read()) for n in ("cli", "random"))
per_hit = (rss - fixed) * 1024 / hits if hits else float("nan")
print(f"peak memory: {rss} KiB listing {hits} hits, {fixed} KiB over random bytes ({empty} hits): "
      f"{per_hit:.0f} bytes per hit beyond the fixed cost")
EOF

# Admission bytes: sectors that pass the first look at a signature far more often than random
# ones must not slow the listing by more than a small, fixed factor.
for name in zeros ff pk; do cat "$IMAGES/${name}64.img" >/dev/null; done
hyperfine --warmup 2 --runs 5 --export-markdown "$BUILD/carve_admission.md" --export-json "$OUT/admission.json" \
    -n random "$CLI carve $RANDOM_IMG --json >/dev/null" \
    -n zeros "$CLI carve $IMAGES/zeros64.img --json >/dev/null" \
    -n 0xff "$CLI carve $IMAGES/ff64.img --json >/dev/null" \
    -n "PK\\3\\4" "$CLI carve $IMAGES/pk64.img --json >/dev/null"
python3 - "$OUT/admission.json" <<'EOF'
import json, sys
results = {r["command"]: r["mean"] for r in json.load(open(sys.argv[1]))["results"]}
base = results["random"]
print("admission bytes, time relative to random bytes: "
      + ", ".join(f"{name} {mean / base:.2f}x ({mean * 1000:.1f} ms)" for name, mean in results.items()))
EOF
