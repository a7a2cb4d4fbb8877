#!/usr/bin/env bash
# Runs every fuzz harness (or the ones named) for SECONDS each, one after
# the other, on its corpus: build/<preset>/fuzz-corpus/<harness> (grown by
# the run; seeded by tests/fuzz/make_seeds.sh) plus the kept seeds and
# reproducers in tests/fuzz/{seeds,regressions}/<harness>.
#
#   tests/fuzz/run.sh SECONDS [HARNESS...]
#
# Needs the `fuzz` preset built (cmake --build --preset fuzz --target fuzzers).
# A crash, a hang over 10 s, a leak or a sanitizer report stops that
# harness; its input is kept in build/<preset>/fuzz-artifacts/<harness>/ and
# the script ends with status 1 after running the rest. Figures go to
# build/<preset>/fuzz-summary.txt (or $SALVAGE_FUZZ_SUMMARY, so that two runs
# on two cores keep their own). With SALVAGE_FUZZ_RUNS=N a harness also
# stops after N executions, whichever comes first:
#
#   SALVAGE_FUZZ_RUNS=10000000 tests/fuzz/run.sh 1800     # the full campaign
#
# SALVAGE_FUZZ_SEED=N fixes the fuzzer's random seed (the CI smoke run does,
# so that a run repeats on the same build and seeds).
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
seconds="${1:?usage: run.sh SECONDS [HARNESS...]}"
shift
build="${SALVAGE_FUZZ_BUILD:-$root/build/fuzz}"

all=(partitions ntfs ntfs_advanced ntfs_deep lznt1
     fat12 fat16 fat16_advanced fat32 fat32_advanced fat32_formatted exfat exfat_advanced
     ext hfsplus hfsplus_search carve search ewf export)
harnesses=("$@")
[ ${#harnesses[@]} -eq 0 ] && harnesses=("${all[@]}")

# Largest input per harness: enough for the seeds' structures (the boot
# sector, the tables and the first MFT records, inode tables or B-tree
# nodes), small enough that one execution stays short.
max_len() {
  case "$1" in
    lznt1) echo 70000 ;;
    search) echo 4096 ;;
    partitions) echo 524288 ;;
    *) echo 262144 ;;
  esac
}

summary="${SALVAGE_FUZZ_SUMMARY:-$build/fuzz-summary.txt}"
runs_limit=()
[ -n "${SALVAGE_FUZZ_RUNS:-}" ] && runs_limit=(-runs="$SALVAGE_FUZZ_RUNS")
[ -n "${SALVAGE_FUZZ_SEED:-}" ] && runs_limit+=(-seed="$SALVAGE_FUZZ_SEED")
: > "$summary"
failed=0
for h in "${harnesses[@]}"; do
  bin="$build/tests/fuzz/fuzz_$h"
  if [ ! -x "$bin" ]; then
    echo "run.sh: $bin is not built" >&2
    failed=1
    continue
  fi
  corpus="$build/fuzz-corpus/$h"
  artifacts="$build/fuzz-artifacts/$h"
  mkdir -p "$corpus" "$artifacts"
  extra=()
  for d in "$here/seeds/$h" "$here/regressions/$h"; do
    [ -d "$d" ] && extra+=("$d")
  done
  log="$build/fuzz-logs/$h.log"
  mkdir -p "$(dirname "$log")"
  echo "== $h ($seconds s)" >&2
  start=$(date +%s)
  # Each run's scratch folders in one place, removed afterwards even when
  # the harness ended on a crash or a hang (its exit handlers do not run then).
  scratch="$(mktemp -d "${SALVAGE_FUZZ_SCRATCH:-/dev/shm}/salvage-fuzz-run.XXXXXX" 2>/dev/null || mktemp -d)"
  TMPDIR="$scratch" "$bin" -max_total_time="$seconds" "${runs_limit[@]}" -max_len="$(max_len "$h")" -timeout=10 -rss_limit_mb=2560 \
    -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" "${extra[@]}" > "$log" 2>&1
  rc=$?
  rm -rf "$scratch"
  took=$(( $(date +%s) - start ))
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*')
  units=$(ls "$corpus" | wc -l)
  status=ok
  if [ $rc -ne 0 ]; then
    status="FAILED (rc $rc, see $log)"
    failed=1
    grep -E 'ERROR|SUMMARY|Test unit written' "$log" | head -5 >&2
  fi
  printf '%-16s %10s execs %5s s  cov %6s  corpus %5s  %s\n' "$h" "${runs:-?}" "$took" "${cov:-?}" "$units" "$status" |
    tee -a "$summary" >&2
done
exit $failed
