// Settings as a run without options has them, and a link parser's scratch,
// each shared by the tests of one program so that the scratch serves test
// after test as a run's serves file after file.
#pragma once

#include "cmdline/cmd_params.h"
#include "jumplist/link_scratch.h"

namespace vesk_test {

inline const vk::cmd_params& default_params() {
  static const vk::cmd_params params;
  return params;
}

// The shell tests' scratch (the shell library alone).
inline vk::shell_scratch& test_shell_scratch() {
  static vk::shell_scratch scratch;
  return scratch;
}

// The link tests' scratch.
inline vk::link_scratch& test_scratch() {
  static vk::link_scratch scratch;
  return scratch;
}

}  // namespace vesk_test
