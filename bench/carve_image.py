#!/usr/bin/env python3
"""Places archives into an image that already holds its background bytes, for the carve benchmark.

    usage: bench/carve_image.py IMAGE MANIFEST [SEED]

Writes real archives made by their own tools and libraries (zip through zipfile, also streamed so
that the entries carry data descriptors; docx and xlsx when python-docx and openpyxl are there;
jar through fastjar when it is there; tar in ustar and GNU formats; gzip and bzip2 at several
levels; cab through gcab; RAR 4 with stored entries written here byte by byte; CAD models exported
by assimp and mbox files through mailbox) at random sector
starts, not overlapping, until about half of the image is covered, and lists them in MANIFEST
(offset, size, sha256, extension, first member). Everything that decides the layout comes from
the seed; the bytes between the archives are left as they are.
"""
import hashlib
import io
import os
import random
import shutil
import struct
import subprocess
import sys
import tarfile
import tempfile
import zipfile
import zlib

SECTOR = 512
MIN_CONTENT = 4 << 10
MAX_CONTENT = 8 << 20
# A fixed time for every member, so that the bytes depend on the seed alone where the tools allow.
MTIME = 1_700_000_000

try:
    import docx  # python3-docx
except ImportError:
    docx = None
try:
    import openpyxl  # python3-openpyxl
except ImportError:
    openpyxl = None

WORDS = ("recovery sector cluster volume archive member header offset length checksum folder "
         "invoice report meeting quarterly budget customer delivery schedule project draft "
         "the of and to in is for on with as by at from that this be are was it or an").split()


class Gen:
    def __init__(self, seed):
        self.rng = random.Random(seed)
        self.seed = seed
        self.serial = 0
        lines = []
        size = 0
        # One pool of text that every text member is cut from: generating words per member
        # would make the larger samples take seconds each.
        while size < (2 << 20):
            n = self.rng.randint(4, 16)
            line = " ".join(self.rng.choice(WORDS) for _ in range(n)).capitalize() + ".\n"
            lines.append(line)
            size += len(line)
        self.pool = "".join(lines).encode()

    def text(self, n):
        self.serial += 1
        out = [f"brenvale carve sample {self.serial}\n".encode()]
        have = len(out[0])
        while have < n:
            start = self.rng.randrange(len(self.pool) - 4096)
            piece = self.pool[start:start + min(n - have, self.rng.randint(4096, 65536))]
            out.append(piece)
            have += len(piece)
        return b"".join(out)[:n]

    def random(self, n):
        # shake_256 is several times faster than random.randbytes and just as repeatable.
        self.serial += 1
        return hashlib.shake_256(f"{self.seed}/{self.serial}".encode()).digest(n)

    def content(self, n):
        return self.text(n) if self.rng.random() < 0.5 else self.random(n)

    def size(self, lo=MIN_CONTENT, hi=MAX_CONTENT):
        # Log-uniform: as many small files as large ones per size octave.
        return int(lo * (hi / lo) ** self.rng.random())

    def split(self, total, parts):
        cuts = sorted(self.rng.randint(1, max(1, total - 1)) for _ in range(parts - 1))
        edges = [0] + cuts + [total]
        return [max(1, b - a) for a, b in zip(edges, edges[1:])]

    def name(self, ext, long=False):
        base = f"{self.rng.choice(WORDS)}_{self.serial:05d}"
        if long:
            base = "/".join(["very long folder name for the archive member"] * 2) + "/" + base
        return f"{base}.{ext}"


class Unseekable(io.RawIOBase):
    """A write-only stream: zipfile then writes each entry with a data descriptor after its data."""

    def __init__(self):
        self.buf = io.BytesIO()

    def writable(self):
        return True

    def write(self, b):
        return self.buf.write(b)


def members(g, total, most=6):
    count = g.rng.randint(1, most)
    return [(g.name(g.rng.choice(["txt", "bin", "csv", "dat"])), g.content(n)) for n in g.split(total, count)]


def make_zip(g, work, mode):
    total = g.size()
    entries = members(g, total)
    method = zipfile.ZIP_STORED if mode == "stored" else zipfile.ZIP_DEFLATED
    sink = Unseekable() if mode == "stream" else io.BytesIO()
    with zipfile.ZipFile(sink, "w", method, compresslevel=g.rng.choice([1, 6, 9]) if method else None) as z:
        for name, data in entries:
            z.writestr(zipfile.ZipInfo(name, (2024, 5, 17, 10, 30, 0)), data, compress_type=method)
        if g.rng.random() < 0.2:
            z.comment = b"archive comment " * g.rng.randint(1, 8)
    out = sink.buf.getvalue() if mode == "stream" else sink.getvalue()
    return out, "zip", entries[0][0]


def make_docx(g, work):
    d = docx.Document()
    total = g.size(MIN_CONTENT, 512 << 10)
    text = g.text(total).decode()
    for para in text.split("\n"):
        if para:
            d.add_paragraph(para)
    out = io.BytesIO()
    d.save(out)
    data = out.getvalue()
    return data, "docx", zipfile.ZipFile(io.BytesIO(data)).infolist()[0].filename


def make_xlsx(g, work):
    wb = openpyxl.Workbook(write_only=True)
    ws = wb.create_sheet("Data")
    rows = g.rng.randint(50, 4000)
    for r in range(rows):
        ws.append([r, g.rng.random(), g.rng.choice(WORDS), g.rng.randint(0, 10**9)])
    out = io.BytesIO()
    wb.save(out)
    data = out.getvalue()
    return data, "xlsx", zipfile.ZipFile(io.BytesIO(data)).infolist()[0].filename


def write_files(work, entries):
    names = []
    for name, data in entries:
        path = os.path.join(work, name)
        with open(path, "wb") as f:
            f.write(data)
        os.utime(path, (MTIME, MTIME))
        names.append(name)
    return names


def run(args, cwd):
    return subprocess.run(args, cwd=cwd, check=True, stdout=subprocess.PIPE).stdout


def make_jar(g, work):
    entries = [(g.name("class"), g.random(n)) for n in g.split(g.size(), g.rng.randint(1, 6))]
    entries.append((g.name("properties"), g.text(g.rng.randint(200, 4000))))
    names = write_files(work, entries)
    run(["fastjar", "-cf", "out.jar"] + names, work)
    with open(os.path.join(work, "out.jar"), "rb") as f:
        data = f.read()
    return data, "jar", zipfile.ZipFile(io.BytesIO(data)).infolist()[0].filename


def make_tar(g, work, fmt):
    entries = members(g, g.size())
    out = io.BytesIO()
    with tarfile.open(fileobj=out, mode="w", format=fmt) as t:
        for i, (name, data) in enumerate(entries):
            # GNU archives get a name too long for the header, so they carry a long-name entry.
            if fmt == tarfile.GNU_FORMAT and i == 0:
                name = g.name("txt", long=True)
                entries[0] = (name, data)
            info = tarfile.TarInfo(name)
            info.size = len(data)
            info.mtime = MTIME
            info.mode = 0o644
            t.addfile(info, io.BytesIO(data))
    return out.getvalue(), "tar", entries[0][0]


def make_gz(g, work):
    name = g.name("txt")
    write_files(work, [(name, g.content(g.size()))])
    level = g.rng.choice([1, 6, 9])
    keep_name = g.rng.random() < 0.7
    data = run(["gzip", "-c", f"-{level}"] + ([] if keep_name else ["-n"]) + [name], work)
    return data, "gz", name if keep_name else ""


def make_bz2(g, work):
    name = g.name("txt")
    write_files(work, [(name, g.content(g.size()))])
    data = run(["bzip2", "-c", f"-{g.rng.choice([1, 5, 9])}", name], work)
    return data, "bz2", ""


def make_cab(g, work):
    entries = members(g, g.size())
    names = write_files(work, entries)
    run(["gcab", "-c"] + (["-z"] if g.rng.random() < 0.6 else []) + ["out.cab"] + names, work)
    with open(os.path.join(work, "out.cab"), "rb") as f:
        return f.read(), "cab", names[0]


def rar_block(kind, flags, body, add=b""):
    # CRC (low half of crc32 from the type byte on), type, flags, header size, then the rest.
    rest = struct.pack("<BHH", kind, flags, 7 + len(add) + len(body)) + add + body
    return struct.pack("<H", zlib.crc32(rest) & 0xFFFF) + rest


def make_rar(g, work):
    entries = members(g, g.size(), most=4)
    out = [b"Rar!\x1a\x07\x00", rar_block(0x73, 0, b"\x00" * 6)]
    for name, data in entries:
        raw = name.encode()
        year, month, day = 2020 + g.rng.randrange(5), g.rng.randint(1, 12), g.rng.randint(1, 28)
        dostime = ((year - 1980) << 25) | (month << 21) | (day << 16) | (g.rng.randrange(24) << 11) | (g.rng.randrange(60) << 5)
        body = struct.pack("<IBIIBBHI", len(data), 2, zlib.crc32(data), dostime, 29, 0x30, len(raw), 0x20) + raw
        out.append(rar_block(0x74, 0x8000, body, struct.pack("<I", len(data))))
        out.append(data)
    out.append(rar_block(0x7B, 0x4000, b""))
    return b"".join(out), "rar", entries[0][0]


# Pictures: the ones Debian packages put on the machine (icons, documentation images) as they
# are, and photos ImageMagick makes from seeded noise as JPEG (baseline and progressive), BMP and
# TIFF (plain and LZW).
SYSTEM_PICTURES = sorted(
    str(p) for root in ("/usr/share", "/usr/lib") for ext in ("png", "gif", "jpg")
    for p in __import__("pathlib").Path(root).rglob(f"*.{ext}")
    if p.is_file() and not p.is_symlink() and p.stat().st_size >= 2048
) if os.path.exists("/usr/bin/convert") else []


def make_system_picture(g, work):
    path = g.rng.choice(SYSTEM_PICTURES)
    with open(path, "rb") as f:
        data = f.read()
    return data, path.rsplit(".", 1)[1], os.path.basename(path)


def make_photo(g, work):
    kind = g.rng.choice(["jpg", "jpg-progressive", "bmp", "tif", "tif-lzw"])
    w, h = g.rng.choice([(320, 240), (640, 480), (800, 600), (1024, 768)])
    out = os.path.join(work, "photo." + kind.split("-")[0])
    args = ["/usr/bin/convert", "-seed", str(g.rng.randint(1, 10**6)), "-size", f"{w}x{h}", "plasma:fractal"]
    if kind == "jpg-progressive":
        args += ["-interlace", "Plane"]
    if kind.startswith("jpg"):
        args += ["-quality", str(g.rng.choice([75, 85, 95]))]
    if kind == "tif-lzw":
        args += ["-compress", "lzw"]
    if kind == "bmp":
        out = "BMP3:" + out
    subprocess.run(args + [out], check=True, cwd=work)
    path = out.split(":", 1)[-1]
    with open(path, "rb") as f:
        return f.read(), kind.split("-")[0], ""


def make_model(g, work):
    # A height field of random size exported by assimp in one of the CAD formats the scan measures.
    n = g.rng.randint(8, 60)
    lines = [f"v {x} {y} {g.rng.random():.4f}" for y in range(n + 1) for x in range(n + 1)]
    for y in range(n):
        for x in range(n):
            a = y * (n + 1) + x + 1
            lines.append(f"f {a} {a + 1} {a + n + 2} {a + n + 1}")
    obj = os.path.join(work, "model.obj")
    with open(obj, "w") as f:
        f.write("\n".join(lines) + "\n")
    ext, fmt = g.rng.choice([("fbx", "fbx"), ("stl", "stl"), ("stp", "stp"), ("3ds", "3ds")])
    out = os.path.join(work, "model." + ext)
    subprocess.run(["assimp", "export", obj, out, "-f" + fmt], check=True, cwd=work, stdout=subprocess.DEVNULL)
    with open(out, "rb") as f:
        return f.read(), ext, ""


def make_mbox(g, work):
    import mailbox
    path = os.path.join(work, "mail.mbox")
    box = mailbox.mbox(path)
    for i in range(g.rng.randint(1, 40)):
        m = mailbox.mboxMessage()
        m.set_from(f"user{g.rng.randint(1, 999)}@mail.example.org", __import__("time").gmtime(MTIME + i * 60))
        m["Subject"] = f"Message {i}"
        m.set_payload(g.text(g.rng.randint(200, 20000)).decode("ascii", "replace"))
        box.add(m)
    box.flush()
    box.close()
    with open(path, "rb") as f:
        return f.read(), "mbox", ""


def kinds():
    k = [
        (20, lambda g, w: make_zip(g, w, "deflated")),
        (10, lambda g, w: make_zip(g, w, "stream")),
        (5, lambda g, w: make_zip(g, w, "stored")),
        (8, lambda g, w: make_tar(g, w, tarfile.USTAR_FORMAT)),
        (8, lambda g, w: make_tar(g, w, tarfile.GNU_FORMAT)),
        (14, make_gz),
        (8, make_bz2),
        (8, make_cab),
        (10, make_rar),
    ]
    if docx:
        k.append((4, make_docx))
    if openpyxl:
        k.append((4, make_xlsx))
    if shutil.which("fastjar"):
        k.append((4, make_jar))
    if shutil.which("assimp"):
        k.append((6, make_model))
    k.append((3, make_mbox))
    if SYSTEM_PICTURES:
        k.append((20, make_system_picture))
        k.append((20, make_photo))
    return k


def main():
    image, manifest = sys.argv[1], sys.argv[2]
    seed = int(sys.argv[3]) if len(sys.argv) > 3 else 20261210
    g = Gen(seed)
    size = os.path.getsize(image)
    table = kinds()
    weights = [w for w, _ in table]
    samples = []
    covered = 0
    with tempfile.TemporaryDirectory(prefix="brenvale-carve-gen-") as tmp:
        while covered < size // 2:
            work = os.path.join(tmp, str(len(samples)))
            os.mkdir(work)
            make = g.rng.choices([f for _, f in table], weights)[0]
            data, ext, first = make(g, work)
            shutil.rmtree(work)
            if covered + len(data) > size * 0.55 and samples:
                break
            samples.append((data, ext, first))
            covered += -(-len(data) // SECTOR) * SECTOR
    # The free sectors are split into random gaps before, between and after the archives.
    free = size // SECTOR - sum(-(-len(d) // SECTOR) for d, _, _ in samples)
    cuts = sorted(g.rng.randint(0, free) for _ in samples)
    rows = []
    sector = 0
    previous_cut = 0
    with open(image, "r+b") as f:
        for (data, ext, first), cut in zip(samples, cuts):
            sector += cut - previous_cut
            previous_cut = cut
            f.seek(sector * SECTOR)
            f.write(data)
            rows.append((sector * SECTOR, len(data), hashlib.sha256(data).hexdigest(), ext, first))
            sector += -(-len(data) // SECTOR)
    with open(manifest, "w") as m:
        m.write("offset\tsize\tsha256\text\tfirst_member\n")
        for row in rows:
            m.write("\t".join(map(str, row)) + "\n")
    by_ext = {}
    for row in rows:
        by_ext[row[3]] = by_ext.get(row[3], 0) + 1
    print(f"{len(rows)} files, {sum(r[1] for r in rows)} bytes of {size}: "
          + ", ".join(f"{k} {v}" for k, v in sorted(by_ext.items())))


if __name__ == "__main__":
    main()
