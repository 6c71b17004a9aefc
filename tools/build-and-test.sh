#!/usr/bin/env bash
# Installs what the build and the tests need (Debian packages), builds with
# AddressSanitizer and UndefinedBehaviorSanitizer, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-packages.sh cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev ntfs-3g dosfstools mtools e2fsprogs exfatprogs fdisk gdisk sleuthkit python3-libfwsi python3-liblnk

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVESK_SANITIZE=ON
cmake --build build-asan -j "$jobs"
export TZ=UTC LANG=C.UTF-8
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
ctest --test-dir build-asan --output-on-failure -j "$jobs" </dev/null
