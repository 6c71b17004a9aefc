// Why a walk over a structure stopped before the end of its data: the
// structure that failed, where it lay and what was wrong with it. Parsers hand
// one back beside their result flag; the caller that reports the file says
// it. The texts are static, so a fault is cheap to keep and to copy.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vk {

struct parse_fault {
  const char* structure = nullptr;  // e.g. "extra-data block"
  uint64_t offset = 0;              // from the first byte of the data the parser was handed
  const char* cause = nullptr;      // e.g. "declared size runs past the data"

  explicit operator bool() const noexcept { return structure != nullptr; }
};

// The faults one parse met: the first few distinct ones (same structure and
// cause count once), a count of the further ones it could not keep,
// and whether memory ran out under the parse. Trivially copyable, so a
// record holding it copies as plain values.
class parse_faults {
 public:
  static constexpr size_t k_kept = 4;

  // Keeps fault unless one of the same structure and cause is kept; past
  // k_kept it is counted instead.
  void add(const parse_fault& fault) noexcept {
    if (!fault) return;
    for (size_t i = 0; i < m_count; ++i)
      if (same_text(m_kept[i].structure, fault.structure) &&
          same_text(m_kept[i].cause, fault.cause))
        return;
    if (m_count < k_kept)
      m_kept[m_count++] = fault;
    else
      ++m_dropped;
  }
  // Keeps only the faults for which keep(fault) is true.
  template <class Keep>
  void keep_if(Keep&& keep) noexcept {
    size_t kept = 0;
    for (size_t i = 0; i < m_count; ++i)
      if (keep(m_kept[i])) m_kept[kept++] = m_kept[i];
    m_count = static_cast<uint8_t>(kept);
  }
  void set_out_of_memory() noexcept { m_out_of_memory = true; }
  void clear() noexcept { *this = parse_faults(); }

  size_t size() const noexcept { return m_count; }
  bool empty() const noexcept { return m_count == 0 && m_dropped == 0; }
  const parse_fault& operator[](size_t i) const noexcept { return m_kept[i]; }
  const parse_fault* begin() const noexcept { return m_kept.data(); }
  const parse_fault* end() const noexcept { return m_kept.data() + m_count; }
  // Faults met once the list was full, not among those kept.
  uint32_t dropped() const noexcept { return m_dropped; }
  bool out_of_memory() const noexcept { return m_out_of_memory; }

 private:
  static bool same_text(const char* a, const char* b) noexcept {
    return a == b || (a != nullptr && b != nullptr && std::strcmp(a, b) == 0);
  }
  std::array<parse_fault, k_kept> m_kept{};
  uint8_t m_count = 0;
  uint32_t m_dropped = 0;
  bool m_out_of_memory = false;
};

// The cause of a walk that the parse guard stopped.
inline constexpr const char* k_fault_work_limit = "the parse's work limit was reached";

}  // namespace vk
