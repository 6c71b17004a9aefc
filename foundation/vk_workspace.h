// The scratch space of one run: buffers, pools, caches and the parse guard
// that routines reuse from call to call. The driver owns it (inside the
// settings) and hands it down, so what one call leaves for the next is in
// plain sight instead of in hidden per-thread state.
//
// Each library keeps its own part, a default-constructible type made on
// first use and kept until the workspace goes; parts go in the reverse order
// of their making, so a part may lean on one made before it.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <new>
#include <vector>

namespace vk {

class workspace {
 public:
  workspace() = default;
  workspace(const workspace&) = delete;
  workspace& operator=(const workspace&) = delete;
  ~workspace() { clear(); }

  // The part of type T, made on first use.
  template <class T>
  T& part() {
    const size_t slot = slot_of<T>();
    if (slot < m_parts.size() && m_parts[slot]) return *static_cast<T*>(m_parts[slot]);
    return make<T>(slot);
  }

  // The same, or null when the part cannot be made (out of memory).
  template <class T>
  T* try_part() noexcept {
    try {
      return &part<T>();
    } catch (...) {
      return nullptr;
    }
  }

  // Lets every part go (newest first); the next use makes them again.
  void clear() noexcept {
    for (auto it = m_order.rbegin(); it != m_order.rend(); ++it) {
      m_drops[*it](m_parts[*it]);
      m_parts[*it] = nullptr;
    }
    m_order.clear();
  }

 private:
  using drop_fn = void (*)(void*) noexcept;

  // Each part type gets its own slot number once per process.
  static size_t next_slot() noexcept {
    static std::atomic<size_t> next{0};
    return next.fetch_add(1, std::memory_order_relaxed);
  }
  template <class T>
  static size_t slot_of() noexcept {
    static const size_t slot = next_slot();
    return slot;
  }

  template <class T>
  T& make(size_t slot) {
    // The slot tables grow together; a growth cut short by a failed
    // allocation is finished by the next call.
    if (m_drops.size() <= slot) {
      m_parts.resize(slot + 1, nullptr);
      m_drops.resize(slot + 1, nullptr);
    }
    m_order.reserve(m_order.size() + 1);
    T* made = new T();
    m_parts[slot] = made;
    m_drops[slot] = [](void* p) noexcept { delete static_cast<T*>(p); };
    m_order.push_back(slot);
    return *made;
  }

  std::vector<void*> m_parts;
  std::vector<drop_fn> m_drops;
  std::vector<size_t> m_order;
};

// Kept only for the report writers that still take their scratch from the
// workspace: the count it kept has no reader any more, so it counts nothing
// (a parse says memory that ran out in its own result).
inline void count_guard_failure(workspace&) noexcept {}

}  // namespace vk
