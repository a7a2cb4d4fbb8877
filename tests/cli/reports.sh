#!/usr/bin/env bash
# The examiners' formats, checked with the tools examiners use: body files
# that mactime reads and whose times agree with fls -m, DFXML whose byte
# runs lead back to the saved bytes on the image, and verify, which notices
# a saved copy changed after the save.
set -euo pipefail
bin="$1"; fixtures="$2"
fail() { echo "FAIL: $*"; exit 1; }
for t in fls mactime xmllint; do command -v "$t" >/dev/null || fail "$t missing (scripts/install-deps installs sleuthkit, libxml2-utils)"; done
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
export TZ=UTC

# --- body files: mactime reads them, and every entry fls -m lists too has the same times ---
# IMAGE FLS_ARGS...: our body file against fls -m on the same volume.
same_times() {
  local img="$1"; shift
  "$bin" ls "$fixtures/$img" --bodyfile > "$tmp/ours.body" 2>/dev/null || fail "$img: ls --bodyfile"
  fls -r -m / "$@" "$fixtures/$img" > "$tmp/fls.body" 2>/dev/null || fail "$img: fls"
  mactime -b "$tmp/ours.body" -d > "$tmp/timeline.csv" || fail "$img: mactime refused the body file"
  [ "$(wc -l < "$tmp/timeline.csv")" -gt 1 ] || fail "$img: empty timeline"
  python3 - "$img" "$tmp/ours.body" "$tmp/fls.body" <<'PY' || fail "$img: times differ from fls -m"
import sys
img, ours_path, fls_path = sys.argv[1:]
def rows(path):
    out = {}
    for line in open(path, encoding="utf-8", errors="replace"):
        f = line.rstrip("\n").split("|")
        if len(f) != 11: sys.exit("%s: %d fields in %r" % (path, len(f), line))
        # FAT folders keep their 8.3 name unpadded only in fls: match on trimmed names.
        out.setdefault("/".join(c.rstrip() for c in f[1].split("/")), f)
    return out
ours, theirs = rows(ours_path), rows(fls_path)
# fls files deleted entries whose folder no longer lists them under $OrphanFiles.
for n in list(ours):
    if n.endswith(" (deleted)") and n not in theirs:
        orphan = "/$OrphanFiles/" + n.rsplit("/", 1)[1]
        if orphan in theirs and orphan not in ours: theirs[n] = theirs[orphan]
both = [n for n in ours if n in theirs]
# Nearly every live entry both list: a name mismatch would make the comparison empty.
live = [n for n in ours if not n.endswith("(deleted)")]
if len(both) < 0.9 * len(live) or len(both) < 5: sys.exit("only %d of %d names in common" % (len(both), len(live)))
bad = []
for n in both:
    o, t = ours[n], theirs[n]
    # atime, mtime, ctime, crtime; a file system without a time gives 0 in both.
    if o[7:11] != t[7:11]: bad.append("%s: ours %s fls %s" % (n, o[7:11], t[7:11]))
    if o[3][2] != t[3][2]: bad.append("%s: type %s fls %s" % (n, o[3], t[3]))
    if o[3][0] == "r" and o[6] != t[6]: bad.append("%s: size %s fls %s" % (n, o[6], t[6]))
print("%s: %d entries compared" % (img, len(both)))
if bad: print("\n".join(bad[:20])); sys.exit(1)
PY
}
same_times ntfs.img
same_times fat16.img
same_times ext4.img
same_times ext2.img
same_times hfs_volume.img -f hfs

# Deleted entries carry the mark, ext modes and owners are the inode's.
"$bin" ls "$fixtures/ntfs.img" --bodyfile > "$tmp/ntfs.body" 2>/dev/null
grep -q '^0|/docs/deleted\.bin (deleted)|[0-9]*|r/rrwxrwxrwx|0|0|20000|1465193166|1465193166|' "$tmp/ntfs.body" || fail "deleted mark"
"$bin" ls "$fixtures/ext4.img" --bodyfile 2>/dev/null > "$tmp/ext4.body"
fls -r -m / "$fixtures/ext4.img" > "$tmp/ext4.fls"
python3 - "$tmp/ext4.body" "$tmp/ext4.fls" <<'PY' || fail "ext4 modes"
import sys
a = {l.split("|")[1]: l.split("|")[3:6] for l in open(sys.argv[1])}
b = {l.split("|")[1]: l.split("|")[3:6] for l in open(sys.argv[2])}
bad = [n for n in a if n in b and a[n] != b[n]]
if bad: print(bad[:10], [(a[n], b[n]) for n in bad[:3]]); sys.exit(1)
PY
# A FAT root whose first entry is a file lists its stand-in record beside
# it: the timeline holds each entry once.
"$bin" ls "$fixtures/carve_fat.img" --bodyfile > "$tmp/fat.body" 2>/dev/null
! grep -q 'DUMMY ENTRY' "$tmp/fat.body" && [ -s "$tmp/fat.body" ] || fail "FAT root stand-in in the timeline"
# --md5 fills the MD5 column with each file's content hash.
"$bin" ls "$fixtures/ext2.img" 'ROOT\docs' --bodyfile --md5 2>/dev/null > "$tmp/md5.body" || fail "--md5"
grep -q "^$(md5sum < "$fixtures/ext_tree/docs/large.bin" | cut -d' ' -f1)|/docs/large.bin|" "$tmp/md5.body" || fail "md5 column"

# --- DFXML of a save: well-formed, every run leads back to the saved bytes ---
# IMAGE OUT DFXML [VOLUME_OPTS]: checks DFXML against the image and the saved files.
check_dfxml() {
  python3 - "$@" <<'PY'
import json, os, sys, xml.etree.ElementTree as ET
image, out, dfxml = sys.argv[1:4]
ns = {"d": "http://www.forensicswiki.org/wiki/Category:Digital_Forensics_XML", "s": "urn:x-salvage:dfxml"}
root = ET.parse(dfxml).getroot()
src = root.find("d:source", ns)
assert os.path.samefile(src.find("d:image_filename", ns).text, image)
report = os.path.join(out, "salvage_report.json")
rows = json.load(open(report)) if os.path.exists(report) else []
with_runs = any("runs" in r for r in rows)   # the save report names the runs too
objs = root.findall("d:volume/d:fileobject", ns)
assert objs, "no fileobjects"
checked = 0
with open(image, "rb") as img:
    for fo in objs:
        saved = fo.find("s:saved_as", ns)
        status = fo.find("s:status", ns).text
        assert status in ("ok", "damaged", "failed", "skipped"), status
        if saved is None or status not in ("ok", "damaged"): continue
        data = open(os.path.join(out, saved.text), "rb").read()
        size = int(fo.find("d:filesize", ns).text)
        runs = fo.findall("d:byte_runs/d:byte_run", ns)
        if with_runs and size and not runs: sys.exit("no runs for " + saved.text)
        damaged = [(int(r.get("file_offset")), int(r.get("len"))) for r in fo.findall("s:damaged_ranges/s:range", ns)]
        for r in runs:
            fo_, ln = int(r.get("file_offset")), int(r.get("len"))
            if r.get("type") == "compressed": continue
            # Resident data is read from the fixed-up record; no image offset is claimed for it.
            if r.get("type") == "resident" and r.get("img_offset") is None: continue
            if any(d < fo_ + ln and fo_ < d + dl for d, dl in damaged): continue
            got = data[fo_:fo_ + ln]
            if r.get("type") == "sparse":
                want = bytes(ln)
            else:
                img.seek(int(r.get("img_offset"))); want = img.read(ln)
            if got != want: sys.exit("%s: run at file offset %d differs from the image" % (saved.text, fo_))
            checked += 1
print("%d fileobjects, %d runs checked" % (len(objs), checked))
PY
}
"$bin" save "$fixtures/ntfs.img" --out "$tmp/ntfs" --dfxml "$tmp/ntfs/report.xml" 2>/dev/null || true
xmllint --noout "$tmp/ntfs/report.xml" || fail "ntfs DFXML not well-formed"
check_dfxml "$fixtures/ntfs.img" "$tmp/ntfs" "$tmp/ntfs/report.xml" || fail "ntfs DFXML"
"$bin" save "$fixtures/ext4.img" --out "$tmp/ext4" --dfxml "$tmp/ext4.xml" 2>/dev/null || true
check_dfxml "$fixtures/ext4.img" "$tmp/ext4" "$tmp/ext4.xml" || fail "ext4 DFXML"
# An EWF image: its acquisition MD5 is in the source.
"$bin" save "$fixtures/ntfs_disk.E01" --volume 0 'ROOT\docs' --out "$tmp/e01" --dfxml "$tmp/e01.xml" 2>/dev/null || true
want="$(ewfinfo -d dm "$fixtures/ntfs_disk.E01" 2>/dev/null | awk '/MD5/{print $NF}')"
[ -n "$want" ] && grep -q "<hashdigest type=\"md5\">$want</hashdigest>" "$tmp/e01.xml" || fail "EWF acquisition MD5 ($want)"

# --- DFXML of a carve: one run per written find, equal to the image there ---
"$bin" carve "$fixtures/carve_volume.img" --out "$tmp/carve" --dfxml "$tmp/carve.xml" >/dev/null 2>&1 || true
python3 - "$fixtures/carve_volume.img" "$tmp/carve" "$tmp/carve.xml" <<'PY' || fail "carve DFXML"
import os, sys, xml.etree.ElementTree as ET
image, out, dfxml = sys.argv[1:]
ns = {"d": "http://www.forensicswiki.org/wiki/Category:Digital_Forensics_XML", "s": "urn:x-salvage:dfxml"}
objs = ET.parse(dfxml).getroot().findall("d:volume/d:fileobject", ns)
written = [f for f in os.listdir(out) if f != "carve-report.csv"]
assert len(objs) == len(written) > 3, (len(objs), len(written))
with open(image, "rb") as img:
    for fo in objs:
        (run,) = fo.findall("d:byte_runs/d:byte_run", ns)
        img.seek(int(run.get("img_offset")))
        data = open(os.path.join(out, fo.find("s:saved_as", ns).text), "rb").read()
        assert img.read(int(run.get("len"))) == data and len(data) == int(fo.find("d:filesize", ns).text), fo
PY

# --- verify: a faithful save passes; a copy changed afterwards is named and fails ---
"$bin" save "$fixtures/ext2.img" 'ROOT\docs' --out "$tmp/v" 2>/dev/null || fail "save for verify"
"$bin" verify "$tmp/v/salvage_report.json" --image "$fixtures/ext2.img" > "$tmp/verify.out" 2>&1 || { cat "$tmp/verify.out"; fail "verify of a faithful save"; }
printf 'X' | dd of="$tmp/v/large.bin" bs=1 seek=1000 conv=notrunc 2>/dev/null
set +e
"$bin" verify "$tmp/v/salvage_report.json" --image "$fixtures/ext2.img" > "$tmp/verify.out" 2>/dev/null; rc=$?
set -e
[ "$rc" -ne 0 ] || fail "verify passed a changed copy"
grep -q 'ROOT\\docs\\large\.bin' "$tmp/verify.out" || fail "verify did not name the changed copy: $(cat "$tmp/verify.out")"
[ "$(wc -l < "$tmp/verify.out")" = 1 ] || fail "verify named more than the changed copy: $(cat "$tmp/verify.out")"
if "$bin" verify "$tmp/verify.out" --image "$fixtures/ext2.img" 2>/dev/null; then fail "verify took a file that is no report"; fi
echo "reports: ok"
