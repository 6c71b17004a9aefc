// The test programs' system-call table: posix() answers from a table that
// scoped_posix_calls replaces for its lifetime (posix_seam.cpp, linked into
// every test program in place of the library's posix()), so that a test can
// make any system call fail or answer as another machine would.
#pragma once

#include "foundation/vk_posix.h"

namespace vk {

// Installs a replacement table for its lifetime and restores the previous
// one afterwards.
class scoped_posix_calls {
 public:
  explicit scoped_posix_calls(const posix_calls& calls);
  ~scoped_posix_calls();
  scoped_posix_calls(const scoped_posix_calls&) = delete;
  scoped_posix_calls& operator=(const scoped_posix_calls&) = delete;

 private:
  posix_calls m_previous;
};

}  // namespace vk
