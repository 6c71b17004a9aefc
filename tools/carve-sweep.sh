#!/bin/bash
# Carve sweep: written lists, custom lists and links (and the samples, when
# there) laid out as dumps are, across the carve's chunk and read-window
# edges, back to back, behind a leading compound file, nested and inside
# volume images; every entry must be reported once with its source type, no
# row may match nothing and no note may come from sound bytes (see
# tools/carve-sweep.py). Prints recall, duplicates, junk and notes per
# layout; exits 1 on anything short of perfect.
#
# Usage: tools/carve-sweep.sh BUILD_DIR     (a Release build; vesk and
#        vesk_carve_inputs are built there when missing)
# VESK=path sweeps that program instead; SAMPLES=DIR names the samples
# (default ../shared/samples); SWEEP_JOBS sets the runs at once (default 2).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: carve-sweep.sh BUILD_DIR}
cmake --build "$build" --target vesk vesk_carve_inputs > /dev/null
vesk=${VESK:-$build/jumplist/vesk}
tmp=$(mktemp -d "${TMPDIR:-/tmp}/carve.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
"$build/vesk_carve_inputs" "$tmp"
samples=${SAMPLES:-$here/../shared/samples}
exec /usr/bin/python3 "$here/tools/carve-sweep.py" -j "${SWEEP_JOBS:-2}" "$vesk" "$tmp" "$samples"
