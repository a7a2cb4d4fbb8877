#!/usr/bin/env bash
# Makes the images bench_listing reads: the same tree of 100,000 small files
# (40,000 of them in one folder) as an ext4 volume (mkfs.ext4 -d) and as an
# HFS+ volume (xorriso, cut out of its Apple partition map).
# usage: make_listing_images.sh OUTDIR
set -euo pipefail
out="${1:?usage: make_listing_images.sh OUTDIR}"
export PATH="$PATH:/usr/sbin:/sbin"
mkdir -p "$out"
tree="$(mktemp -d)"
trap 'rm -rf "$tree"' EXIT
mkdir "$tree/big"
for i in $(seq 1 40000); do echo "file $i" > "$tree/big/f$i.txt"; done
for d in $(seq 1 120); do
  mkdir "$tree/d$d"
  for i in $(seq 1 500); do echo "file $d/$i" > "$tree/d$d/f$i.txt"; done
done
rm -f "$out/listing_ext4.img"
truncate -s 1G "$out/listing_ext4.img"
mkfs.ext4 -q -F -N 120000 -d "$tree" "$out/listing_ext4.img"
xorriso -as mkisofs -quiet -hfsplus -o "$out/listing_hfs.iso" "$tree" 2>/dev/null
# The HFS+ volume is the Apple_HFS partition of the map: its start block (at
# byte 8 of the entry, in 512-byte blocks) and length (byte 12).
python3 - "$out/listing_hfs.iso" "$out/listing_hfs.img" <<'PY'
import struct, sys
src, dst = sys.argv[1], sys.argv[2]
with open(src, 'rb') as f:
    data = f.read()
for blk in range(1, 64):
    e = data[blk * 512:(blk + 1) * 512]
    if e[:2] != b'PM':
        break
    start, count = struct.unpack('>II', e[8:16])
    if e[48:48 + 9] == b'Apple_HFS':
        with open(dst, 'wb') as o:
            o.write(data[start * 512:(start + count) * 512])
        sys.exit(0)
sys.exit('no Apple_HFS partition')
PY
rm -f "$out/listing_hfs.iso"
echo "$out/listing_ext4.img $out/listing_hfs.img"
