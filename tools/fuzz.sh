#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in a build directory of their own
# (build-fuzz) and runs each one on its seeds, as many at once as there are
# processors (or targets, when fewer).
#
#   VESK_FUZZ_SECONDS  seconds per target (default 60)
#   VESK_FUZZ_RUNS     executions per target instead of a time (e.g. 1000000)
#   VESK_FUZZ_PARALLEL targets run at once (default: processors, at most the
#                      number of targets)
#   VESK_FUZZ_TARGETS  the targets to run (default all)
#   VESK_FUZZ_ARGS     more libFuzzer flags (e.g. -fork=2 for parallel jobs)
#
# Any crash, sanitizer or leak report, timeout (1 s per input) or memory
# excess (256 MB) fails the run; the logs and the failing inputs are in
# build-fuzz/fuzz/work/. The samples folder beside the project, when there,
# adds seeds cut from its files (unless VESK_FUZZ_SAMPLE_SEEDS=no).
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-packages.sh clang-14 libclang-rt-14-dev

targets=(${VESK_FUZZ_TARGETS:-compound_file destlist lnk idlist property_storage driver shell_item})
[ -n "${VESK_FUZZ_TARGETS:-}" ] || targets+=(partition_walk boot_sector fat exfat ext
                                                   file_record mft cluster_runs usn_secure field_dump)
build=build-fuzz
jobs=${VESK_BUILD_JOBS:-$(nproc 2>/dev/null || echo 2)}
cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DVESK_FUZZ=ON -DVESK_BUILD_TESTS=OFF
cmake --build "$build" -j "$jobs" --target vesk_fuzz_written_seeds \
      "${targets[@]/#/vesk_fuzz_}"

fuzz="$build/fuzz"
work="$fuzz/work"
mkdir -p "$work"
samples=$(cd .. && pwd)/shared/samples
if [ "${VESK_FUZZ_SAMPLE_SEEDS:-yes}" = no ]; then
  samples=
else
  rm -rf "$fuzz/seeds/samples"
fi
if [ -n "$samples" ] && [ -d "$samples" ]; then
  ASAN_OPTIONS=detect_leaks=0 "$fuzz/vesk_fuzz_seeds" "$fuzz/seeds" "$samples"
fi

if [ -n "${VESK_FUZZ_RUNS:-}" ]; then
  length=(-runs="$VESK_FUZZ_RUNS")
else
  length=(-max_total_time="${VESK_FUZZ_SECONDS:-60}")
fi

run_target() {
  local t=$1 max_len=16384 quiet=()
  case $t in compound_file | driver | partition_walk | fat | exfat | ext | file_record | mft | \
            cluster_runs) max_len=65536 ;; esac
  # The driver's roads report refused files on standard error, and the
  # partition walks damaged GPT headers and cut extended chains, the ext walk
  # trees and maps that loop and checksums that fail, the exFAT walk sets
  # whose checksum fails.
  case $t in driver | partition_walk | ext | exfat) quiet=(-close_fd_mask=2) ;; esac
  mkdir -p "$work/corpus/$t" "$work/artifacts"
  local seeds=("$fuzz/seeds/written/$t")
  [ -n "$samples" ] && [ -d "$fuzz/seeds/samples/$t" ] && seeds+=("$fuzz/seeds/samples/$t")
  local start end rc=0
  start=$(date +%s)
  "$fuzz/vesk_fuzz_$t" "${length[@]}" -timeout=1 -rss_limit_mb=256 -malloc_limit_mb=256 \
    -max_len=$max_len -dict="fuzz/dict/$t.dict" -print_final_stats=1 -detect_leaks=1 \
    -artifact_prefix="$work/artifacts/$t-" "${quiet[@]}" ${VESK_FUZZ_ARGS:-} \
    "$work/corpus/$t" "${seeds[@]}" >"$work/$t.log" 2>&1 || rc=$?
  end=$(date +%s)
  echo "wall_seconds: $((end - start))" >>"$work/$t.log"
  return $rc
}

# A small quarantine keeps ASan's own memory well inside the 256 MB limit.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:quarantine_size_mb=16:malloc_context_size=10}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# The driver and disk targets write their input to a file for every run: a
# memory-backed folder spares the disk.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi
cpus=$(nproc 2>/dev/null || echo 2)
parallel=${VESK_FUZZ_PARALLEL:-$((cpus < ${#targets[@]} ? cpus : ${#targets[@]}))}
declare -A pids=()
failed=()
for t in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$parallel" ]; do wait -n || true; done
  run_target "$t" &
  pids[$t]=$!
done
for t in "${targets[@]}"; do
  wait "${pids[$t]}" || failed+=("$t")
done

for t in "${targets[@]}"; do
  log="$work/$t.log"
  done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE|^#[0-9]+: cov' "$log" | tail -1 || true)
  stats=$(grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$log" |
          tr '\n' ' ' || true)
  echo "$t: ${done_line:-no final line} ${stats}$(grep '^wall_seconds' "$log")"
done
if [ ${#failed[@]} -gt 0 ]; then
  for t in "${failed[@]}"; do
    echo "fuzz target $t failed; the end of $work/$t.log:" >&2
    tail -40 "$work/$t.log" >&2
  done
  exit 1
fi
