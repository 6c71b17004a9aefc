// Values by offset in the source, for the claims a carve keeps on each
// link it reports: a sorted array, with the values met out of order kept in
// a map and merged into it now and then. A list's links mostly come in
// order, and a place in the array costs half a map's node.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <map>
#include <utility>
#include <vector>

namespace vk {

// Gone tells a value let go (gone(v)) and makes one so (let_go(v)): a
// place in the array let go stays until it is used again or merged away.
template <class T, class Gone>
class offset_table {
 public:
  T* find(uint64_t offset) {
    const auto at = place(offset);
    if (at != m_sorted.end() && at->first == offset)
      return Gone::gone(at->second) ? nullptr : &at->second;
    const auto late = m_late.find(offset);
    return late != m_late.end() ? &late->second : nullptr;
  }
  const T* find(uint64_t offset) const { return const_cast<offset_table*>(this)->find(offset); }
  // The value at offset, and whether it is the one given (there was none).
  std::pair<T*, bool> try_emplace(uint64_t offset, T&& value) {
    const auto at = place(offset);
    if (at != m_sorted.end() && at->first == offset) {
      if (!Gone::gone(at->second)) return {&at->second, false};
      at->second = std::move(value);
      return {&at->second, true};
    }
    if (const auto late = m_late.find(offset); late != m_late.end()) return {&late->second, false};
    if (at == m_sorted.end()) {
      m_sorted.emplace_back(offset, std::move(value));
      return {&m_sorted.back().second, true};
    }
    if (m_late.size() >= std::max(k_least_late, m_sorted.size() / 8)) {
      merge();
      return try_emplace(offset, std::move(value));
    }
    return {&m_late.emplace(offset, std::move(value)).first->second, true};
  }
  void erase(uint64_t offset) {
    const auto at = place(offset);
    if (at != m_sorted.end() && at->first == offset) {
      at->second = T{};
      Gone::let_go(at->second);
    } else {
      m_late.erase(offset);
    }
  }
  template <class F>
  void erase_if(F&& drop) {
    std::erase_if(m_sorted, [&](item& x) { return Gone::gone(x.second) || drop(x.second); });
    m_front = 0;  // what lay before it was let go, and is gone with the rest
    std::erase_if(m_late, [&](auto& x) { return drop(x.second); });
  }
  // f on each value, the array's, then the late ones.
  template <class F>
  void each(F&& f) {
    for (auto it = front(); it != m_sorted.end(); ++it)
      if (!Gone::gone(it->second)) f(it->second);
    for (auto& [offset, value] : m_late) f(value);
  }
  // Values before offset are let go at once; the array's front moves past
  // them, and it is moved down only once as much lies before its front as
  // after it, so that passing costs each value once, however many remain.
  void erase_before(uint64_t offset) {
    const auto end = place(offset);
    for (auto it = front(); it != end; ++it) {
      it->second = T{};
      Gone::let_go(it->second);
    }
    m_front = static_cast<size_t>(end - m_sorted.begin());
    if (m_front != 0 && 2 * m_front >= m_sorted.size()) compact();
    m_late.erase(m_late.begin(), m_late.lower_bound(offset));
  }
  // Room for count values more, made once: a long list's are not moved
  // again as they come (a doubling would hold twice them at once).
  void will_add(size_t count) {
    const size_t want = m_sorted.size() - m_front + count;
    if (want > m_sorted.capacity() - m_front) compact();
    if (want > m_sorted.capacity()) m_sorted.reserve(std::max(want, 2 * m_sorted.capacity()));
  }
  size_t late_count() const { return m_late.size(); }

  static constexpr size_t k_least_late = 1024;

 private:
  using item = std::pair<uint64_t, T>;
  typename std::vector<item>::iterator front() {
    return m_sorted.begin() + static_cast<std::ptrdiff_t>(m_front);
  }
  typename std::vector<item>::iterator place(uint64_t offset) {
    return std::lower_bound(front(), m_sorted.end(), offset,
                            [](const item& x, uint64_t o) { return x.first < o; });
  }
  void compact() {
    m_sorted.erase(m_sorted.begin(), front());
    m_front = 0;
  }
  // The late values into the array, from its end back.
  void merge() {
    compact();
    const size_t old = m_sorted.size();
    m_sorted.reserve(old + m_late.size());
    m_sorted.resize(old + m_late.size());
    auto from = m_sorted.begin() + static_cast<std::ptrdiff_t>(old);
    auto to = m_sorted.end();
    for (auto late = m_late.rbegin(); late != m_late.rend();) {
      if (from != m_sorted.begin() && std::prev(from)->first > late->first) {
        *--to = std::move(*--from);
      } else {
        --to;
        to->first = late->first;
        to->second = std::move(late->second);
        ++late;
      }
    }
    m_late.clear();
  }
  std::vector<item> m_sorted;
  size_t m_front = 0;  // the array's values before it were passed
  std::map<uint64_t, T> m_late;
};

}  // namespace vk
