#!/usr/bin/env bash
# salvage carve, run as a user runs it: every planted file is found at its
# offset, and every written file equals the planted one byte for byte (the
# one cut by the volume's end equals the part of it that is there).
set -euo pipefail
bin="$1"; fixtures="$2"
source "$(dirname "$0")/../support/signals.sh"
vol="$fixtures/carve_volume.img"; disk="$fixtures/carve_disk.img"; manifest="$fixtures/carve_manifest.txt"
for f in "$vol" "$disk" "$manifest"; do [ -f "$f" ] || { echo "fixture $f missing"; exit 1; }; done
out="$(mktemp -d)"; trap 'rm -rf "$out"' EXIT

check_written() {  # DIR: compares each planted file with the file written for its offset
  local dir="$1" name offset length cut ext written
  while read -r name offset length cut; do
    ext="${name##*.}"
    written="$dir/$offset.$ext"
    [ -f "$written" ] || { echo "no file written for $name at $offset"; exit 1; }
    if [ "$cut" = 1 ]; then
      cmp -n "$(stat -c %s "$written")" "$written" "$fixtures/carve_files/$name"
      [ "$(stat -c %s "$written")" -eq $(( 4194304 - offset )) ] || { echo "$name: cut file has the wrong length"; exit 1; }
    else
      cmp "$written" "$fixtures/carve_files/$name" || { echo "$name differs"; exit 1; }
    fi
  done < "$manifest"
}

# The bare volume: the listing names every planted file at its offset.
list="$("$bin" carve "$vol" 2>/dev/null)"
echo "$list"
while read -r name offset length cut; do
  grep -Eq "^  $offset \.${name##*.} " <<<"$list" || { echo "$name at $offset not listed"; exit 1; }
done < "$manifest"
grep -q "^Images (8)$" <<<"$list"
grep -q "^Archives (2)$" <<<"$list"

"$bin" carve "$vol" --out "$out/vol" >/dev/null 2>&1
check_written "$out/vol"
head -1 "$out/vol/carve-report.csv" | grep -q "^offset,length,written,type,category,md5,sha256,trimmed,complete,file$"
# The report's hashes are those of the written files.
python3 - "$out/vol" <<'PY'
import csv, hashlib, os, sys
d = sys.argv[1]
rows = list(csv.DictReader(open(os.path.join(d, "carve-report.csv"))))
assert len(rows) == 13, len(rows)
for r in rows:
    data = open(os.path.join(d, r["file"]), "rb").read()
    assert int(r["written"]) == len(data), r
    assert r["md5"] == hashlib.md5(data).hexdigest() and r["sha256"] == hashlib.sha256(data).hexdigest(), r
PY

# The same volume as partition 0 of a disk: the same offsets, volume-relative.
"$bin" carve "$disk" --volume 0 --out "$out/disk" --json 2>/dev/null > "$out/disk.json"
check_written "$out/disk"
python3 - "$out/disk.json" "$manifest" <<'PY'
import json, sys
j = json.load(open(sys.argv[1]))
assert j["volumeStart"] == 2048 * 512 and j["volumeBytes"] == 4 << 20, (j["volumeStart"], j["volumeBytes"])
offsets = {f["offset"] for c in j["categories"] for f in c["finds"]}
for line in open(sys.argv[2]):
    name, off, length, cut = line.split()
    assert int(off) in offsets, name
PY

# A sector range: only the second MiB of the volume.
range="$("$bin" carve "$vol" --start 2048 --end 4096 2>/dev/null)"
grep -Eq "^  0 \.gif " <<<"$range" && { echo "range scan saw a file before its start"; exit 1; }
grep -Eq "^  8192 \.wav " <<<"$range"

# A FAT16 volume whose files were deleted: each comes back whole.
fat="$fixtures/carve_fat.img"
[ -f "$fat" ] || { echo "fixture $fat missing"; exit 1; }
"$bin" carve "$fat" --out "$out/fat" >/dev/null 2>&1
for f in a.jpg c.png d.gif i.pdf j.zip b.jpg; do
  sum="$(sha256sum < "$fixtures/carve_files/$f" | cut -d' ' -f1)"
  grep -q ",$sum,yes,yes," "$out/fat/carve-report.csv" || { echo "deleted $f not recovered whole"; exit 1; }
done

# Settings: no types at all, and a settings file that cannot be opened.
if "$bin" carve "$vol" --no-default >/dev/null 2>"$out/err"; then echo "expected failure"; exit 1; fi
grep -q "enter the info file first" "$out/err"
if "$bin" carve "$vol" --no-default --signatures /nonexistent >/dev/null 2>"$out/err"; then echo "expected failure"; exit 1; fi
grep -q "can not open file" "$out/err"
# Ctrl-C during a long scan (a sparse 8 GiB image): the scan stops, the
# report is written, and every file in the folder has its row. The signal
# goes once the handler is in place (a slow start, as under a sanitizer,
# would otherwise lose it and let the scan finish).
truncate -s 8G "$out/big.img"; dd if="$vol" of="$out/big.img" conv=notrunc status=none
"$bin" carve "$out/big.img" --out "$out/big" >/dev/null 2>"$out/err" & pid=$!
wait_for_sigint_handler "$pid"
sleep 0.3; kill -INT "$pid"
set +e; wait "$pid"; rc=$?; set -e
[ "$rc" = 130 ] || { echo "carve after Ctrl-C: exit $rc"; exit 1; }
grep -q "^salvage: stopped" "$out/err"
[ -f "$out/big/carve-report.csv" ] || { echo "no report after Ctrl-C"; exit 1; }
for f in "$out"/big/*; do
  [ "$(basename "$f")" = carve-report.csv ] && continue
  grep -q ",$(basename "$f")$" "$out/big/carve-report.csv" || { echo "$f has no row in the report"; exit 1; }
done
echo "carve: ok"
