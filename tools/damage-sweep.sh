#!/bin/bash
# Damage sweep over jump lists: cuts, zeroed sectors and changed bytes, each
# seeded; fails when a damaged list gives fewer records than the sound one
# without a note and status 2 or 255 (see tools/damage-sweep.py).
#
# Usage: tools/damage-sweep.sh VESK [BUILD_DIR]
# The sound lists are written by vesk_sweep_lists, built in BUILD_DIR
# (default build-sweep); the sample lists of ../shared/samples are swept
# too when that folder is there (SAMPLES=DIR names another).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
[ $# -ge 1 ] || { echo "usage: $0 VESK [BUILD_DIR]" >&2; exit 2; }
vesk=$(realpath "$1")
build=${2:-$here/build-sweep}
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVESK_BUILD_TESTS=OFF > /dev/null
cmake --build "$build" -j4 --target vesk_sweep_lists > /dev/null
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
"$build/vesk_sweep_lists" "$tmp"
samples=${SAMPLES:-$here/../shared/samples}
exec /usr/bin/python3 "$here/tools/damage-sweep.py" "$vesk" "$tmp" "$samples"
