// libFuzzer entry point of the partition_walk target.
#include "fuzz/volume_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return vesk_fuzz::run_partition_walk(data, size);
}
