// libFuzzer entry point of the field_dump target.
#include "fuzz/ntfs_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return vesk_fuzz::run_field_dump(data, size);
}
