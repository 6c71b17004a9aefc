// Why a walk over a structure stopped before the end of its data: the
// structure that failed, where it lay and what was wrong with it. A parse
// leaves each one in its fault_sink (foundation/vk_fault_sink.h), whose
// owner says it with the file. The texts are static, so a fault is cheap to
// keep and to copy.
#pragma once

#include <cstdint>

namespace vk {

struct parse_fault {
  const char* structure = nullptr;  // e.g. "extra-data block"
  uint64_t offset = 0;              // from the first byte of the data the parser was handed
  const char* cause = nullptr;      // e.g. "declared size runs past the data"

  explicit operator bool() const noexcept { return structure != nullptr; }
};

// The cause of a walk that the parse guard stopped.
inline constexpr const char* k_fault_work_limit = "the parse's work limit was reached";
// The cause of a structure the parse guard did not enter: nested deeper
// than the guard allows.
inline constexpr const char* k_fault_depth_limit = "nested too deep: the inner structures not read";

}  // namespace vk
