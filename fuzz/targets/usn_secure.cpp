// libFuzzer entry point of the usn_secure target.
#include "fuzz/ntfs_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return vesk_fuzz::run_usn_secure(data, size);
}
