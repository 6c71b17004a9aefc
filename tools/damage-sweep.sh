#!/bin/bash
# Damage sweep over jump lists and links: cuts, zeroed sectors, changed,
# inserted and deleted bytes, declared sizes grown and shrunk, sectors
# duplicated and swapped, cross-linked chains, appended bytes, header bits,
# LinkFlags, block signatures, LinkInfo offsets, DestList, compound-file and
# custom-list fields, storages nested in items and two damages together, each
# seeded; fails when a damaged file whose bytes contradict themselves loses
# or changes fields without a note and status 2 or 255, or when a sound one
# gives a note (see tools/damage-sweep.py).
#
# Usage: tools/damage-sweep.sh VESK [BUILD_DIR]
# The sound files are written by vesk_sweep_lists, built in BUILD_DIR
# (default build-sweep); the sample lists and links of ../shared/samples are
# swept too when that folder is there (SAMPLES=DIR names another).
# SWEEP_JOBS sets how many files are swept at once (default 2); SWEEP_OPTS
# adds options (--list-silent FILE).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
[ $# -ge 1 ] || { echo "usage: $0 VESK [BUILD_DIR]" >&2; exit 2; }
vesk=$(realpath "$1")
build=${2:-$here/build-sweep}
# A build folder already configured (CI's release build) keeps its options.
[ -f "$build/CMakeCache.txt" ] ||
  cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVESK_BUILD_TESTS=OFF > /dev/null
cmake --build "$build" -j2 --target vesk_sweep_lists > /dev/null
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
"$build/vesk_sweep_lists" "$tmp"
samples=${SAMPLES:-$here/../shared/samples}
exec /usr/bin/python3 "$here/tools/damage-sweep.py" -j "${SWEEP_JOBS:-2}" ${SWEEP_OPTS:-} \
  "$vesk" "$tmp" "$samples"
