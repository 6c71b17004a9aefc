// libFuzzer entry point of the destlist target.
#include "fuzz/fuzz_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return vesk_fuzz::run_destlist(data, size);
}
