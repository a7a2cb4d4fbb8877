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

# A missing image: a clear message and a non-zero exit.
if err="$("$bin" volumes /nonexistent.img 2>&1)"; then echo "expected failure"; exit 1; fi
grep -q "no such file" <<<"$err"
echo "volumes: ok"
