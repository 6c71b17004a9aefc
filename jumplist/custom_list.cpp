#include "jumplist/custom_list.h"

#include <algorithm>
#include <string>

#include "jumplist/lnk_record.h"

namespace vk {

bool is_empty_custom_list(byte_view file) {
  namespace C = custom_list_layout;
  if (file.size() < C::header_size || file.u32(C::version) != C::version_value) return false;
  const uint32_t categories = file.u32_or_zero(C::category_count);
  uint64_t at = C::header_size;
  // Each category takes at least eight bytes, so the count is bounded by
  // the bytes before the loop runs.
  if (categories > (file.size() - at) / 8) return false;
  for (uint32_t i = 0; i < categories; ++i) {
    const auto type = file.u32(at);
    if (!type) return false;
    at += 4;
    if (*type == C::custom_category) {
      const auto name_length = file.u16(at);
      if (!name_length) return false;
      at += 2 + 2 * uint64_t{*name_length};
    } else if (*type != C::known_category && *type != C::task_category) {
      return false;
    }
    // The known category's identifier, or the others' entry count: none.
    const auto value = file.u32(at);
    if (!value || (*type != C::known_category && *value != 0)) return false;
    at += 4;
    if (at == file.size() && i + 1 == categories) return true;
    if (file.u32(at) != C::footer) return false;
    at += 4;
  }
  return at == file.size();
}

namespace {

// The frame walk's reads and where it stands.
class frame_walk {
 public:
  frame_walk(const custom_list_reader& read, uint64_t size) : m_read(read), m_size(size) {}
  bool u16(uint64_t at, uint16_t& value) const {
    uint8_t b[2];
    if (!m_read(at, b, sizeof b)) return false;
    value = static_cast<uint16_t>(b[0] | b[1] << 8);
    return true;
  }
  bool u32(uint64_t at, uint32_t& value) const {
    uint8_t b[4];
    if (!m_read(at, b, sizeof b)) return false;
    value = static_cast<uint32_t>(b[0] | b[1] << 8 | b[2] << 16 | uint32_t{b[3]} << 24);
    return true;
  }
  uint64_t size() const { return m_size; }

 private:
  const custom_list_reader& m_read;
  uint64_t m_size;
};

std::string links_after(const std::vector<custom_list_link>& links, uint64_t at) {
  const auto first = std::upper_bound(
      links.begin(), links.end(), at,
      [](uint64_t offset, const custom_list_link& link) { return offset < link.offset; });
  const auto n = static_cast<size_t>(links.end() - first);
  return std::to_string(n) + (n == 1 ? " link was" : " links were") + " read after it";
}

// The entry at at: the link CLSID, then a link read whole; at moves past
// it. Otherwise the entry is noted, with the links read after it.
bool next_entry(const std::vector<custom_list_link>& links, uint64_t size, uint64_t& at,
                file_notes& notes) {
  const uint64_t link_at = at + 16;
  if (link_at + lnk_header_size > size) {
    notes.add("custom list entry", at,
              "the file ends inside the list; the links of the rest are missing");
    return false;
  }
  const auto it = std::lower_bound(
      links.begin(), links.end(), link_at,
      [](const custom_list_link& link, uint64_t offset) { return link.offset < offset; });
  if (it == links.end() || it->offset != link_at) {
    notes.add("custom list entry", at, "no link could be read here; " + links_after(links, at));
    return false;
  }
  if (!it->whole) {
    // A link whose sizes run past the end while links were read after it
    // is damaged, not the last thing the file holds.
    const bool last = it + 1 == links.end();
    notes.add(
        "link", link_at,
        it->cut && last ? "the file ends inside it" : "damaged; " + links_after(links, link_at));
    return false;
  }
  at = it->end;
  return true;
}

}  // namespace

void check_custom_list_frame(const custom_list_reader& read, uint64_t size,
                             const std::vector<custom_list_link>& links, file_notes& notes) {
  namespace C = custom_list_layout;
  const frame_walk w(read, size);
  uint32_t version = 0, categories = 0;
  if (!w.u32(C::version, version) || version != C::version_value ||
      !w.u32(C::category_count, categories) || size < C::header_size) {
    notes.add("custom list header", 0,
              "damaged; the links the list holds may not all have been found");
    return;
  }
  const std::string cut = "the file ends inside the list; the links of the rest are missing";
  uint64_t at = C::header_size;
  for (uint32_t c = 0; c < categories; ++c) {
    uint32_t type = 0, entries = 0;
    if (!w.u32(at, type)) return notes.add("custom list category", at, cut);
    if (type == C::custom_category) {
      uint16_t name = 0;
      if (!w.u16(at + 4, name) || !w.u32(at + 6 + 2 * uint64_t{name}, entries))
        return notes.add("custom list category", at, cut);
      at += 10 + 2 * uint64_t{name};
    } else if (type == C::known_category || type == C::task_category) {
      if (!w.u32(at + 4, entries)) return notes.add("custom list category", at, cut);
      if (type == C::known_category) entries = 0;
      at += 8;
    } else {
      return notes.add("custom list category", at, "of no known type; " + links_after(links, at));
    }
    for (uint32_t e = 0; e < entries; ++e)
      if (!next_entry(links, size, at, notes)) return;
    uint32_t footer = 0;
    if (w.u32(at, footer) && footer == C::footer) {
      at += 4;
    } else if (at < size || c + 1 < categories) {
      return notes.add("custom list category footer", at,
                       at < size ? "missing; " + links_after(links, at) : cut);
    }
  }
  // Lists written by Windows 11 may hold more entries after the categories
  // their header counts, with footers of their own.
  while (at < size) {
    uint32_t footer = 0;
    if (w.u32(at, footer) && footer == C::footer)
      at += 4;
    else if (!next_entry(links, size, at, notes))
      return;
  }
}

}  // namespace vk
