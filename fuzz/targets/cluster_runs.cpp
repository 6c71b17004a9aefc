// libFuzzer entry point of the cluster_runs target.
#include "fuzz/ntfs_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return vesk_fuzz::run_cluster_runs(data, size);
}
