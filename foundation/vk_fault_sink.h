// Where one parse leaves every way it stopped short: the structure, its
// offset and the cause (parse_fault), running out of memory among the causes.
// The parse's owner (a link record) holds the sink and hands it down with
// the parse context; the walks record into it, the drivers word the file's
// notes from it. Nothing here allocates or throws, so recording costs nothing
// on sound input and works when memory is gone.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "foundation/vk_parse_fault.h"

namespace vk {

// The cause of a routine that gave a shorter result for want of memory.
inline constexpr const char* k_fault_out_of_memory = "out of memory";

// The first few distinct faults (same structure and cause count once), a
// count of the further ones it could not keep, and how often memory ran
// out. Trivially copyable, so a record holding it copies as plain values.
class fault_sink {
 public:
  static constexpr size_t k_kept = 4;

  // Keeps fault unless one of the same structure and cause is kept; past
  // k_kept it is counted instead. Out of memory is counted apart: it is said
  // once per link, by the caller that knows what the link was.
  void add(const parse_fault& fault) noexcept {
    if (!fault) return;
    if (same_text(fault.cause, k_fault_out_of_memory)) {
      add_out_of_memory();
      return;
    }
    for (size_t i = 0; i < m_count; ++i)
      if (same_text(m_kept[i].structure, fault.structure) &&
          same_text(m_kept[i].cause, fault.cause))
        return;
    if (m_count < k_kept)
      m_kept[m_count++] = fault;
    else
      ++m_dropped;
  }
  void add(const char* structure, uint64_t offset, const char* cause) noexcept {
    add(parse_fault{structure, offset, cause});
  }
  // A walk's fault, its offset counted from base (where the walk's data
  // lies in the sink's).
  void add_at(parse_fault fault, uint64_t base) noexcept {
    if (!fault) return;
    fault.offset += base;
    add(fault);
  }
  void add_out_of_memory() noexcept { ++m_out_of_memory; }
  // Keeps only the faults for which keep(fault) is true.
  template <class Keep>
  void keep_if(Keep&& keep) noexcept {
    size_t kept = 0;
    for (size_t i = 0; i < m_count; ++i)
      if (keep(m_kept[i])) m_kept[kept++] = m_kept[i];
    m_count = static_cast<uint8_t>(kept);
  }
  void clear() noexcept { *this = fault_sink(); }

  size_t size() const noexcept { return m_count; }
  // No fault kept or counted (out of memory aside).
  bool empty() const noexcept { return m_count == 0 && m_dropped == 0; }
  const parse_fault& operator[](size_t i) const noexcept { return m_kept[i]; }
  const parse_fault* begin() const noexcept { return m_kept.data(); }
  const parse_fault* end() const noexcept { return m_kept.data() + m_count; }
  // Faults met once the list was full, not among those kept.
  uint32_t dropped() const noexcept { return m_dropped; }
  bool out_of_memory() const noexcept { return m_out_of_memory != 0; }
  // How often memory ran out: a caller tells what one call added.
  uint32_t out_of_memory_count() const noexcept { return m_out_of_memory; }

 private:
  static bool same_text(const char* a, const char* b) noexcept {
    return a == b || (a != nullptr && b != nullptr && std::strcmp(a, b) == 0);
  }
  std::array<parse_fault, k_kept> m_kept{};
  uint8_t m_count = 0;
  uint32_t m_dropped = 0;
  uint32_t m_out_of_memory = 0;
};

}  // namespace vk
