// libFuzzer entry point of the compound file target.
#include "fuzz/fuzz_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return vesk_fuzz::run_compound_file(data, size);
}
