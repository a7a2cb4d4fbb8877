#!/usr/bin/env bash
# salvage search on ext4, HFS+ and FAT16 volumes of one known tree.
set -euo pipefail
bin="$1"; fixtures="$2"
fail() { echo "FAIL: $*"; exit 1; }

# The paths of a search's rows, lower-cased (FAT16 shows short names in capitals), sorted.
paths() { "$bin" search "$@" --json 2>/dev/null | python3 -c '
import json, sys
print("\n".join(sorted(r["path"].lower() for r in json.load(sys.stdin))))'; }

for fs in ext hfs fat16; do
  img="$fixtures/search_$fs.img"
  [ -f "$img" ] || fail "fixture $img missing"

  got="$(paths "$img" 'jpg|png')"
  want='root\a.jpg
root\b.png
root\backup.jpg.old
root\jpgs_empty
root\photos\c.jpg
root\photos\deep\d.png'
  [ "$got" = "$want" ] || fail "$fs: jpg|png gave:
$got"

  got="$(paths "$img" '.*\.jpg$')"
  want='root\a.jpg
root\photos\c.jpg'
  [ "$got" = "$want" ] || fail "$fs: .*\\.jpg\$ gave:
$got"

  # Folders are walked, not matched (the top-level empty folder is the exception).
  got="$(paths "$img" 'photos|deep')"
  [ -z "$got" ] || fail "$fs: folders matched: $got"

  # A pattern that is not a regular expression is refused, with a non-zero exit.
  if err="$("$bin" search "$img" '*.jpg' 2>&1)"; then fail "$fs: *.jpg accepted"; fi
  grep -q "such characters are not allowed for search.Try again with different pattern." <<<"$err" \
    || fail "$fs: no refusal message: $err"
done

# NTFS lists folders too, and deleted entries.
ntfs="$fixtures/ntfs.img"
[ -f "$ntfs" ] || fail "fixture $ntfs missing"
got="$(paths "$ntfs" '^deep')"
[ "$got" = 'root\docs\deep
root\docs\deep\deeper' ] || fail "ntfs folders: $got"
paths "$ntfs" '.*\.bin$' | grep -Fx 'root\deldir\inner\lost.bin' >/dev/null || fail "ntfs deleted file not found"

# The text listing: the five columns and the path.
out="$("$bin" search "$fixtures/search_ext.img" 'mp3' 2>/dev/null)"
grep -Eq '^-   .* 3\.91 KB +.* ROOT\\music\\song\.mp3$' <<<"$out" || fail "text row: $out"
echo "search: ok"
