#!/usr/bin/env bash
# Runs two builds of `salvage` over every image of a fixture folder and
# diffs what they print: the volume lists (tables and the advanced search,
# with and without skipping), and for every volume the recursive JSON
# listing in each recovery mode, the Advanced mode's candidates and the
# carving engine's finds. Standard output, standard error and the exit code
# are compared. A check to run by hand after changing a scan; not a test.
#
# usage: bench/compare_outputs.sh OLD_SALVAGE NEW_SALVAGE FIXTURES_DIR
#   MAX_MB=1024  images larger than this many MB are left out (listed)
#   ONLY=GLOB    only images whose file name matches, e.g. ONLY='ntfs*'
set -u
old=$1 new=$2 dir=$3
max_mb=${MAX_MB:-1024}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
runs=0 diffs=0

# compare NAME ARGS...: runs both builds with ARGS and reports a difference.
compare() {
    local name=$1
    shift
    "$old" "$@" >"$work/old.out" 2>"$work/old.err" </dev/null
    echo "rc=$?" >>"$work/old.out"
    "$new" "$@" >"$work/new.out" 2>"$work/new.err" </dev/null
    echo "rc=$?" >>"$work/new.out"
    runs=$((runs + 1))
    if ! cmp -s "$work/old.out" "$work/new.out" || ! cmp -s "$work/old.err" "$work/new.err"; then
        diffs=$((diffs + 1))
        echo "DIFFERS: $name: salvage $*"
        diff "$work/old.out" "$work/new.out" | head -20
        diff "$work/old.err" "$work/new.err" | head -10
    fi
}

for image in "$dir"/*.img "$dir"/*.E01 "$dir"/*.dd "$dir"/*.raw; do
    [ -f "$image" ] || continue
    size_mb=$(( $(stat -c %s "$image") / 1048576 ))
    if [ "$size_mb" -gt "$max_mb" ]; then
        echo "left out (${size_mb} MB): $image"
        continue
    fi
    base=$(basename "$image")
    # shellcheck disable=SC2053
    [[ -n "${ONLY:-}" && $base != $ONLY ]] && continue
    compare "$base" volumes --json "$image"
    compare "$base" volumes --advanced --json "$image"
    compare "$base" volumes --advanced --no-skip --json "$image"
    # Every volume the tables list; an image without one is taken whole.
    mapfile -t volumes < <("$old" volumes --json "$image" 2>/dev/null |
        python3 -c 'import json,sys
try:
    for v in json.load(sys.stdin): print(v["volume"])
except Exception: pass')
    for v in "${volumes[@]}"; do
        for mode in standard advanced deep; do
            compare "$base#$v" ls -r --json --mode "$mode" --volume "$v" "$image"
        done
        compare "$base#$v" candidates --json --volume "$v" "$image"
        compare "$base#$v" carve --json --volume "$v" "$image"
    done
    # Without a listed volume the image is taken whole, as each file system
    # in turn (a volume with a wrecked boot sector is only read this way).
    if [ ${#volumes[@]} -eq 0 ]; then
        for fs in ntfs fat12 fat16 fat32 exfat HFS+; do
            for mode in standard advanced deep; do
                compare "$base/$fs" ls -r --json --mode "$mode" --fs "$fs" "$image"
            done
            compare "$base/$fs" candidates --json --fs "$fs" "$image"
        done
        compare "$base" carve --json "$image"
    fi
done
echo "$runs runs, $diffs differ"
[ "$diffs" -eq 0 ]
