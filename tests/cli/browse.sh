#!/usr/bin/env bash
# salvage ls and save on the fixture volumes and the shared evidence images:
# every file saved comes back byte for byte, with its modification time.
set -euo pipefail
bin="$1"; fixtures="$2"; testdata="${3:-}"
fail() { echo "FAIL: $*"; exit 1; }
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
for f in ext2.img ext4_disk.img fat16.img hfs_volume.img search_fat16.img search_tree ext_tree ntfs.img ntfs_manifest.tsv ntfs_disk.E01 ntfs_zeroboot.img mbr_flipped.E01; do
  [ -e "$fixtures/$f" ] || fail "fixture $f missing"
done

# same_tree SRC OUT: every regular file of SRC is in OUT with the same bytes
# and modification time, every folder of SRC is there, and OUT holds nothing
# else but the report, lost+found and the files symlinks were saved as.
same_tree() {
  python3 - "$1" "$2" <<'PY'
import os, sys, filecmp
src, out = sys.argv[1], sys.argv[2]
bad = []
for root, dirs, files in os.walk(src):
    rel = os.path.relpath(root, src)
    for d in dirs:
        if not os.path.isdir(os.path.join(out, rel, d)): bad.append("missing folder " + os.path.join(rel, d))
    for f in files:
        s, o = os.path.join(root, f), os.path.join(out, rel, f)
        if os.path.islink(s): continue
        if not os.path.isfile(o): bad.append("missing " + o); continue
        if not filecmp.cmp(s, o, shallow=False): bad.append("differs " + o)
        elif int(os.stat(s).st_mtime) != int(os.stat(o).st_mtime): bad.append("mtime " + o)
for root, dirs, files in os.walk(out):
    rel = os.path.relpath(root, out)
    if rel.split(os.sep)[0] == "lost+found": continue
    for f in files:
        if rel == "." and f.startswith("salvage_report"): continue
        if not os.path.lexists(os.path.join(src, rel, f)): bad.append("extra " + os.path.join(rel, f))
if bad: print("\n".join(bad))
sys.exit(1 if bad else 0)
PY
}

# --- ext2: the whole volume, then one folder and one file ---
"$bin" save "$fixtures/ext2.img" --out "$tmp/ext2" 2>/dev/null || fail "ext2 save"
same_tree "$fixtures/ext_tree" "$tmp/ext2" || fail "ext2 tree"
python3 - "$tmp/ext2" <<'PY' || fail "ext2 report"
import csv, json, os, sys
out = sys.argv[1]
rows = list(csv.DictReader(open(os.path.join(out, "salvage_report.csv"), newline="")))
js = json.load(open(os.path.join(out, "salvage_report.json")))
assert len(rows) == len(js) > 2500, len(rows)
r = next(r for r in js if r["path"] == "ROOT\\docs\\large.bin")
assert r["size"] == 700000 and r["status"] == "ok" and r["deleted"] is False, r
assert r["modified"] == "2019-12-31T23:59:58.000000000Z", r
import hashlib
assert r["sha256"] == hashlib.sha256(open(os.path.join(out, "docs/large.bin"), "rb").read()).hexdigest()
PY

"$bin" save "$fixtures/ext4_disk.img" --volume 0 'ROOT\docs' --out "$tmp/docs" --report "$tmp/docs_report" 2>/dev/null \
  || fail "ext4 folder save"
same_tree "$fixtures/ext_tree/docs" "$tmp/docs" || fail "ext4 docs"
[ -f "$tmp/docs_report.csv" ] && [ -f "$tmp/docs_report.json" ] || fail "--report files"
"$bin" save "$fixtures/ext4_disk.img" --volume 0 --path 'ROOT/odd_size.bin' --out "$tmp/one" 2>/dev/null || fail "file save"
cmp "$tmp/one/odd_size.bin" "$fixtures/ext_tree/odd_size.bin" || fail "single file"

# --- ls: rows, JSON, a file, a missing path ---
out="$("$bin" ls "$fixtures/ext2.img" 'ROOT\docs' 2>/dev/null)"
grep -Eq '^-   .*683\.59 KB .* ROOT\\docs\\large\.bin$' <<<"$out" || fail "ls docs: $out"
grep -Eq '^d   .* ROOT\\docs\\deep\\$' <<<"$out" || fail "ls docs folder: $out"
n="$("$bin" ls "$fixtures/ext2.img" -r --json 2>/dev/null | python3 -c 'import json,sys; print(sum(1 for r in json.load(sys.stdin) if not r["directory"]))')"
[ "$n" -ge 2509 ] || fail "ls -r counted $n files"
"$bin" ls "$fixtures/ext2.img" --path 'ROOT\hello.txt' 2>/dev/null | grep 'ROOT\\hello.txt$' >/dev/null || fail "ls of a file"
if "$bin" ls "$fixtures/ext2.img" 'ROOT\no such' 2>/dev/null; then fail "missing path listed"; fi

# --- HFS+: contents and times against the fixture's lists ---
"$bin" save "$fixtures/hfs_volume.img" --out "$tmp/hfs" 2>/dev/null || fail "hfs save"
(cd "$tmp/hfs" && while read -r sum path; do
   [ "$(md5sum < "$path" | cut -d' ' -f1)" = "$sum" ] || fail "hfs $path"
 done < "$fixtures/hfs_volume.md5")
(cd "$tmp/hfs" && while read -r t path; do
   [ "$(stat -c %Y "$path")" = "$t" ] || fail "hfs mtime $path"
 done < "$fixtures/hfs_volume.mtime")

# --- FAT16 with the search tree (names in 8.3 come back in capitals) ---
"$bin" save "$fixtures/search_fat16.img" --out "$tmp/fat" 2>/dev/null || fail "fat16 save"
cmp "$tmp/fat/PHOTOS/DEEP/D.PNG" "$fixtures/search_tree/photos/deep/d.png" || fail "fat16 d.png"
cmp "$tmp/fat/backup.jpg.old" "$fixtures/search_tree/backup.jpg.old" || fail "fat16 backup"

# --- NTFS: the whole volume against the manifest (deleted files included),
# the EWF copy of the disk, and the Advanced mode on a zeroed boot sector ---
"$bin" save "$fixtures/ntfs.img" --out "$tmp/ntfs" 2>/dev/null || fail "ntfs save"
python3 - "$fixtures/ntfs_manifest.tsv" "$tmp/ntfs" <<'PY' || fail "ntfs manifest"
import hashlib, json, os, sys
man, out = sys.argv[1], sys.argv[2]
rep = {r["path"]: r for r in json.load(open(os.path.join(out, "salvage_report.json")))}
bad = []
for line in open(man, encoding="utf-8"):
    path, size, md5, mtime, state = line.rstrip("\n").split("\t")
    # A named stream "file:stream" is saved as "file_stream".
    f = os.path.join(out, path.replace(":", "_"))
    if not os.path.isfile(f): bad.append("missing " + path); continue
    if hashlib.md5(open(f, "rb").read()).hexdigest() != md5: bad.append("differs " + path)
    if int(os.stat(f).st_mtime) != int(mtime): bad.append("mtime " + path)
    r = rep.get("ROOT\\" + path.replace("/", "\\"))
    if not r or r["md5"] != md5 or r["deleted"] != (state == "deleted"): bad.append("report " + path)
    elif r.get("stream", "") != path.partition(":")[2]: bad.append("stream field " + path)
if bad: print("\n".join(bad))
sys.exit(1 if bad else 0)
PY
"$bin" ls "$fixtures/ntfs_disk.E01" --volume 0 'ROOT\docs' 2>/dev/null | grep -E '^-\* .* ROOT\\docs\\deleted\.bin$' >/dev/null \
  || fail "E01 ls of the deleted file"
# Named streams: rows of their own right after their file, marked 's' (and
# deleted with it), with the file's record number and the stream's name.
"$bin" ls "$fixtures/ntfs.img" 'ROOT\docs' 2>/dev/null > "$tmp/docs.txt"
grep -A1 -E '^-  .* ROOT\\docs\\with_stream\.txt$' "$tmp/docs.txt" | grep -qE '^s  .* ROOT\\docs\\with_stream\.txt:' \
  && grep -qE '^s\* .* ROOT\\docs\\deleted\.bin:note$' "$tmp/docs.txt" || fail "stream rows: $(cat "$tmp/docs.txt")"
"$bin" ls "$fixtures/ntfs.img" 'ROOT\docs' --json 2>/dev/null | python3 -c '
import json, sys
rows = {r["path"].rsplit("\\", 1)[1]: r for r in json.load(sys.stdin)}
s, f = rows["with_stream.txt:Zone.Identifier"], rows["with_stream.txt"]
assert s["stream"] == "Zone.Identifier" and s["record"] == f["record"] and s["sizeBytes"] == 26, s
assert [n for n, r in rows.items() if "stream" in r] == [n for n in rows if ":" in n], rows
' || fail "stream rows in JSON"
printf '[ZoneTransfer]\r\nZoneId=3\r\n' | cmp - "$tmp/ntfs/docs/with_stream.txt_Zone.Identifier" || fail "Zone.Identifier content"
printf 'main content of the file\n' | cmp - "$tmp/ntfs/docs/with_stream.txt" || fail "with_stream.txt content"
"$bin" verify "$tmp/ntfs/salvage_report.json" --image "$fixtures/ntfs.img" > "$tmp/ntfs_verify.out" 2>&1 \
  || fail "verify of the NTFS save: $(cat "$tmp/ntfs_verify.out")"
"$bin" search "$fixtures/ntfs.img" 'Zone\.Ident' 2>/dev/null | grep -qF 'ROOT\docs\with_stream.txt:Zone.Identifier' \
  || fail "search for a stream name"
"$bin" candidates "$fixtures/ntfs_zeroboot.img" --fs ntfs --json 2>/dev/null \
  | python3 -c 'import json,sys; c=json.load(sys.stdin); assert c["candidates"][0]=="MFT_ENTRY:0", c' || fail "candidates"
"$bin" save "$fixtures/ntfs_zeroboot.img" --fs ntfs --mode advanced --candidate 0 --sectors-per-cluster 0 \
  'ROOT\docs\deleted.bin' --out "$tmp/adv" 2>/dev/null || fail "advanced save"
[ "$(md5sum < "$tmp/adv/deleted.bin" | cut -d' ' -f1)" = "$(awk -F'\t' '$1=="docs/deleted.bin"{print $3}' "$fixtures/ntfs_manifest.tsv")" ] \
  || fail "advanced deleted.bin"

# --- refusals: unknown file system, a mode the file system has not ---
if err="$("$bin" ls "$fixtures/ext2.img" --fs unknown 2>&1)"; then fail "unknown fs accepted"; fi
grep -q "not a valid drive." <<<"$err" || fail "no refusal: $err"
if "$bin" ls "$fixtures/ext2.img" --mode deep 2>/dev/null; then fail "deep on ext accepted"; fi

# --- damage and failure are never success ---
# A chunk that fails its checksum: the save ends, the file's row says
# damaged, and the exit code says so.
set +e
"$bin" save "$fixtures/mbr_flipped.E01" --volume 1 --out "$tmp/flipped" 2>"$tmp/flipped.err"; rc=$?
set -e
[ $rc -eq 4 ] || fail "damaged save: exit $rc $(cat "$tmp/flipped.err")"
grep -q 'DATA\.BIN,DOCS/DATA\.BIN,.*,damaged,20000,20000,4640,' "$tmp/flipped/salvage_report.csv" || fail "damaged save: no damaged row"
grep -q '2 of 2 files saved, 2 damaged, 0 failed, 0 skipped' "$tmp/flipped.err" || fail "damaged save: $(cat "$tmp/flipped.err")"
# Before a save, ls marks what touches damage. Without --check it knows
# only what the parse read (the bad chunk holds file data): nothing marked,
# exit 0. --check reads every file: it marks exactly the files the save
# found damaged, with the same ranges, and exits 4.
set +e
"$bin" ls "$fixtures/mbr_flipped.E01" --volume 1 -r --json >"$tmp/flipped_ls.json" 2>/dev/null; rc=$?
"$bin" ls "$fixtures/mbr_flipped.E01" --volume 1 -r --check --json >"$tmp/flipped_check.json" 2>"$tmp/flipped_check.err"; rc2=$?
"$bin" ls "$fixtures/mbr_flipped.E01" --volume 1 --check >"$tmp/flipped_check.txt" 2>/dev/null; rc3=$?
set -e
[ $rc -eq 0 ] && [ $rc2 -eq 4 ] && [ $rc3 -eq 4 ] || fail "ls of the damaged image: exit $rc, --check $rc2 / $rc3"
grep -q '^salvage: 2 files touch damage$' "$tmp/flipped_check.err" || fail "ls --check summary: $(cat "$tmp/flipped_check.err")"
grep -qE '^- ! .*ROOT\\HELLO\.TXT$' "$tmp/flipped_check.txt" || fail "ls --check text mark: $(cat "$tmp/flipped_check.txt")"
python3 - "$tmp/flipped_ls.json" "$tmp/flipped_check.json" "$tmp/flipped/salvage_report.json" <<'PY' || fail "ls --check against the save"
import json, sys
plain, check, saved = (json.load(open(f)) for f in sys.argv[1:])
assert not any(r["damaged"] for r in plain), plain
marked = {r["path"]: r["damagedRanges"] for r in check if r["damaged"]}
damaged = {r["path"]: r["damaged"] for r in saved if r["status"] == "damaged"}
assert marked == damaged and len(marked) == 2, (marked, damaged)
PY
# An output that cannot hold a file (at most 100 KiB per file here): that
# row fails, no part of it is left, and the save exits 1.
set +e
(trap '' XFSZ; ulimit -f 100; "$bin" save "$fixtures/ext2.img" 'ROOT\docs' --out "$tmp/full") 2>"$tmp/full.err"; rc=$?
set -e
[ $rc -eq 1 ] || fail "full output: exit $rc"
grep -q '^ROOT\\docs\\large\.bin,,.*,failed,' "$tmp/full/salvage_report.csv" || fail "full output: no failed row"
[ ! -e "$tmp/full/large.bin" ] || fail "full output: a partial file was left"

# Damage in the metadata of real volumes: a FAT chain that loops back on
# itself, an NTFS run that points outside the volume. The listing marks the
# file before anything is read, the save says damaged with the cause, exit 4.
cp "$fixtures/fat16.img" "$tmp/loop.img"
python3 - "$tmp/loop.img" <<'PY'
import struct, sys
# The first root-folder file over one cluster: its second cluster's entry
# points back at its first, in every FAT.
d = bytearray(open(sys.argv[1], 'rb').read())
bps, spc, res, nfats, rootn = struct.unpack_from('<HBHBH', d, 11)
fatsz = struct.unpack_from('<H', d, 22)[0]
root = (res + nfats * fatsz) * bps
for i in range(rootn):
    e = d[root + 32 * i: root + 32 * i + 32]
    if e[0] in (0, 0xE5) or e[11] & 0x18 or e[11] == 0x0F:
        continue
    first, size = struct.unpack_from('<H', e, 26)[0], struct.unpack_from('<I', e, 28)[0]
    if size > bps * spc:
        second = struct.unpack_from('<H', d, res * bps + 2 * first)[0]
        for f in range(nfats):
            struct.pack_into('<H', d, (res + f * fatsz) * bps + 2 * second, first)
        break
open(sys.argv[1], 'wb').write(d)
PY
cp "$fixtures/ntfs.img" "$tmp/runs.img"
rec="$("$bin" ls "$fixtures/ntfs.img" --json 2>/dev/null | python3 -c 'import json,sys; print(next(r["record"] for r in json.load(sys.stdin) if r["path"] == "ROOT\\big.bin"))')"
python3 - "$tmp/runs.img" "$rec" <<'PY'
import struct, sys
# The first run of the record's unnamed, non-resident $DATA goes 2^61
# clusters out (the MFT of a fresh volume starts contiguous).
d = bytearray(open(sys.argv[1], 'rb').read())
bps, spc = struct.unpack_from('<H', d, 11)[0], d[13]
at = struct.unpack_from('<Q', d, 0x30)[0] * bps * spc + int(sys.argv[2]) * 1024
a = at + struct.unpack_from('<H', d, at + 20)[0]
while struct.unpack_from('<I', d, a)[0] != 0xFFFFFFFF:
    t, ln = struct.unpack_from('<II', d, a)
    if t == 0x80 and d[a + 8] == 1 and d[a + 9] == 0:
        run = a + struct.unpack_from('<H', d, a + 0x20)[0]
        off, osz = run + 1 + (d[run] & 0xF), d[run] >> 4
        assert all((p - at) % 512 < 510 for p in range(off, off + osz)), 'a fix-up slot'
        d[off:off + osz] = b'\xff' * (osz - 1) + b'\x3f'
        open(sys.argv[1], 'wb').write(d)
        sys.exit(0)
    a += ln
sys.exit('no run list')
PY
for c in "loop.img:ROOT\\picture of a cat.jpg:chain loops" "runs.img:ROOT\\big.bin:outside the volume"; do
  IFS=: read -r img path cause <<<"$c"
  "$bin" ls "$tmp/$img" -r 2>/dev/null | grep -qF -- "- ! " || fail "$img: listing marks nothing"
  set +e
  "$bin" save "$tmp/$img" "$path" --out "$tmp/out_$img" 2>/dev/null; rc=$?
  set -e
  [ $rc -eq 4 ] || fail "$img: exit $rc"
  python3 - "$tmp/out_$img/salvage_report.json" "$cause" <<'PY' || fail "$img: report"
import json, sys
rows = json.load(open(sys.argv[1]))
assert [r["status"] for r in rows] == ["damaged"], rows
assert sys.argv[2] in {d["cause"] for d in rows[0]["damaged"]}, rows
PY
done

# --- truncated images: whatever is found is listed and saved, nothing crashes ---
for img in ntfs.img ext2.img hfs_volume.img search_fat16.img; do
  head -c 1500000 "$fixtures/$img" > "$tmp/cut_$img"
  set +e
  "$bin" ls "$tmp/cut_$img" -r > /dev/null 2>&1; rc=$?
  "$bin" save "$tmp/cut_$img" --out "$tmp/cut_out_$img" > /dev/null 2>&1; rc2=$?
  set -e
  [ $rc -lt 64 ] && [ $rc2 -lt 64 ] || fail "truncated $img: ls $rc, save $rc2"
done

# --- shared evidence images ---
if [ -n "$testdata" ] && [ -f "$testdata/ext2.E01" ]; then
  "$bin" save "$testdata/ext2.E01" --out "$tmp/e01" 2>/dev/null || fail "ext2.E01 save"
  while read -r sum path; do
    [ "$(sha256sum < "$tmp/e01$path" | cut -d' ' -f1)" = "$sum" ] || fail "ext2.E01 $path"
  done < "$testdata/ext2.E01.hashes"
  unzip -q -o "$testdata/6-undel-fat.zip" -d "$tmp/dftt"
  img="$tmp/dftt/6-undel-fat/6-fat-undel.dd"
  del="$("$bin" ls "$img" -r --deleted --json 2>/dev/null | python3 -c 'import json,sys; print(len(json.load(sys.stdin)))')"
  [ "$del" = 5 ] || fail "DFTT deleted entries: $del"
  "$bin" save "$img" --out "$tmp/dftt_out" 2>/dev/null || fail "DFTT save"
  for sum in 59b20779f69ff9f0ac5fcd2c38835a79 ffd27bd782bdce67750b6b9ee069d2ef 59cf0e9cd107bc1e75afb7374f6e05bb; do
    grep -q ",$sum," "$tmp/dftt_out/salvage_report.csv" || fail "DFTT file $sum"
  done
else
  echo "browse: shared test data missing, evidence images skipped" >&2
fi
echo "browse: ok"
