#!/usr/bin/env bash
# Evidence integrity: every command run over an EWF image and a raw image
# leaves the image files byte for byte as they were (content hash, size,
# mode, modification and change times, and no new file beside them), and
# no command opens an image file for writing:
# - the images are made read-only (0444, in a read-only folder) and, when
#   the test runs as root, the commands run as an unprivileged user, so a
#   write could not succeed even by accident;
# - when strace works here, every open of an image file is recorded and any
#   with write, create or truncate flags (or a truncate call) fails the test.
set -euo pipefail
bin="$1"; fixtures="$2"
src_e01="$fixtures/mbr_encase6.E01"; src_raw="$fixtures/mbr_disk.img"
for f in "$src_e01" "$src_raw"; do [ -f "$f" ] || { echo "fixture $f missing"; exit 1; }; done
fail() { echo "integrity: $*"; exit 1; }

tmp="$(mktemp -d)"
cleanup() { chmod -R u+w "$tmp" 2>/dev/null || true; rm -rf "$tmp"; }
trap cleanup EXIT
chmod 0755 "$tmp"
mkdir "$tmp/evidence" "$tmp/out"
cp "$src_raw" "$tmp/evidence/disk.img"
for seg in "$fixtures"/mbr_encase6.[Ee]0[0-9]; do cp "$seg" "$tmp/evidence/"; done
chmod 0444 "$tmp"/evidence/*
chmod 0555 "$tmp/evidence"
e01="$tmp/evidence/mbr_encase6.E01"; raw="$tmp/evidence/disk.img"
[ "$(ls "$tmp/evidence" | wc -l)" -ge 3 ] || fail "the EWF set has fewer than two segments"

fingerprint() {
  (cd "$tmp/evidence" && ls -A && sha256sum -- * && stat -c '%n %s %a %Y %Z %.9y %.9z' -- *)
}
# Change times must not move either; wait a little so a change shows.
before="$(fingerprint)"
sleep 1.1

# Who runs the commands: an unprivileged user when we are root and the
# program is reachable for it, else ourselves (the read-only bits then
# only stop writes by accident, and strace is the proof).
runas=()
if [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null; then
  cand=(setpriv --reuid=65534 --regid=65534 --clear-groups --)
  chown 65534:65534 "$tmp/out"
  if "${cand[@]}" test -x "$bin" -a -r "$e01" -a -w "$tmp/out"; then
    runas=("${cand[@]}")
  else
    echo "integrity: NOTE the program is not reachable as an unprivileged user; running as root" >&2
  fi
fi
tracer=()
if command -v strace >/dev/null && strace -f -qq -o /dev/null true 2>/dev/null; then
  tracer=(strace -f -qq -e trace=open,openat,openat2,creat,truncate -o)
else
  echo "integrity: NOTE strace is not usable here; relying on read-only files and the fingerprint" >&2
fi

# A sanitizer build's leak check cannot run under strace; leaks are not
# what this test looks for.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"

n=0
run() {  # run NAME ARGS...: a command over the images; a crash fails the test
  local name="$1"; shift
  n=$((n + 1))
  local rc=0
  if [ ${#tracer[@]} -gt 0 ]; then
    "${tracer[@]}" "$tmp/trace.$n" "${runas[@]}" "$bin" "$@" >"$tmp/log.$n" 2>&1 || rc=$?
  else
    "${runas[@]}" "$bin" "$@" >"$tmp/log.$n" 2>&1 || rc=$?
  fi
  [ "$rc" -lt 128 ] || { tail -5 "$tmp/log.$n"; fail "$name ended by signal (exit $rc)"; }
  echo "$name: exit $rc" >&2
  last_rc=$rc
}
ok() {  # ok NAME ARGS...: as run, and the command must succeed
  run "$@"
  [ "$last_rc" = 0 ] || { tail -5 "$tmp/log.$n"; fail "$1 failed (exit $last_rc)"; }
}

for img in "$e01" "$raw"; do
  k="$(basename "$img")"
  o="$tmp/out/$k"
  if [ "$img" = "$e01" ]; then ok "info $k" info "$img"; else run "info $k" info "$img"; fi
  run "info --json $k" info --json "$img"
  ok "volumes $k" volumes "$img"
  run "volumes --json $k" volumes --json "$img"
  ok "volumes --advanced $k" volumes --advanced "$img"
  run "volumes --advanced --no-skip $k" volumes --advanced --no-skip "$img"
  # Every volume of the table: NTFS, FAT16, ext4, FAT32.
  for v in 0 1 2 3; do
    ok "ls $k $v" ls "$img" --volume "$v" -r
    run "ls --deleted $k $v" ls "$img" --volume "$v" -r --deleted --json
    run "save $k $v" save "$img" --volume "$v" --out "$o/save$v"
    run "search $k $v" search "$img" --volume "$v" 'txt|bin'
    ok "carve $k $v" carve "$img" --volume "$v" --out "$o/carve$v"
  done
  run "ls advanced $k" ls "$img" --volume 0 --mode advanced -r
  ok "ls deep $k" ls "$img" --volume 0 --mode deep -r
  run "candidates $k" candidates "$img" --volume 1
  run "carve whole $k" carve "$img"
  ok "export raw $k" export "$img" --out "$o/copy.raw"
  ok "export ewf $k" export "$img" --out "$o/copy.E01" --format ewf
  ok "export range $k" export "$img" --out "$o/range" --offset 1048576 --size 65536
done

# The commands did their work (so the test is not vacuous).
[ -s "$tmp/out/disk.img/copy.raw" ] || fail "export wrote nothing"
cmp -s "$tmp/out/disk.img/copy.raw" "$raw" || fail "the raw export differs from the image"
cmp -s "$tmp/out/mbr_encase6.E01/copy.raw" "$raw" || fail "the EWF export differs from the raw image"
[ -n "$(find "$tmp/out" -path '*save*' -type f -name 'hello.txt')" ] || fail "save wrote no hello.txt"

after="$(fingerprint)"
if [ "$before" != "$after" ]; then
  diff <(echo "$before") <(echo "$after") || true
  fail "an image file changed"
fi

if [ ${#tracer[@]} -gt 0 ]; then
  opened=$(cat "$tmp"/trace.* | grep -c "$tmp/evidence/" || true)
  [ "$opened" -gt 0 ] || fail "strace saw no open of an image file"
  if bad=$(cat "$tmp"/trace.* | grep "$tmp/evidence/" |
           grep -E 'O_WRONLY|O_RDWR|O_CREAT|O_TRUNC|O_APPEND|^[0-9]+ +(creat|truncate)\('); then
    echo "$bad" | head
    fail "an image file was opened for writing"
  fi
  echo "integrity: $opened opens of image files, all read-only" >&2
fi
echo "integrity: $n commands, images unchanged${runas:+, run as uid 65534}"
