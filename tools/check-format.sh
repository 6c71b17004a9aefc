#!/usr/bin/env bash
# Fails when a tracked C++ file differs from its clang-format 14 form under the
# project's .clang-format; with --fix, formats those files in place instead.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-packages.sh clang-format-14

fix=0
[ "${1:-}" = "--fix" ] && fix=1

files=()
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  while IFS= read -r -d '' f; do files+=("$f"); done < <(git ls-files -z -- '*.cpp' '*.h')
else
  while IFS= read -r -d '' f; do files+=("$f"); done < \
    <(find . -path './build*' -prune -o \( -name '*.cpp' -o -name '*.h' \) -print0)
fi

differ=()
for f in "${files[@]}"; do
  clang-format-14 --style=file "$f" | cmp -s - "$f" || differ+=("$f")
done

if [ ${#differ[@]} -eq 0 ]; then
  echo "format: ${#files[@]} files as clang-format-14 writes them"
  exit 0
fi
if [ "$fix" -eq 1 ]; then
  clang-format-14 --style=file -i "${differ[@]}"
  echo "format: rewrote ${#differ[@]} files"
  exit 0
fi
echo "format: these files differ from their clang-format-14 form (tools/check-format.sh --fix):" >&2
printf '  %s\n' "${differ[@]}" >&2
exit 1
