#!/usr/bin/env bash
# Makes the image bench_ntfs_listing reads: a 1 GiB NTFS volume with 100,000
# small files, 40,000 of them in one folder (ntfs-3g, about three minutes).
# usage: make_ntfs_listing_image.sh OUT.img
set -euo pipefail
out="${1:?usage: make_ntfs_listing_image.sh OUT.img}"
export PATH="$PATH:/usr/sbin:/sbin"
mnt="$(mktemp -d)"
trap 'umount "$mnt" 2>/dev/null || true; rmdir "$mnt"' EXIT
rm -f "$out"
truncate -s 1G "$out"
mkntfs -q -F -f -c 4096 "$out"
ntfs-3g "$out" "$mnt"
mkdir "$mnt/big"
for i in $(seq 1 40000); do echo "file $i" > "$mnt/big/f$i.txt"; done
for d in $(seq 1 120); do
  mkdir "$mnt/d$d"
  for i in $(seq 1 500); do echo "file $d/$i" > "$mnt/d$d/f$i.txt"; done
done
sync
umount "$mnt"
