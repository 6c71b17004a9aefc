#!/bin/bash
# Differential check of vesk's link fields against pylnk (python3-liblnk,
# installed here when missing): a few thousand seeded links, each read by
# both; fails on a silent difference (see tools/pylnk-diff.py). Skipped,
# saying so, without /usr/bin/python3 or pylnk.
#
# Usage: tools/pylnk-diff.sh VESK [COUNT [SEED]]
# PYLNK_DIFF_KEEP=DIR keeps the written links there.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
[ $# -ge 1 ] || { echo "usage: $0 VESK [COUNT [SEED]]" >&2; exit 2; }
vesk=$(realpath "$1")
shift
# Debian's module serves Debian's python only (python3 on PATH may be another).
if ! /usr/bin/python3 -c 'import pylnk' 2>/dev/null; then
  "$here/tools/install-packages.sh" python3-liblnk > /dev/null 2>&1 || true
fi
if [ ! -x /usr/bin/python3 ]; then
  echo "pylnk-diff: /usr/bin/python3 is not installed; skipped" >&2
  exit 0
fi
exec /usr/bin/python3 "$here/tools/pylnk-diff.py" "$vesk" "$@"
