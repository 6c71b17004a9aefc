#!/usr/bin/env bash
# Builds the shared tables' thread test with ThreadSanitizer in a build
# directory of its own (build-tsan) and runs it: the tables' first lookups
# made by several threads at once, then every lookup from each of them.
# Skips (exit 0, with a message) when no compiler with ThreadSanitizer or no
# GoogleTest is there.
#
#   VESK_TSAN_CXX  the compiler (default clang++-14, else g++)
set -euo pipefail
cd "$(dirname "$0")/.."

skip() {
  echo "tsan-tables: skipped: $*" >&2
  exit 0
}

command -v cmake >/dev/null || skip "cmake is not installed"
cxx=${VESK_TSAN_CXX:-}
if [ -z "$cxx" ]; then
  for c in clang++-14 g++; do
    command -v "$c" >/dev/null && { cxx=$c; break; }
  done
fi
[ -n "$cxx" ] || skip "neither clang++-14 nor g++ is installed"
# The runtime is a package of its own (libclang-rt-14-dev, libtsan2).
probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
printf 'int main() { return 0; }\n' >"$probe/p.cpp"
"$cxx" -fsanitize=thread "$probe/p.cpp" -o "$probe/p" >/dev/null 2>&1 && "$probe/p" ||
  skip "$cxx cannot build and run a ThreadSanitizer program here"

build=build-tsan
jobs=${VESK_BUILD_JOBS:-$(nproc 2>/dev/null || echo 2)}
# Unoptimized: a third quicker to build, and the test runs in a moment.
cmake -S . -B "$build" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=Debug \
      -DVESK_TSAN=ON -DVESK_BUILD_TESTS=ON
# Without GoogleTest the build has no tests.
cmake --build "$build" --target help | grep vesk_table_threads_test >/dev/null ||
  skip "GoogleTest is not installed"
cmake --build "$build" -j "$jobs" --target vesk_table_threads_test

TZ=UTC LANG=C.UTF-8 TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:exitcode=66} \
  "$build/jumplist/vesk_table_threads_test" </dev/null
