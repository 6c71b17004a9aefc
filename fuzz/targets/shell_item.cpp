// libFuzzer entry point of the shell_item target.
#include "fuzz/shell_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return vesk_fuzz::run_shell_item(data, size);
}
