// libFuzzer entry point of the exfat target.
#include "fuzz/volume_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return vesk_fuzz::run_exfat(data, size);
}
