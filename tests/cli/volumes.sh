#!/usr/bin/env bash
# salvage volumes, run as a user runs it.
set -euo pipefail
bin="$1"; fixtures="$2"
img="$fixtures/mbr_disk.img"
[ -f "$img" ] || { echo "fixture $img missing"; exit 1; }

out="$("$bin" volumes "$img")"
echo "$out"
grep -q "^VOLUME *FILE_SYSTEM *VOLUME_SIZE *START_SECTOR" <<<"$out"
grep -Eq "^0 +NTFS +8   MB +2048$" <<<"$out"
grep -Eq "^2 +extX +8   MB +38912$" <<<"$out"

json="$("$bin" volumes --json "$img")"
python3 -c 'import json,sys; v=json.loads(sys.argv[1]); assert [r["fileSystem"] for r in v]==["NTFS","FAT16","extX","FAT32"], v; assert v[3]["startSector"]==57344' "$json"

gpt="$("$bin" volumes --gpt "$fixtures/gpt_disk.img")"
grep -Eq "^2 +HFS\+ +2 +92160$" <<<"$gpt"

# A bare volume (a floppy dump): one FAT12 volume at sector 0, whose boot
# code is not read as partition entries; ls needs no --volume for it.
floppy="$fixtures/fat12.img"
[ -f "$floppy" ] || { echo "fixture $floppy missing"; exit 1; }
bare="$("$bin" volumes "$floppy")"
echo "$bare"
[ "$(grep -c . <<<"$bare")" = 2 ]
grep -Eq "^0 +FAT12 +1   MB +0$" <<<"$bare"
"$bin" volumes --json "$floppy" | grep -q '"bytes": 1474560'
"$bin" ls "$floppy" 2>/dev/null | grep -q 'ROOT\\HELLO.TXT$'

# A truncated copy of the disk: the volume past its end is marked and refused,
# the one it cuts short is marked and still read.
cut="$(mktemp)"
trap 'rm -f "$cut"' EXIT
head -c $((50000 * 512)) "$img" > "$cut"
"$bin" volumes "$cut" 2>/dev/null | grep -Eq "^2 +extX +8   MB  \(runs past the image's end\) +38912$"
head -c $((56000 * 512)) "$img" > "$cut"
short="$("$bin" volumes "$cut")"
echo "$short"
grep -Eq "^2 +extX +8   MB +38912$" <<<"$short"
grep -Eq "^3 +FAT32 .*\(past the image's end\) +57344$" <<<"$short"
if "$bin" ls "$cut" --volume 3 2>"$cut.err"; then echo "expected a refusal"; exit 1; fi
grep -q "past the image's end" "$cut.err"; rm -f "$cut.err"
"$bin" ls "$cut" --volume 1 2>/dev/null | grep -q 'HELLO.TXT'

# The sector search finds all four volumes of the sample disk (mkfs.fat's own
# OEM names and an ext volume among them), as its table lists them.
sample="$(dirname "$0")/../../samples/sample.img"
adv="$("$bin" volumes --advanced --json "$sample" 2>/dev/null)"
python3 -c 'import json,sys; v=json.loads(sys.argv[1]); assert sorted((r["fileSystem"], r["startSector"]) for r in v)==[("FAT16",20480),("FAT32",57344),("NTFS",2048),("extX",38912)], v' "$adv"

# A missing image: a clear message and a non-zero exit.
if err="$("$bin" volumes /nonexistent.img 2>&1)"; then echo "expected failure"; exit 1; fi
grep -q "no such file" <<<"$err"
echo "volumes: ok"
