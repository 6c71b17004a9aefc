#include "posix_seam.h"

namespace vk {
namespace {

posix_calls& table() {
  static posix_calls calls = system_posix_calls();
  return calls;
}

}  // namespace

const posix_calls& posix() {
  return table();
}

scoped_posix_calls::scoped_posix_calls(const posix_calls& calls) : m_previous(table()) {
  table() = calls;
}
scoped_posix_calls::~scoped_posix_calls() {
  table() = m_previous;
}

}  // namespace vk
