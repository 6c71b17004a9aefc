// Settings as a run without options has them, shared by the tests of one
// program so that its workspace serves test after test.
#pragma once

#include "cmdline/cmd_params.h"

namespace vesk_test {

inline const vk::cmd_params& default_params() {
  static const vk::cmd_params params;
  return params;
}

}  // namespace vesk_test
