#!/usr/bin/env bash
# salvage export, info and volumes on the EWF fixtures, run as a user runs them.
set -euo pipefail
bin="$1"; fixtures="$2"
e01="$fixtures/mbr_encase6.E01"; raw="$fixtures/mbr_disk.img"
for f in "$e01" "$raw" "$fixtures/zeroed_disk.img"; do [ -f "$f" ] || { echo "fixture $f missing"; exit 1; }; done
out="$(mktemp -d)"; trap 'rm -rf "$out"' EXIT
want="$(md5sum < "$raw" | cut -d' ' -f1)"

# Whole image to raw: "--out disk.raw" writes disk.raw itself.
"$bin" export "$e01" --out "$out/disk.raw" 2>"$out/log"
[ "$(md5sum < "$out/disk.raw" | cut -d' ' -f1)" = "$want" ]
grep -q "^done$" "$out/log"
[ ! -e "$out/disk.raw.raw" ]

# Split raw, to standard output, and to EWF.
"$bin" export "$e01" --out "$out/split" --segment-size 10485760 2>/dev/null
[ "$(cat "$out"/split.raw.00? | md5sum | cut -d' ' -f1)" = "$want" ]
[ "$("$bin" export "$e01" --out - 2>/dev/null | md5sum | cut -d' ' -f1)" = "$want" ]
"$bin" export "$e01" --out "$out/copy.E01" --format ewf 2>/dev/null
ewfverify -q "$out/copy.E01" >/dev/null
"$bin" info "$out/copy.E01" | grep -Eq "^FILE FORMAT : +EnCase 6$"

# A byte range equals the same bytes of the raw disk.
"$bin" export "$e01" --out "$out/range" --offset 1048576 --size 4096 2>/dev/null
cmp "$out/range.raw" <(dd if="$raw" bs=4096 skip=256 count=1 status=none)

# A range that does not fit: explained, "done", no output, exit 4.
set +e
"$bin" export "$e01" --out "$out/bad" --offset 512 --size 50331648 2>"$out/log"; rc=$?
set -e
[ "$rc" = 4 ] || { echo "range: exit $rc"; exit 1; }
grep -q "does not fit" "$out/log"; grep -q "^done$" "$out/log"
[ ! -e "$out/bad.raw" ]

# The E01 lists the same volumes as the raw disk it was acquired from.
diff <("$bin" volumes "$raw") <("$bin" volumes "$e01")
"$bin" info "$e01" | grep -Eq "^MEDIA SIZE : +50331648  Bytes$"
if "$bin" info "$raw" >"$out/info" 2>&1; then echo "info on a raw file succeeded"; exit 1; fi
grep -q "Unable to print header values." "$out/info"

# The sector search on the disk whose table is zeroed.
adv="$("$bin" volumes --advanced "$fixtures/zeroed_disk.img")"
echo "$adv"
grep -Eq "^0 +NTFS +15   MB +2048$" <<<"$adv"
grep -Eq "^5 +HFS\+ +2  MB +221184$" <<<"$adv"
[ "$("$bin" volumes --advanced --no-skip --json "$fixtures/zeroed_disk.img" | grep -c '"startSector"')" = 10 ]
[ "$("$bin" volumes --advanced --range 108544 0 --json "$fixtures/zeroed_disk.img" | grep -c '"startSector"')" = 4 ]
echo "export: ok"
