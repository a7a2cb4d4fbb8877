#!/usr/bin/env bash
# Makes a large NTFS volume for measuring how much memory and time a parse of
# a big MFT takes: about COUNT in-use FILE records (default 2,000,000) in a
# sparse image (5 GiB, about 2 GiB of it written for two million records, in
# about half a minute).
#
# Writing two million files through ntfs-3g would take hours, so the volume is
# made from real records instead: mkntfs formats a sparse file, ntfs-3g writes
# a folder and a small resident file, and those two records are the templates.
# The clones are written into one contiguous free area of the volume, each a
# whole record with its own number in the header, fix-ups applied, sequence
# number 1 and a $FILE_NAME naming it and its parent:
#   ROOT\d0001\s00012\f0000123.txt
# (about sqrt(COUNT/1000) top folders "dNNNN" under the root, COUNT/1000
# folders "sNNNNN" spread over them, the rest files "fNNNNNNN.txt" of about
# 1,000 per folder). The $MFT record's unnamed $DATA gets the area as a second
# run (allocated, real and initialised sizes to match), its $BITMAP is moved
# to new clusters and marks every clone in use, and the volume's $Bitmap marks
# the clusters taken. The $MFTMirr is left as mkntfs wrote it, so ntfs-3g
# refuses to mount the result ("$MFTMirr does not match $MFT"); readers of
# the image itself do not compare the two.
#
# What it does not do: the folders' $I30 indexes do not list the clones
# (folder clones carry an empty index root), so a reader that walks only the
# indexes sees the template folder under the root and nothing else. Salvage
# links its tree from the $FILE_NAME parent references and lists every clone;
# fls -r -p lists them too, as names found in records rather than in an
# index ("-/r" and "-/d" rows).
#
# Needs: mkntfs and ntfs-3g (Debian package ntfs-3g), python3, root (FUSE).
# usage: make_ntfs_synthetic_image.sh OUT.img [COUNT]
# Measure, e.g.:
#   bench/make_ntfs_synthetic_image.sh /work/bench-img/synthetic_ntfs_2m.img
#   /usr/bin/time -f '%M KB %e s' salvage ls IMG -r --json >/dev/null
#   salvage ls IMG -r --json | grep -c '"record":'     (rows listed)
#   fls -r -p IMG | wc -l                               (second opinion)
set -euo pipefail
out="${1:?usage: make_ntfs_synthetic_image.sh OUT.img [COUNT]}"
count="${2:-2000000}"
export PATH="$PATH:/usr/sbin:/sbin"
for tool in mkntfs ntfs-3g python3; do
  command -v "$tool" >/dev/null || { echo "needs $tool (apt-get install ntfs-3g python3)" >&2; exit 2; }
done
[[ "$count" =~ ^[0-9]+$ ]] && (( count >= 1000 && count <= 9000000 )) ||
  { echo "COUNT must be 1000..9000000" >&2; exit 2; }

# The clone area (COUNT KiB) must fit in one free stretch; mkntfs puts the
# MFT mirror in the middle of the volume, so each half gets room for it.
gib=$(( (count * 1024 * 5 / 2) / (1 << 30) + 1 ))
mnt="$(mktemp -d)"
trap 'umount "$mnt" 2>/dev/null || true; rmdir "$mnt"; rm -f "$mnt.log"' EXIT
rm -f "$out"
truncate -s "${gib}G" "$out"
# mkntfs warns on stderr that a file has no geometry; shown only on failure.
mkntfs -q -F -f -c 4096 "$out" 2>"$mnt.log" || { cat "$mnt.log" >&2; exit 1; }
ntfs-3g "$out" "$mnt"
mkdir "$mnt/template_folder"
echo "template file" > "$mnt/template_folder/template_file.txt"
sync
umount "$mnt"

python3 - "$out" "$count" <<'PY'
import math, os, struct, sys

path, count = sys.argv[1], int(sys.argv[2])
fd = os.open(path, os.O_RDWR)

def pread(off, n):
    return os.pread(fd, n, off)

boot = pread(0, 512)
assert boot[3:11] == b'NTFS    ', 'not an NTFS boot sector'
sector = struct.unpack_from('<H', boot, 0x0B)[0]
cluster = sector * boot[0x0D]
mft_lcn = struct.unpack_from('<Q', boot, 0x30)[0]
rec_size = 1024
assert struct.unpack_from('<b', boot, 0x40)[0] == -10, 'expects 1 KiB records'

def unfix(rec):
    """Puts back the sector-end bytes the update sequence array saved."""
    rec = bytearray(rec)
    usa_off, usa_cnt = struct.unpack_from('<HH', rec, 4)
    usn = rec[usa_off:usa_off + 2]
    for i in range(1, usa_cnt):
        end = i * 512
        assert rec[end - 2:end] == usn, 'torn record'
        rec[end - 2:end] = rec[usa_off + 2 * i:usa_off + 2 * i + 2]
    return rec

def fix(rec):
    """Saves each sector's last two bytes in the update sequence array and
    writes the update sequence number there."""
    rec = bytearray(rec)
    usa_off, usa_cnt = struct.unpack_from('<HH', rec, 4)
    usn = rec[usa_off:usa_off + 2]
    for i in range(1, usa_cnt):
        end = i * 512
        rec[usa_off + 2 * i:usa_off + 2 * i + 2] = rec[end - 2:end]
        rec[end - 2:end] = usn
    return rec

def attributes(rec):
    """(offset, type, length) of each attribute up to the end marker."""
    off = struct.unpack_from('<H', rec, 0x14)[0]
    while off + 8 <= len(rec):
        t, n = struct.unpack_from('<II', rec, off)
        if t == 0xFFFFFFFF or n < 16:
            return
        yield off, t, n
        off += n

def runs_of(attr):
    """(lcn, clusters) of a non-resident attribute's mapping pairs."""
    pos = struct.unpack_from('<H', attr, 0x20)[0]
    lcn, out = 0, []
    while pos < len(attr) and attr[pos]:
        h = attr[pos]
        ln, lo = h & 0xF, h >> 4
        length = int.from_bytes(attr[pos + 1:pos + 1 + ln], 'little')
        delta = int.from_bytes(attr[pos + 1 + ln:pos + 1 + ln + lo], 'little', signed=True)
        assert lo, 'sparse run in a system file'
        lcn += delta
        out.append((lcn, length))
        pos += 1 + ln + lo
    return out

def encode_runs(runs):
    def signed(v):
        n = 1
        while not -(1 << (8 * n - 1)) <= v < (1 << (8 * n - 1)):
            n += 1
        return v.to_bytes(n, 'little', signed=True)
    out, prev = bytearray(), 0
    for lcn, length in runs:
        lb, ob = signed(length), signed(lcn - prev)
        out += bytes([len(ob) << 4 | len(lb)]) + lb + ob
        prev = lcn
    return bytes(out) + b'\0'

def read_runs(runs, size):
    data = b''.join(pread(l * cluster, n * cluster) for l, n in runs)
    return bytearray(data[:size])

def write_runs(runs, data):
    pos = 0
    for l, n in runs:
        os.pwrite(fd, bytes(data[pos:pos + n * cluster]), l * cluster)
        pos += n * cluster

def nonresident_size(attr):
    return struct.unpack_from('<Q', attr, 0x30)[0]

mft0 = unfix(pread(mft_lcn * cluster, rec_size))
mft_attrs = {t: bytearray(mft0[o:o + n]) for o, t, n in attributes(mft0)}
mft_runs = runs_of(mft_attrs[0x80])

def read_record(number):
    off = number * rec_size
    for lcn, n in mft_runs:
        if off < n * cluster:
            return unfix(pread(lcn * cluster + off, rec_size))
        off -= n * cluster
    raise IndexError(number)

def file_name(rec):
    for o, t, n in attributes(rec):
        if t == 0x30:
            v = o + struct.unpack_from('<H', rec, o + 0x14)[0]
            return rec[v + 0x42:v + 0x42 + 2 * rec[v + 0x40]].decode('utf-16-le')
    return None

old_records = sum(n for _, n in mft_runs) * cluster // rec_size
templates = {}
for number in range(24, old_records):
    rec = read_record(number)
    if rec[:4] == b'FILE':
        templates[file_name(rec)] = rec
folder_tpl, file_tpl = templates['template_folder'], templates['template_file.txt']

def clone_template(tpl, name_len):
    """The template record with a $FILE_NAME of name_len characters and the
    offsets to patch: (record bytes with fix-ups applied, name offset, parent
    offset). Folders keep an empty index root."""
    attrs = []
    for o, t, n in attributes(tpl):
        a = bytearray(tpl[o:o + n])
        if t == 0x30:
            v = struct.unpack_from('<H', a, 0x14)[0]
            value = a[v:v + 0x42] + b'\0' * (2 * name_len)
            value[0x40] = name_len
            a = a[:v] + value
            struct.pack_into('<I', a, 0x10, len(value))
        elif t == 0x90:
            # An index root holding only the end entry.
            v = struct.unpack_from('<H', a, 0x14)[0]
            root = a[v:v + 16]
            node = bytearray(struct.pack('<IIII', 16, 32, 32, 0))
            end = struct.pack('<QHHHH', 0, 16, 0, 2, 0)
            a = a[:v] + root + node + end
            struct.pack_into('<I', a, 0x10, len(a) - v)
        a += b'\0' * (-len(a) % 8)
        struct.pack_into('<I', a, 4, len(a))
        attrs.append((t, a))
    first = struct.unpack_from('<H', tpl, 0x14)[0]
    rec = bytearray(tpl[:first])
    name_off = parent_off = None
    for t, a in attrs:
        if t == 0x30:
            v = len(rec) + struct.unpack_from('<H', a, 0x14)[0]
            parent_off, name_off = v, v + 0x42
        rec += a
    rec += b'\xff\xff\xff\xff\0\0\0\0'
    assert len(rec) <= rec_size
    struct.pack_into('<I', rec, 0x18, len(rec))
    struct.pack_into('<H', rec, 0x10, 1)  # sequence number
    struct.pack_into('<H', rec, 0x12, 1)  # one link
    rec += b'\0' * (rec_size - len(rec))
    # The patched fields must lie clear of the sector ends the fix-ups swap.
    for lo, hi in ((0x2C, 0x30), (parent_off, parent_off + 8), (name_off, name_off + 2 * name_len)):
        assert all(hi <= e or lo >= e + 2 for e in range(510, rec_size, 512))
    return fix(rec), name_off, parent_off

# The tree: top folders under the root, leaf folders under them, files in
# the leaf folders (runs of consecutive records per folder).
leaves = max(1, count // 1000)
tops = max(1, round(math.sqrt(leaves)))
files = count - leaves - tops
first_new = old_records
total_records = first_new + count
new_clusters = (count * rec_size + cluster - 1) // cluster
bitmap_bytes = ((total_records + 7) // 8 + 7) // 8 * 8
bitmap_clusters = (bitmap_bytes + cluster - 1) // cluster

# A free stretch for the clones and the MFT's new bitmap, from the volume's
# $Bitmap (record 6).
vbm_rec = read_record(6)
vbm_attr = next(vbm_rec[o:o + n] for o, t, n in attributes(vbm_rec) if t == 0x80)
vbm_runs = runs_of(vbm_attr)
vbm = read_runs(vbm_runs, nonresident_size(vbm_attr))
need = new_clusters + bitmap_clusters
at = vbm.find(b'\0' * ((need + 7) // 8 + 1))
assert at >= 0, 'no free stretch large enough'
area = (at + 1) * 8  # byte-aligned start: a whole free byte precedes it
volume_clusters = struct.unpack_from('<Q', boot, 0x28)[0] * sector // cluster
assert area + need <= volume_clusters, 'no free stretch large enough'
for c in range(area, area + need):
    vbm[c >> 3] |= 1 << (c & 7)
bitmap_lcn = area + new_clusters

# Clone records, written in pieces of 16 MiB.
tpls = {
    'top': clone_template(folder_tpl, 5),
    'leaf': clone_template(folder_tpl, 6),
    'file': clone_template(file_tpl, 12),
}
root_ref = 5 | 5 << 48
def ref(n):
    return n | 1 << 48
top0, leaf0, file0 = first_new, first_new + tops, first_new + tops + leaves
piece = 16384
for start in range(0, count, piece):
    n = min(piece, count - start)
    buf = bytearray(n * rec_size)
    for k in range(n):
        i = start + k
        number = first_new + i
        if i < tops:
            kind, name, parent = 'top', 'd%04d' % i, root_ref
        elif i < tops + leaves:
            j = i - tops
            kind, name, parent = 'leaf', 's%05d' % j, ref(top0 + j % tops)
        else:
            j = i - tops - leaves
            kind, name, parent = 'file', 'f%07d.txt' % j, ref(leaf0 + j * leaves // files)
        rec, name_off, parent_off = tpls[kind]
        o = k * rec_size
        buf[o:o + rec_size] = rec
        struct.pack_into('<I', buf, o + 0x2C, number)
        struct.pack_into('<Q', buf, o + parent_off, parent)
        enc = name.encode('utf-16-le')
        buf[o + name_off:o + name_off + len(enc)] = enc
    os.pwrite(fd, bytes(buf), area * cluster + start * rec_size)

# The MFT's bitmap: the old bits, then one per clone, in new clusters.
old_bm_attr = mft_attrs[0xB0]
if old_bm_attr[8]:
    old_bm = read_runs(runs_of(old_bm_attr), nonresident_size(old_bm_attr))
    for lcn, n in runs_of(old_bm_attr):  # its clusters are free again
        for c in range(lcn, lcn + n):
            vbm[c >> 3] &= ~(1 << (c & 7)) & 0xFF
else:
    v = struct.unpack_from('<H', old_bm_attr, 0x14)[0]
    old_bm = old_bm_attr[v:v + struct.unpack_from('<I', old_bm_attr, 0x10)[0]]
bm = bytearray(bitmap_clusters * cluster)
bm[:len(old_bm)] = old_bm
for r in range(first_new, total_records):
    bm[r >> 3] |= 1 << (r & 7)
write_runs([(bitmap_lcn, bitmap_clusters)], bm)
write_runs(vbm_runs, vbm)

def nonresident(old, runs, allocated, size):
    """old's header (type, name, flags, id) with new runs and sizes."""
    name_len, name_off = old[9], struct.unpack_from('<H', old, 0x0A)[0]
    name = old[name_off:name_off + 2 * name_len]
    head = bytearray(0x40)
    head[:0x10] = old[:0x10]
    head[8] = 1
    struct.pack_into('<H', head, 0x0A, 0x40)
    mp = encode_runs(runs)
    struct.pack_into('<QQHH', head, 0x10, 0, allocated // cluster - 1, 0x40 + len(name), 0)
    struct.pack_into('<QQQ', head, 0x28, allocated, size, size)
    a = head + name + mp
    a += b'\0' * (-len(a) % 8)
    struct.pack_into('<I', a, 4, len(a))
    return a

mft_attrs[0x80] = nonresident(mft_attrs[0x80], mft_runs + [(area, new_clusters)],
                              (sum(n for _, n in mft_runs) + new_clusters) * cluster,
                              total_records * rec_size)
mft_attrs[0xB0] = nonresident(old_bm_attr, [(bitmap_lcn, bitmap_clusters)],
                              bitmap_clusters * cluster, bitmap_bytes)
first = struct.unpack_from('<H', mft0, 0x14)[0]
rec = bytearray(mft0[:first])
for t in sorted(mft_attrs):
    rec += mft_attrs[t]
rec += b'\xff\xff\xff\xff\0\0\0\0'
assert len(rec) <= rec_size
struct.pack_into('<I', rec, 0x18, len(rec))
rec += b'\0' * (rec_size - len(rec))
os.pwrite(fd, bytes(fix(rec)), mft_lcn * cluster)
os.close(fd)
print(f'{path}: {count} cloned records (numbers {first_new}..{total_records - 1}): '
      f'{tops} top folders, {leaves} folders, {files} files; MFT area at cluster {area}')
PY
