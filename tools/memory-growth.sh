#!/bin/bash
# Peak memory of vesk as its input grows: six kinds of input at growing
# sizes, each row with the input's size, the peak resident set size
# (/usr/bin/time -f %M) and the records reported. Inputs are written by
# vesk_memory_inputs (tools/memory_inputs.cpp) into a temporary folder and
# removed at the end.
#
# Usage: tools/memory-growth.sh [BUILD_DIR]   (default build-rel, Release)
# VESK=path measures that program instead of the one built.
# Sizes per kind can be set by CARVE_MIB, SLACK_SECTORS, AUTOMATIC_ENTRIES,
# CUSTOM_LINKS, SAME_STREAM_ENTRIES and RAW_GIB (lists of numbers).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build-rel}
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build "$build" -j4 --target vesk vesk_memory_inputs > /dev/null
vesk=${VESK:-$build/jumplist/vesk}
gen=$build/vesk_memory_inputs
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT

row() {  # kind N file [vesk options...]
  local kind=$1 n=$2 file=$3; shift 3
  local rss status records
  set +e
  /usr/bin/time -o "$tmp/time" -f %M "$vesk" -quiet -csv "$@" "$file" > "$tmp/out" 2> "$tmp/err"
  status=$?
  set -e
  rss=$(tail -n 1 "$tmp/time")
  # The run header (3 lines), its empty line and the column names.
  records=$(($(wc -l < "$tmp/out") - 5))
  [ "$records" -lt 0 ] && records=0
  printf '%-11s %8s %12s %10s %9s %6s\n' "$kind" "$n" "$(stat -c %s "$file")" \
    "$((rss / 1024))" "$records" "$status"
}

printf '%-11s %8s %12s %10s %9s %6s\n' kind N bytes "peak MiB" records status
for n in ${CARVE_MIB:-4 16 64}; do
  "$gen" carve "$n" "$tmp/carve.bin"
  row carve-MiB "$n" "$tmp/carve.bin"
  rm -f "$tmp/carve.bin"
done
for n in ${SLACK_SECTORS:-1000 10000 100000}; do
  f=$tmp/5f7b5f1e01b83767.automaticDestinations-ms
  "$gen" slack "$n" "$f"
  row slack "$n" "$f" -slack
  rm -f "$f"
done
for n in ${AUTOMATIC_ENTRIES:-1000 10000 50000}; do
  f=$tmp/5f7b5f1e01b83767.automaticDestinations-ms
  "$gen" automatic "$n" "$f"
  row automatic "$n" "$f"
  rm -f "$f"
done
for n in ${CUSTOM_LINKS:-1000 10000 100000}; do
  f=$tmp/5f7b5f1e01b83767.customDestinations-ms
  "$gen" custom "$n" "$f"
  row custom "$n" "$f"
  rm -f "$f"
done
for n in ${SAME_STREAM_ENTRIES:-1000 10000 100000}; do
  f=$tmp/5f7b5f1e01b83767.automaticDestinations-ms
  "$gen" samestream "$n" "$f"
  row same-stream "$n" "$f"
  rm -f "$f"
done
for n in ${RAW_GIB:-1 2 4}; do
  "$gen" raw "$n" "$tmp/raw.bin"
  row raw-GiB "$n" "$tmp/raw.bin"
  rm -f "$tmp/raw.bin"
done
