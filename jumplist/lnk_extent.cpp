#include "jumplist/lnk_extent.h"

#include "jumplist/lnk_layout.h"

namespace vk {
namespace {

namespace L = lnk_layout;

// The walk's position and how it ended, when it has.
class extent_walk {
 public:
  extent_walk(byte_view link, uint64_t cap) : m_link(link), m_cap(cap) {}

  // True when count bytes at the position are there to read; otherwise the
  // walk ends open (or capped) needing them.
  bool readable(uint64_t count) {
    const uint64_t want = m_at + count;
    if (want > m_cap) return finish(lnk_extent::end::capped, m_cap);
    if (want <= m_link.size()) return true;
    m_result.at_boundary = m_may_end && m_at == m_link.size();
    return finish(lnk_extent::end::open, want);
  }
  // Steps over a structure of size bytes.
  bool skip(uint64_t size) {
    m_at += size;
    if (m_at > m_cap) return finish(lnk_extent::end::capped, m_cap);
    return true;
  }
  bool finish(lnk_extent::end how, uint64_t size) {
    m_result.how = how;
    m_result.size = size;
    return false;
  }
  uint64_t at() const { return m_at; }
  // From here on the link may end where the bytes do (its terminal block
  // missing); before, every structure its flags announce must be there.
  void may_end() { m_may_end = true; }
  uint16_t u16(uint64_t off) const { return m_link.u16_or_zero(m_at + off); }
  uint32_t u32(uint64_t off) const { return m_link.u32_or_zero(m_at + off); }
  const lnk_extent& result() const { return m_result; }

 private:
  byte_view m_link;
  uint64_t m_cap;
  uint64_t m_at = 0;
  bool m_may_end = false;
  lnk_extent m_result;
};

bool walk_structures(extent_walk& w) {
  if (!w.readable(L::header::size)) return false;
  const uint32_t flags = w.u32(L::header::flags);
  w.skip(L::header::size);
  if (flags & L::flag::has_idlist) {
    if (!w.readable(2) || !w.skip(2 + uint64_t{w.u16(0)})) return false;
  }
  if (flags & L::flag::has_link_info) {
    namespace I = L::link_info;
    if (!w.readable(I::fixed_size)) return false;
    const uint32_t size = w.u32(I::size), header = w.u32(I::header_size);
    const bool header_allowed = header == I::fixed_size || header >= I::long_header_size;
    if (!header_allowed || header > size) return w.finish(lnk_extent::end::damaged, w.at());
    if (!w.skip(size)) return false;
  }
  const uint64_t unit = (flags & L::flag::is_unicode) ? 2 : 1;
  for (uint32_t flag : {L::flag::has_name, L::flag::has_relative_path, L::flag::has_working_dir,
                        L::flag::has_arguments, L::flag::has_icon_location}) {
    if (!(flags & flag)) continue;
    if (!w.readable(L::string_data::chars) ||
        !w.skip(L::string_data::chars + unit * w.u16(L::string_data::count)))
      return false;
  }
  // Every block steps at least its header, so the loop ends within the bytes.
  namespace B = L::block;
  w.may_end();
  for (;;) {
    if (!w.readable(B::terminal_size)) return false;
    const uint32_t size = w.u32(B::size);
    if (size < B::terminal_size)
      return w.finish(lnk_extent::end::terminal, w.at() + B::terminal_size);
    if (size < B::header_size) return w.finish(lnk_extent::end::damaged, w.at());
    if (!w.readable(B::header_size)) return false;
    // A block of any signature is stepped over by its size, as the parser does.
    if (!w.skip(size)) return false;
  }
}

}  // namespace

lnk_extent declared_lnk_extent(byte_view link, uint64_t cap) {
  extent_walk w(link, cap);
  walk_structures(w);
  return w.result();
}

}  // namespace vk
