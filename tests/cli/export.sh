#!/usr/bin/env bash
# salvage export, info and volumes on the EWF fixtures, run as a user runs them.
set -euo pipefail
bin="$1"; fixtures="$2"
source "$(dirname "$0")/../support/signals.sh"
e01="$fixtures/mbr_encase6.E01"; raw="$fixtures/mbr_disk.img"
for f in "$e01" "$raw" "$fixtures/zeroed_disk.img"; do [ -f "$f" ] || { echo "fixture $f missing"; exit 1; }; done
out="$(mktemp -d)"; trap 'rm -rf "$out"' EXIT
want="$(md5sum < "$raw" | cut -d' ' -f1)"

# Whole image to raw: "--out disk.raw" writes disk.raw itself.
"$bin" export "$e01" --out "$out/disk.raw" 2>"$out/log"
[ "$(md5sum < "$out/disk.raw" | cut -d' ' -f1)" = "$want" ]
grep -q "^done$" "$out/log"
grep -q "^hash verified: the copy's MD5 matches" "$out/log"
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

# A range that does not fit: explained, no "done", no output, exit 2.
set +e
"$bin" export "$e01" --out "$out/bad" --offset 512 --size 50331648 2>"$out/log"; rc=$?
set -e
[ "$rc" = 2 ] || { echo "range: exit $rc"; exit 1; }
grep -q "does not fit" "$out/log"
if grep -q "^done$" "$out/log"; then echo "range: says done"; exit 1; fi
[ ! -e "$out/bad.raw" ]

# The export never writes its input: the image itself, a segmented set to
# its own name. Refused before anything is created or removed, exit 2.
mkdir "$out/ev"; cp "$raw" "$out/ev/ev.raw"; cp "$fixtures"/mbr_encase6.E0? "$out/ev/"
sums="$(cd "$out/ev" && md5sum *)"
expect() {  # WANT_RC WANT_TEXT salvage-args...
  local want="$1" text="$2" rc; shift 2
  set +e; "$bin" "$@" >"$out/stdout" 2>"$out/log"; rc=$?; set -e
  [ "$rc" = "$want" ] || { echo "salvage $*: exit $rc, not $want"; cat "$out/log"; exit 1; }
  grep -q -- "$text" "$out/log" || { echo "salvage $*: no '$text'"; cat "$out/log"; exit 1; }
  if grep -q "^done$" "$out/log" && [ "$want" != 0 ]; then echo "salvage $*: says done"; exit 1; fi
}
expect 2 "ev.raw is a file of the image" export "$out/ev/ev.raw" --out "$out/ev/ev" --size 4096
expect 2 "mbr_encase6.E01 is a file of the image" export "$out/ev/mbr_encase6.E01" --out "$out/ev/mbr_encase6" --format ewf
set +e; "$bin" export "$out/ev/ev.raw" --out - --size 4096 >>"$out/ev/ev.raw" 2>"$out/log"; rc=$?; set -e
[ "$rc" = 2 ] && grep -q "Standard output is a file of the image" "$out/log"
[ "$(cd "$out/ev" && md5sum *)" = "$sums" ] || { echo "an input changed"; exit 1; }

# Damaged sets: a missing middle segment ends the copy with its own message
# (exit 1); with --continue-on-error it is written as zeros and listed (exit 4).
rm "$out/ev/mbr_encase6.E02"
expect 1 "^failed: the image could not be read at offset" export "$out/ev/mbr_encase6.E01" --out "$out/ev/cut"
grep -q "partial copy" "$out/ev/cut.raw.info"
expect 4 "^finished with damage: 1 unreadable range" export "$out/ev/mbr_encase6.E01" --out "$out/ev/zeros" --continue-on-error
grep -q "^unreadable: [0-9]* bytes at offset [0-9]*, written as zeros$" "$out/log"
grep -q "unreadable ranges written as zeros" "$out/ev/zeros.raw.info"
[ "$(stat -c %s "$out/ev/zeros.raw")" = 50331648 ]

# Ctrl-C: the copy to a pipe is held by a reader that waits; the export is
# stopped there, says so and exits 130.
mkfifo "$out/fifo"
"$bin" export "$e01" --out - >"$out/fifo" 2>"$out/log" & pid=$!
exec 3<"$out/fifo"
wait_for_sigint_handler "$pid"
sleep 1; kill -INT "$pid"; cat <&3 >/dev/null; exec 3<&-
set +e; wait "$pid"; rc=$?; set -e
[ "$rc" = 130 ] || { echo "Ctrl-C: exit $rc"; cat "$out/log"; exit 1; }
grep -q "^stopped: the output holds the first" "$out/log"
if grep -q "^done$" "$out/log"; then echo "Ctrl-C: says done"; exit 1; fi

# Command-line mistakes get their own message and exit 2.
: > "$out/empty.img"
expect 2 "empty.img is empty" volumes "$out/empty.img"
expect 2 "is a directory" carve "$out"
expect 2 "is a directory" info "$out"
expect 2 "unknown command 'x'" x "$raw"
expect 2 "needs a folder name" save "$raw" --out ''
expect 2 "needs a folder name" carve "$raw" --out ''
expect 2 "needs a name" export "$raw" --out ''
"$bin" --help | grep -q "^  130  stopped by Ctrl-C"

# A name with an escape sequence is printed escaped, never raw.
mkdir "$out/tree"; touch "$out/tree/"$'evil\x1b[31mname'
truncate -s 4M "$out/ctl.img"; mkfs.ext4 -q -F -d "$out/tree" "$out/ctl.img"
"$bin" ls "$out/ctl.img" 2>/dev/null > "$out/ls.txt"
grep -qF 'ROOT\evil\x1b[31mname' "$out/ls.txt"
if grep -q $'\x1b' "$out/ls.txt"; then echo "an escape sequence reached the terminal"; exit 1; fi

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
