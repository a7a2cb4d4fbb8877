#!/usr/bin/env bash
# Makes the fuzz harnesses' seed corpora from the fixture images in a build
# tree: each volume is cut to its first part (boot sector, allocation
# tables, the first MFT records, inode tables or B-tree nodes lie there),
# partition tables and boot sectors are packed close together for the
# volume scans, carving seeds are windows around planted files, and LZNT1
# seeds are compressed here. Output: BUILD/fuzz-corpus-seeds/<harness>/,
# copied into BUILD/fuzz-corpus/<harness>/ (the corpus run.sh grows).
# The fixture images are BUILD/fixtures, or $SALVAGE_FIXTURES.
#
#   tests/fuzz/make_seeds.sh build/fuzz
set -euo pipefail
build="$(cd "${1:?usage: make_seeds.sh BUILD_DIR}" && pwd)"
fixtures="${SALVAGE_FIXTURES:-$build/fixtures}"
[ -d "$fixtures" ] || { echo "make_seeds.sh: no fixtures in $fixtures (build the fixtures target)" >&2; exit 1; }
python3 - "$fixtures" "$build" <<'PY'
import os, struct, sys, hashlib, glob

fixtures, build = sys.argv[1], sys.argv[2]
seeds = os.path.join(build, "fuzz-corpus-seeds")
CUTS = (64 << 10, 256 << 10)  # the volume harnesses' max_len is 256 KiB

def put(harness, data, tag):
    d = os.path.join(seeds, harness)
    os.makedirs(d, exist_ok=True)
    name = "%s-%s" % (tag, hashlib.sha1(data).hexdigest()[:12])
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)

def read(path, off, n):
    with open(path, "rb") as f:
        f.seek(off)
        return f.read(n)

def kind(path, off):
    b = read(path, off, 2048)
    if len(b) < 1536: return None
    if b[3:11] == b"NTFS    ": return "ntfs"
    if b[3:11] == b"EXFAT   ": return "exfat"
    if b[82:87] == b"FAT32": return "fat32"
    if b[54:59] in (b"FAT16", b"FAT12"): return "fat16"
    if b[1080:1082] == b"\x53\xef": return "ext"
    if b[1024:1026] in (b"H+", b"HX"): return "hfsplus"
    return None

def partitions(path):
    """Volume starts (bytes) from an MBR with its extended chain, or a GPT."""
    out = []
    mbr = read(path, 0, 512)
    if len(mbr) < 512 or mbr[510:512] != b"\x55\xaa": return out
    if mbr[450] == 0xEE:
        hdr = read(path, 512, 512)
        if hdr[:8] == b"EFI PART":
            lba, count, size = struct.unpack_from("<QII", hdr, 72)
            table = read(path, lba * 512, count * size)
            for i in range(count):
                e = table[i * size:(i + 1) * size]
                if len(e) < 48 or e[:16] == bytes(16): continue
                out.append(struct.unpack_from("<Q", e, 32)[0] * 512)
        return out
    ext = None
    for i in range(4):
        t = mbr[446 + 16 * i + 4]
        start = struct.unpack_from("<I", mbr, 446 + 16 * i + 8)[0]
        if t in (5, 0xF, 0x85): ext = start
        elif t: out.append(start * 512)
    at, hops = ext, 0
    while at and hops < 50:
        ebr = read(path, at * 512, 512)
        if len(ebr) < 512 or ebr[510:512] != b"\x55\xaa": break
        rel = struct.unpack_from("<I", ebr, 454)[0]
        if ebr[450]: out.append((at + rel) * 512)
        nxt = struct.unpack_from("<I", ebr, 470)[0]
        at, hops = (ext + nxt if nxt else None), hops + 1
    return out

HARNESSES = {
    "ntfs": ["ntfs", "ntfs_advanced", "ntfs_deep"],
    "fat16": ["fat16", "fat16_advanced"],
    "fat32": ["fat32", "fat32_advanced", "fat32_formatted"],
    "exfat": ["exfat", "exfat_advanced"],
    "ext": ["ext"],
    "hfsplus": ["hfsplus", "hfsplus_search"],
}

volumes = []  # (kind, path, offset)
images = sorted(p for p in glob.glob(os.path.join(fixtures, "*.img")) if os.path.isfile(p))
for img in images:
    k = kind(img, 0)
    if k:
        volumes.append((k, img, 0))
    for off in partitions(img):
        k = kind(img, off)
        if k: volumes.append((k, img, off))

# Damaged NTFS volumes (boot sector zeroed or wrecked) are what the
# Advanced and Deep modes are for.
for img in images:
    base = os.path.basename(img)
    if base.startswith("ntfs_") and not kind(img, 0) and not partitions(img):
        for cut in CUTS:
            for h in ("ntfs_advanced", "ntfs_deep"):
                put(h, read(img, 0, cut), "%s-%dk" % (base.replace(".img", ""), cut >> 10))

# Volume harnesses: each volume cut at three lengths.
for k, img, off in volumes:
    tag = "%s@%d" % (os.path.basename(img).replace(".img", ""), off // 512)
    for cut in CUTS:
        for h in HARNESSES[k]:
            put(h, read(img, off, cut), "%s-%dk" % (tag, cut >> 10))

# exFAT puts its FAT and cluster heap on 1 MiB boundaries, past a 256 KiB
# cut: move them forward (FAT right behind the boot regions, the heap
# right behind the FAT) and keep the first clusters of the heap.
def compact_exfat(img, off):
    b = bytearray(read(img, off, 24 * 512))
    fat_off, fat_len, heap = struct.unpack_from("<III", b, 80)
    spc = 1 << b[109]
    fat = read(img, off + fat_off * 512, fat_len * 512)
    new_fat = 24
    new_heap = -(-(new_fat + fat_len) // spc) * spc
    struct.pack_into("<I", b, 80, new_fat)
    struct.pack_into("<I", b, 88, new_heap)
    head = bytes(b).ljust(new_fat * 512, b"\0") + fat
    head = head.ljust(new_heap * 512, b"\0")
    return head + read(img, off + heap * 512, (256 << 10) - len(head))

for k, img, off in volumes:
    if k == "exfat":
        for h in HARNESSES[k]:
            put(h, compact_exfat(img, off), "%s@%d-compact" % (os.path.basename(img).replace(".img", ""), off // 512))


# Partition scans: the tables themselves, and every volume's first sectors
# packed 32 KiB apart behind a copy of the disk's table sectors.
for img in images:
    if partitions(img):
        put("partitions", read(img, 0, 64 << 10), os.path.basename(img) + "-tables")
packed = bytearray()
for k, img, off in volumes:
    packed += read(img, off, 8192).ljust(32 << 10, b"\0")
    if len(packed) >= (512 << 10) - (32 << 10): break
put("partitions", bytes(packed), "packed-boot-sectors")
for k, img, off in volumes:
    put("partitions", bytes(4096) + read(img, off, 8192), "one-%s" % k)

# Carving: windows of the carving fixture around each sector that starts
# with a known signature, with the default settings (flag 1, no user file),
# and once with a few default records as a user settings file.
carve = os.path.join(fixtures, "carve_volume.img")
settings = os.path.join(build, "FileSetting.txt")
user = read(settings, 0, 171 * 6) if os.path.exists(settings) else b""
if os.path.exists(carve):
    size = os.path.getsize(carve)
    starts = (b"\xff\xd8\xff", b"\x89PNG", b"GIF8", b"%PDF", b"PK\x03\x04", b"II*\0", b"MM\0*", b"\x1f\x8b",
              b"BM", b"RIFF", b"7z\xbc\xaf", b"SQLite format 3")
    seen = set()
    with open(carve, "rb") as f:
        for sector in range(0, size, 512):
            f.seek(sector)
            head = f.read(16)
            for s in starts:
                if head.startswith(s) and s not in seen:
                    seen.add(s)
                    window = read(carve, sector, 192 << 10)
                    put("carve", b"\x01\0\0" + window, "default-%s" % s[:4].hex())
                    if user:
                        put("carve", b"\x00" + struct.pack("<H", len(user)) + user + window, "user-%s" % s[:4].hex())
    put("carve", b"\x01\0\0" + read(carve, 0, 256 << 10), "head")

# LZNT1: streams compressed here from text and patterned data, with the
# output capacity in front (the harness's first two bytes).
def lznt1(data):
    out = bytearray()
    for c0 in range(0, len(data), 4096):
        chunk = data[c0:c0 + 4096]
        body, i = bytearray(), 0
        while i < len(chunk):
            flags, group = 0, bytearray()
            for bit in range(8):
                if i >= len(chunk): break
                # Offset/length split depends on the position in the chunk.
                bits = max(4, (i - 1).bit_length()) if i > 1 else 4
                maxlen, best, bestoff = (1 << (16 - bits)) + 2, 0, 0
                for back in range(1, min(i, 1 << bits) + 1):
                    n = 0
                    while n < maxlen and i + n < len(chunk) and chunk[i + n - back] == chunk[i + n]:
                        n += 1
                    if n > best: best, bestoff = n, back
                    if best >= 32: break
                if best >= 3:
                    flags |= 1 << bit
                    group += struct.pack("<H", ((bestoff - 1) << (16 - bits)) | (best - 3))
                    i += best
                else:
                    group.append(chunk[i]); i += 1
            body += bytes([flags]) + group
        out += struct.pack("<H", 0xB000 | (len(body) + 2 - 3)) + body
    return bytes(out)

texts = [b"salvage " * 200, bytes(range(256)) * 8, b"hello from salvage\n" * 50 + b"\0" * 2000,
         (b"abcdefghij" * 500)[:4096] + b"xyz" * 100]
for t in texts:
    cap = min(len(t), 65535)
    put("lznt1", struct.pack("<H", cap) + lznt1(t), "text")
    put("lznt1", struct.pack("<H", cap // 2) + lznt1(t), "short")

# The EWF reader: the compressed single-segment fixture whole (it fits the
# input cap), and cut inside its sections.
ewfx = os.path.join(fixtures, "mbr_ewfx.e01")
if os.path.exists(ewfx) and os.path.getsize(ewfx) <= 262144:
    whole = read(ewfx, 0, 262144)
    put("ewf", whole, "ewfx")
    put("ewf", whole[:len(whole) // 2], "ewfx-cut")
# The export path: the disk's first 64 KiB behind a fault header (chunk
# shift, flags, fault count, then 6 bytes per fault: kind, 3-byte offset,
# 2-byte length - 1).
disk = os.path.join(fixtures, "mbr_disk.img")
if os.path.exists(disk):
    media = read(disk, 0, 65536)
    put("export", bytes([3, 0, 0]) + media, "clean")
    put("export", bytes([3, 1, 2, 0]) + (40000).to_bytes(3, "little") + (99).to_bytes(2, "little")
        + bytes([1]) + (512).to_bytes(3, "little") + (511).to_bytes(2, "little") + media, "faults")

count = {h: len(os.listdir(os.path.join(seeds, h))) for h in sorted(os.listdir(seeds))}
print("seeds:", ", ".join("%s %d" % kv for kv in count.items()))
PY
# Seed each harness's run corpus (run.sh grows it; existing units stay).
for d in "$build"/fuzz-corpus-seeds/*/; do
  h="$(basename "$d")"
  mkdir -p "$build/fuzz-corpus/$h"
  cp -n "$d"/* "$build/fuzz-corpus/$h/" 2>/dev/null || true
done
