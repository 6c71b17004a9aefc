#include "jumplist/lnk_parser.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <cstring>

#include "foundation/uni_fileio.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_numtext.h"
#include "foundation/vk_unicode.h"
#include "jumplist/extra_data.h"
#include "jumplist/lnk_names.h"
#include "shell/idlist.h"
#include "shell/idlist_text.h"
#include "shell/parse_ctx.h"

namespace vk {

namespace {

namespace L = lnk_layout;

// NUL-terminated 8-bit text at `at`, ending at the end of the view at the
// latest; the one 8-bit reader decides how its bytes become text. The bytes
// taken, its NUL counted when the view holds it.
size_t text_z(parse_guard* guard, byte_view view, size_t at, std::string& out) {
  return static_cast<size_t>(
      read_ansi(guard, view, static_cast<int64_t>(at), static_cast<int64_t>(view.size()), out));
}

// Whether the 8-bit text of `taken` bytes at `at` met the view's end before
// its NUL: the structure the view holds ends inside it.
bool runs_open(byte_view view, size_t at, size_t taken) {
  return taken != 0 && at + taken == view.size() && view.u8_or_zero(at + taken - 1) != 0;
}

// A UTF-16 text at `at`, ending at its NUL or the view's end; out is left
// as it is when there is none or it is empty. Where it ends: past its NUL,
// or at the view's end when it has none (zero: none read).
uint64_t unicode_text(byte_view view, uint64_t at, std::string& out) {
  if (at == 0 || at >= view.size()) return 0;
  std::string wide;
  const uint64_t end = at + utf16_to_utf8(view.data() + at, view.size() - at, wide, false);
  if (!wide.empty()) out = std::move(wide);
  return view.has(end, 2) && view.u16_or_zero(end) == 0 ? end + 2 : view.size();
}

// Whether the UTF-16 text that ends at `end` ended at its NUL.
bool wide_closed(byte_view view, uint64_t end) {
  return end >= 2 && view.has(end - 2, 2) && view.u16_or_zero(end - 2) == 0;
}

// A network link whose net name offset lies past its 20-byte fixed part
// holds the UTF-16 names' offsets too: its header ends at 28.
constexpr uint32_t k_net_unicode_header = L::network_link::device_name_offset_unicode + 4;

// What became of a text of a LinkInfo part.
enum class text_read { whole, outside, open };

// The name whose offset is at `field` (zero: none, when `optional`): not
// read when the offset lies inside the link's header (20 bytes; 28 when a
// net name offset above 20 says the UTF-16 names' offsets follow) or past
// the link; read to the link's end when no NUL comes before it.
text_read network_text(parse_guard* guard, byte_view link, size_t field, std::string& out,
                       bool optional) {
  namespace N = L::network_link;
  out.clear();
  const auto at = link.u32(field);
  if (!at || (*at == 0 && optional)) return text_read::whole;
  const uint32_t link_size = link.u32_or_zero(N::size);
  if (*at < k_net_unicode_header &&
      (*at < N::fixed_size || link.u32_or_zero(N::net_name_offset) > N::fixed_size))
    return text_read::outside;
  if (*at >= link_size || *at >= N::max_text_offset || *at >= link.size())
    return text_read::outside;
  return runs_open(link, *at, text_z(guard, link, *at, out)) ? text_read::open : text_read::whole;
}

// The names' UTF-16 forms, which a NetNameOffset above the fixed part
// announces; each replaces its 8-bit form when it is not empty. The cause
// of one not read in full, or null.
const char* network_unicode_texts(byte_view link, std::string& net_name, std::string& device_name) {
  namespace N = L::network_link;
  if (link.u32_or_zero(N::net_name_offset) <= N::fixed_size) return nullptr;
  const uint32_t link_size = link.u32_or_zero(N::size);
  const char* cause = nullptr;
  for (auto [field, text] : {std::pair{N::net_name_offset_unicode, &net_name},
                             std::pair{N::device_name_offset_unicode, &device_name}}) {
    const uint32_t at = link.u32_or_zero(field);
    if (at == 0) continue;
    if (at < k_net_unicode_header || at >= link_size) {
      cause = "UTF-16 name offset outside the link's names; name not read";
      continue;
    }
    if (!wide_closed(link, unicode_text(link, at, *text)))
      cause = "UTF-16 name has no NUL inside the network link; read to its end";
  }
  return cause;
}

// The label, or why it was not read in full: a label offset at or past the
// VolumeID's declared end or of neither form, a UTF-16 label offset short
// of that form's 20-byte header or past the VolumeID, a label the VolumeID
// ends inside (read to that end).
const char* volume_label(parse_guard* guard, byte_view volume, std::string& out) {
  out.clear();
  namespace V = L::volume_id;
  const uint32_t label_at = volume.u32_or_zero(V::label_offset);
  constexpr const char* open = "label has no NUL inside the VolumeID; read to its end";
  // Bytes past the VolumeID's own size belong to the next part.
  if (label_at >= volume.u32_or_zero(V::size))
    return "label offset at or past the VolumeID's size; label not read";
  // The Unicode form: its own offset follows the 8-bit one's.
  if (label_at == V::unicode_label_at) {
    const uint32_t at = volume.u32_or_zero(V::label_offset_unicode);
    if (at < V::unicode_label || at >= volume.size())
      return "UTF-16 label offset outside the VolumeID; label not read";
    return wide_closed(volume, unicode_text(volume, at, out)) ? nullptr : open;
  }
  if (label_at != V::ansi_label_at) return "label offset points at no label; label not read";
  if (volume.size() <= V::label || volume.u8_or_zero(V::label) == 0) return nullptr;
  return runs_open(volume, V::label, text_z(guard, volume, V::label, out)) ? open : nullptr;
}

// Where the text at `at` ends: past its NUL (a NUL unit in UTF-16), or at
// the view's end. Only its end is wanted, so it is not decoded.
uint64_t text_extent_end(byte_view view, uint64_t at, bool wide) {
  if (!wide) {
    const void* nul = std::memchr(view.data() + at, 0, view.size() - at);
    return nul ? static_cast<uint64_t>(static_cast<const uint8_t*>(nul) - view.data()) + 1
               : view.size();
  }
  for (uint64_t unit = at; view.has(unit, 2); unit += 2)
    if (view.u16_or_zero(unit) == 0) return unit + 2;
  return view.size();
}

// The parts of a LinkInfo, in the order of their offset fields.
enum info_part : size_t {
  volume_part,
  local_part,
  network_part,
  suffix_part,
  local_unicode_part,
  suffix_unicode_part,
  info_part_count
};

// What a part's offset field must hold, and what is said when it does not:
// the bytes the part needs at its offset; the cause of a zero offset where
// the part must be there; of one past the data or past the LinkInfo; of
// one inside the header or the VolumeID, and inside another part.
struct info_part_rule {
  size_t field;
  uint32_t room;
  const char* zero;
  const char* past_data;
  const char* past_info;
  const char* inside_volume;
  const char* inside_network;
};

constexpr info_part_rule kInfoParts[info_part_count] = {
    {L::link_info::volume_id_offset, L::volume_id::fixed_size + 1,
     "VolumeID declared by the flags at offset zero", "VolumeID runs past the data",
     "VolumeID runs past the LinkInfo",
     "VolumeID offset points inside the LinkInfo header; not read",
     "VolumeID offset points inside the network link or a path; not read"},
    {L::link_info::local_base_path_offset, 1,
     "local base path declared by the flags at offset zero", "local base path lies past the data",
     "local base path lies past the LinkInfo",
     "local base path offset points inside the LinkInfo header or the VolumeID; path not read",
     "local base path offset points inside the network link or another path; path not read"},
    {L::link_info::network_link_offset, L::network_link::fixed_size,
     "network link declared by the flags at offset zero", "network link runs past the data",
     "network link runs past the LinkInfo",
     "network link offset points inside the LinkInfo header or the VolumeID; not read",
     "network link offset points inside a path; not read"},
    {L::link_info::common_path_suffix_offset, 1, "path suffix declared by the flags at offset zero",
     "path suffix lies past the data", "path suffix lies past the LinkInfo",
     "path suffix offset points inside the LinkInfo header or the VolumeID; suffix not read",
     "path suffix offset points inside the network link or another path; suffix not read"},
    {L::link_info::local_base_path_offset_unicode, 2, nullptr,
     "UTF-16 local base path lies past the data", "UTF-16 local base path lies past the LinkInfo",
     "UTF-16 local base path offset points inside the LinkInfo header or another part; path not "
     "read",
     "UTF-16 local base path offset points inside the LinkInfo header or another part; path not "
     "read"},
    {L::link_info::common_path_suffix_offset_unicode, 2, nullptr,
     "UTF-16 path suffix lies past the data", "UTF-16 path suffix lies past the LinkInfo",
     "UTF-16 path suffix offset points inside the LinkInfo header or another part; suffix not "
     "read",
     "UTF-16 path suffix offset points inside the LinkInfo header or another part; suffix not "
     "read"},
};

// Where each part the flags and the header announce lies in the LinkInfo at
// off (`info` ending where it does), zero for one not read: an offset of
// zero where the part must be there, one whose part runs past the LinkInfo,
// or lies inside its header (by the header's own size) or inside another
// part (the VolumeID and network link by their sizes, a text to its NUL),
// is not followed, so that no text shows bytes of another part; so is a
// VolumeID or network link whose size misses its fixed fields or runs past
// the LinkInfo. A header
// size of neither form is damage too. The first disagreement is said.
std::array<uint64_t, info_part_count> link_info_layout(lnk_record& rec, byte_view info, size_t off,
                                                       bool ends_inside) {
  namespace I = L::link_info;
  const auto bit = [](size_t p) { return 1u << p; };
  const uint32_t flags = info.u32_or_zero(off + I::flags);
  const bool volume = flags & I::flag_volume_and_local_path;
  const uint32_t header = info.u32_or_zero(off + I::header_size);
  const bool long_header = header >= I::long_header_size;
  const bool network = flags & I::flag_network_and_suffix;
  // The parts the flags and the header announce (only a long header holds
  // the UTF-16 paths' offsets), one bit each.
  uint32_t announced = bit(suffix_part);
  if (volume) announced |= bit(volume_part) | bit(local_part);
  if (network) announced |= bit(network_part);
  if (long_header) announced |= (volume ? bit(local_unicode_part) : 0) | bit(suffix_unicode_part);
  // A zero offset is none for the UTF-16 texts, which a long header may
  // leave out (the 8-bit ones stand), and for a suffix the flags do not
  // announce with a network link (a local link's suffix is most often empty).
  const uint32_t needed =
      bit(volume_part) | bit(local_part) | bit(network_part) | (network ? bit(suffix_part) : 0);
  // The header's bytes, by its own size: its fixed fields at least.
  const uint32_t header_end = std::max<uint32_t>(header, I::fixed_size);
  const char* first = header != I::fixed_size && !long_header
                          ? "header size is neither 28 nor 36 or more"
                          : nullptr;
  const auto say = [&first](const char* cause) {
    if (!first) first = cause;
  };
  std::array<uint64_t, info_part_count> at{};
  uint32_t found = 0;
  for (uint32_t m = announced; m; m &= m - 1) {
    const size_t p = static_cast<size_t>(std::countr_zero(m));
    const info_part_rule& rule = kInfoParts[p];
    const uint32_t rel = info.u32_or_zero(off + rule.field);
    const bool inside = uint64_t{off} + rel + rule.room <= info.size();
    if (rel >= header_end && inside) {
      at[p] = off + rel;
      found |= bit(p);
    } else if (rel == 0) {
      if (needed & bit(p)) say(rule.zero);
    } else {
      say(!inside ? (ends_inside ? rule.past_info : rule.past_data) : rule.inside_volume);
    }
  }
  // Each part's bytes: the VolumeID and network link by their declared
  // size, which must hold their fixed fields and fit the LinkInfo; a text
  // to its NUL.
  std::array<uint64_t, info_part_count> end{};
  const auto structure = [&](info_part p, uint32_t fixed, const char* small, const char* past) {
    const uint32_t size = info.u32_or_zero(at[p]);
    const bool fits = size <= info.size() - at[p];
    if (size < fixed || (ends_inside && !fits)) {
      say(size < fixed ? small : past);
      at[p] = 0;
      found &= ~bit(p);
    } else {
      end[p] = at[p] + (fits ? size : kInfoParts[p].room);
    }
  };
  if (found & bit(volume_part))
    structure(volume_part, L::volume_id::fixed_size,
              "VolumeID size is below its 16 fixed bytes; not read",
              "VolumeID size runs past the LinkInfo; not read");
  if (found & bit(network_part))
    structure(network_part, L::network_link::fixed_size,
              "network link size is below its 20 fixed bytes; not read",
              "network link size runs past the LinkInfo; not read");
  const auto part_end = [&](size_t p) {
    if (!end[p]) end[p] = text_extent_end(info, at[p], p >= local_unicode_part);
    return end[p];
  };
  // Whether part q ends at or before `a`: a text whose NUL lies just before
  // `a` does, with no look for where it ends.
  const auto ends_by = [&](size_t q, uint64_t a) {
    if (a <= at[q]) return false;
    if (end[q]) return end[q] <= a;
    if (q < local_unicode_part ? info.u8_or_zero(a - 1) == 0
                               : (a - at[q]) % 2 == 0 && info.u16_or_zero(a - 2) == 0)
      return true;
    return part_end(q) <= a;
  };
  // Parts that follow one another in the order of their fields, each past
  // the one before, as writers lay them out, cannot overlap: only other
  // layouts need every pair looked at. The last part's end is not needed.
  bool in_order = true;
  size_t before = info_part_count;
  for (uint32_t m = found; m && in_order; m &= m - 1) {
    const size_t p = static_cast<size_t>(std::countr_zero(m));
    in_order = before == info_part_count || ends_by(before, at[p]);
    before = p;
  }
  if (!in_order) {
    for (uint32_t m = found; m; m &= m - 1) part_end(static_cast<size_t>(std::countr_zero(m)));
    // A part whose offset lies inside another's bytes is not read. An empty
    // suffix closing the LinkInfo on the local path's NUL is how some
    // writers end it.
    for (size_t p = 0; p < info_part_count; ++p) {
      for (size_t q = 0; q < info_part_count && at[p]; ++q) {
        if (q == p || !at[q] || at[p] < at[q] || at[p] >= end[q]) continue;
        if (p == suffix_part && q == local_part && at[p] + 1 == end[q] && at[p] + 1 == info.size())
          continue;
        say(q == volume_part ? kInfoParts[p].inside_volume : kInfoParts[p].inside_network);
        at[p] = 0;
      }
    }
  }
  if (first) add_record_fault(rec, parse_fault{"LinkInfo", off, first});
  return at;
}

void serial_chars(char (&text)[9], uint32_t serial) {
  // Each byte's two digits from one table entry, high byte first.
  const auto& kPairs = k_hex_byte_pairs;
  static constexpr uint8_t kAt[4] = {0, 2, 5, 7};
  text[4] = '-';
  for (int i = 0; i < 4; ++i)
    std::memcpy(text + kAt[i], &kPairs[2 * size_t{(serial >> (24 - 8 * i)) & 0xFF}], 2);
}

// The LinkInfo at off; `data` ends where it does (or where the data does,
// when it runs past them: cut_short), so its texts end there too. Returns
// where the furthest of the parts read ends.
uint64_t read_link_info(parse_guard* guard, lnk_record& rec, byte_view data, size_t off,
                        bool ends_inside) {
  namespace I = L::link_info;
  // Only the parts the flags declare are read. An offset to a part the
  // flags leave out is damage, said, and not followed.
  const uint32_t info_flags = data.u32_or_zero(off + I::flags);
  const bool has_volume = info_flags & I::flag_volume_and_local_path;
  const bool has_network = info_flags & I::flag_network_and_suffix;
  const bool long_header = data.u32_or_zero(off + I::header_size) >= I::long_header_size;
  uint64_t last_end = 0;
  const auto set = [&](size_t field) { return data.u32_or_zero(off + field) != 0; };
  const std::array<uint64_t, info_part_count> part = link_info_layout(rec, data, off, ends_inside);
  if (!has_volume && (set(I::volume_id_offset) || set(I::local_base_path_offset) ||
                      (long_header && set(I::local_base_path_offset_unicode))))
    add_record_fault(rec, parse_fault{"LinkInfo", off,
                                      "VolumeID or local base path offset set though the flags "
                                      "declare neither; not read"});
  if (!has_network && set(I::network_link_offset))
    add_record_fault(rec, parse_fault{"LinkInfo", off,
                                      "network link offset set though the flags declare none; "
                                      "not read"});
  if (const uint64_t at = part[volume_part]) {
    const byte_view volume = data.tail(at);
    rec.m_volume_id_offset = static_cast<uint32_t>(at);
    // The label ends at the VolumeID's end when its size can hold one.
    const uint32_t volume_size = volume.u32_or_zero(L::volume_id::size);
    if (const char* unread = volume_label(
            guard, volume_size > L::volume_id::fixed_size ? volume.clamp(0, volume_size) : volume,
            rec.m_volume_label))
      add_record_fault(rec, parse_fault{"VolumeID", at, unread});
    rec.m_drive_type = drive_type_text(volume.u32_or_zero(L::volume_id::drive_type));
    char serial[9];
    serial_chars(serial, volume.u32_or_zero(L::volume_id::serial));
    rec.m_volume_serial.assign(serial, sizeof serial);
  }
  if (const uint64_t at = part[network_part]) {
    // Its names end at its end when its size can hold them.
    byte_view link = data.tail(at);
    const uint32_t link_size = link.u32_or_zero(L::network_link::size);
    if (link_size > L::network_link::fixed_size) link = link.clamp(0, link_size);
    rec.m_net_link_offset = static_cast<uint32_t>(at);
    const auto say = [&](text_read read, const char* outside, const char* open) {
      if (read != text_read::whole)
        add_record_fault(rec,
                         parse_fault{"network link", at, read == text_read::open ? open : outside});
    };
    say(network_text(guard, link, L::network_link::net_name_offset, rec.m_net_name, false),
        "net name offset outside the link's names; name not read",
        "net name has no NUL inside the network link; read to its end");
    say(network_text(guard, link, L::network_link::device_name_offset, rec.m_device_name, true),
        "device name offset outside the link's names; name not read",
        "device name has no NUL inside the network link; read to its end");
    if (const char* unread = network_unicode_texts(link, rec.m_net_name, rec.m_device_name))
      add_record_fault(rec, parse_fault{"network link", at, unread});
  }
  const uint64_t local_at = part[local_part], suffix_at = part[suffix_part];
  if (local_at != 0) {
    rec.m_local_path_offset = static_cast<uint32_t>(local_at);
    if (data.u8_or_zero(local_at) != 0) {
      const size_t taken = text_z(guard, data, local_at, rec.m_local_base_path);
      if (ends_inside && runs_open(data, local_at, taken))
        add_record_fault(rec, parse_fault{"LinkInfo", off,
                                          "local base path has no NUL inside the LinkInfo; read "
                                          "to its end"});
    }
  }
  if (suffix_at != 0) {
    rec.m_path_suffix_offset = static_cast<uint32_t>(suffix_at);
    if (data.u8_or_zero(suffix_at) != 0) {
      const size_t taken = text_z(guard, data, suffix_at, rec.m_common_path_suffix);
      last_end = suffix_at + taken;
      if (ends_inside && runs_open(data, suffix_at, taken))
        add_record_fault(rec, parse_fault{"LinkInfo", off,
                                          "path suffix has no NUL inside the LinkInfo; read to "
                                          "its end"});
    } else {
      last_end = suffix_at + 1;
    }
  }
  // The paths' UTF-16 forms, which Windows adds when a path holds characters
  // the ANSI code page lacks (the 8-bit form then holds "?" for them), each
  // replace the 8-bit text when not empty.
  if (part[local_unicode_part]) unicode_text(data, part[local_unicode_part], rec.m_local_base_path);
  if (const uint64_t at = part[suffix_unicode_part])
    last_end = unicode_text(data, at, rec.m_common_path_suffix);
  return last_end;
}

// Where the furthest of the LinkInfo's parts at off ends, `data` ending at
// its declared end: its header, the VolumeID and network link by their
// sizes, the texts at their NULs.
uint64_t link_info_parts_end(byte_view data, size_t off) {
  namespace I = L::link_info;
  const byte_view info = data.tail(off);
  const uint32_t flags = info.u32_or_zero(I::flags);
  const bool long_header = info.u32_or_zero(I::header_size) >= I::long_header_size;
  uint64_t end = long_header ? I::long_header_size : I::fixed_size;
  const auto part = [&](bool declared, size_t field) {
    if (const uint32_t at = info.u32_or_zero(field); declared && at != 0 && at < info.size())
      end = std::max<uint64_t>(end, uint64_t{at} + info.u32_or_zero(at));
  };
  const auto text = [&](bool declared, size_t field, bool wide) {
    const uint32_t at = info.u32_or_zero(field);
    if (declared && at != 0 && at < info.size())
      end = std::max(end, text_extent_end(info, at, wide));
  };
  const bool volume = flags & I::flag_volume_and_local_path;
  part(volume, I::volume_id_offset);
  part(flags & I::flag_network_and_suffix, I::network_link_offset);
  text(volume, I::local_base_path_offset, false);
  text(true, I::common_path_suffix_offset, false);
  text(volume && long_header, I::local_base_path_offset_unicode, true);
  text(long_header, I::common_path_suffix_offset_unicode, true);
  return off + end;
}

// The text of the StringData item at the view's first byte into out; true
// when a NUL lies inside it.
bool string_data(parse_guard* guard, byte_view item, bool unicode, std::string& out) {
  out.clear();
  const auto count = item.u16(L::string_data::count);
  if (!count || *count == 0) return false;
  const size_t bytes = size_t{*count} * (unicode ? 2 : 1);
  if (!item.has(L::string_data::chars, bytes)) return false;
  const uint8_t* chars = item.data() + L::string_data::chars;
  const size_t unit = unicode ? 2 : 1;
  // The text is counted: a NUL inside it is a character, kept for the
  // report to mark; only NULs at its end terminate it.
  size_t n = bytes;
  while (n >= unit && chars[n - 1] == 0 && chars[n - unit] == 0) n -= unit;
  if (!unicode) {
    const void* nul = std::memchr(chars, 0, n);
    const size_t first_nul =
        nul ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - chars) : n;
    read_ansi(guard, item, L::string_data::chars, static_cast<int64_t>(L::string_data::chars + n),
              out);
    if (first_nul < n) append_cp1252_as_utf8(out, chars + first_nul, n - first_nul);
    return first_nul < n;
  }
  // The conversion ends at the first NUL; the bytes it took tell where.
  const size_t first_nul = utf16_to_utf8(chars, n, out, false);
  std::string part;
  // Each NUL, then the characters up to the next one.
  for (size_t at = first_nul; at < n;) {
    out.push_back('\0');
    at += unit;
    size_t end = at;
    while (end < n && !(chars[end] == 0 && chars[end + 1] == 0)) end += unit;
    utf16_to_utf8(chars + at, end - at, part, false);
    out += part;
    at = end;
  }
  return first_nul < n;
}

struct string_data_item {
  uint32_t flag;
  uint32_t lnk_record_fields::*offset;
  std::string lnk_record_fields::*text;
};

constexpr string_data_item kStringData[] = {
    {lnk_has_name, &lnk_record_fields::m_name_offset, &lnk_record_fields::m_name},
    {lnk_has_relative_path, &lnk_record_fields::m_relative_path_offset,
     &lnk_record_fields::m_relative_path},
    {lnk_has_working_dir, &lnk_record_fields::m_working_dir_offset,
     &lnk_record_fields::m_working_dir},
    {lnk_has_arguments, &lnk_record_fields::m_arguments_offset, &lnk_record_fields::m_arguments},
    {lnk_has_icon_location, &lnk_record_fields::m_icon_location_offset,
     &lnk_record_fields::m_icon_location},
};

void dump_link(lnk_dump_settings& dump, byte_view link, uint64_t file_offset) {
  ++dump.lnk_dump_count;
  char name[96];
  std::snprintf(name, sizeof name, "/carvelnk_%04llu_0x%09llx_0x%04llx.bin",
                static_cast<unsigned long long>(dump.lnk_dump_count),
                static_cast<unsigned long long>(file_offset),
                static_cast<unsigned long long>(link.size()));
  uni::fileio out(dump.lnk_dump_dir + name, true);
  if (!out.is_open()) return;
  out.append(link.data(), static_cast<uint32_t>(link.size()));
  out.close();
}

// The target ID list; false when its declared size runs past the data.
bool read_idlist(lnk_record& rec, byte_view data, const cmd_params& opts, bool carved,
                 uint64_t file_offset, parse_ctx& ctx, uint64_t& off) {
  shell_scratch& scratch = ctx.space();
  constexpr size_t first = L::idlist::first_item;
  const size_t size = data.size();
  if (size < first) {
    // A header alone: what its flags announce is not there.
    add_record_fault(rec, parse_fault{"ID list", L::idlist::size_field, "lies past the data"});
    off = size;
    return true;
  }
  uint64_t list_size = data.u16_or_zero(L::idlist::size_field);
  if (list_size + L::idlist::size_field >= size) return false;
  if (list_size + first > size)
    add_record_fault(
        rec, parse_fault{"ID list", L::idlist::size_field, "declared size runs past the data"});
  off = first;
  if (data.u16_or_zero(first) == 0) {
    // No item: the rest of the link follows the list's declared end, which
    // for a list of its terminator alone lies right after it.
    if (list_size != L::idlist::terminator_size)
      add_record_fault(rec, parse_fault{"ID list", L::idlist::size_field,
                                        "declared size is not that of the empty list it holds"});
    off = std::min<uint64_t>(first + list_size, size);
    return true;
  }
  if (list_size + first >= size) {
    // A list declared to end at the data's end or one byte past it is taken
    // to end there, when the data can hold an item at all.
    if (size <= first + 9) return false;
    list_size = size - first;
  }
  // A declared size of one byte holds no item and not even the terminator:
  // the items there are not read (zero declares a list of nothing). The
  // walk checks that the terminator ends a longer list.
  bool decoded = false;
  if (list_size == 1)
    add_record_fault(rec, parse_fault{"ID list", L::idlist::size_field,
                                      "declared size below its terminator's 2 bytes; items not "
                                      "read"});
  if (list_size >= L::idlist::terminator_size) {
    ctx.offset = file_offset + first;
    take_spare_items(rec.m_idlist_items, scratch);
    const faults_to to(ctx, rec.m_faults, first);
    decoded = parse_idlist(rec.m_idlist_items, data.data() + first, static_cast<int64_t>(list_size),
                           false, carved, ctx, opts);
  }
  if (decoded) {
    idlist_text(rec.m_idlist_path, rec.m_idlist_extra, rec.m_idlist_details, rec.m_idlist_times[0],
                rec.m_idlist_times[1], rec.m_idlist_times[2], opts, scratch, rec.m_idlist_items);
    if (!rec.m_idlist_items.empty()) {
      rec.m_target_mft_entry = rec.m_idlist_items.back().mft_entry;
      rec.m_target_mft_seq = rec.m_idlist_items.back().mft_sequence;
    }
  }
  off = first + list_size;
  return true;
}

// How what the flags declare after the LinkInfo lands when read from
// `at`: the StringData items by their counts, then 2 on the header of an
// extra-data block (which may run past the data: a link's extent is found
// by the same declared sizes), 1 on a terminal block or the data's end, 0
// elsewhere.
int landing(byte_view data, uint64_t at, uint32_t flags) {
  const uint64_t unit = (flags & lnk_is_unicode) ? 2 : 1;
  for (const auto& item : kStringData) {
    if (!(flags & item.flag)) continue;
    const auto count = data.u16(at + L::string_data::count);
    if (!count) return 0;
    at += L::string_data::chars + *count * unit;
  }
  if (at == data.size()) return 1;
  const auto block = data.u32(at + L::block::size);
  if (!block) return 0;
  if (*block < L::block::terminal_size) return 1;
  return *block >= L::block::header_size &&
                 data.u16_or_zero(at + L::block::signature_high) == L::block::signature_high_value
             ? 2
             : 0;
}

bool parse_body(lnk_record& rec, const uint8_t* bytes, size_t size, const cmd_params& opts,
                link_scratch& scratch, bool carved, uint64_t file_offset, lnk_dump_settings* dump) {
  if (!bytes || size < L::header::size) return false;
  const byte_view data(bytes, size);
  parse_ctx ctx;
  ctx.clear();
  if (!is_lnk_header(bytes, size)) return false;
  rec.m_header = load_lnk_header(bytes);
  // A record cleared or stored holds no item room: nothing to give then.
  if (rec.m_idlist_items.capacity() != 0) give_spare_items(rec.m_idlist_items, scratch.shell);

  // One work budget for everything nested below, in proportion to the link.
  ctx.scratch = &scratch.shell;
  ctx.filed_tally = &scratch.shell.filed_bytes;
  guard_level level(ctx, static_cast<int64_t>(size));
  const uint32_t flags = rec.m_header.m_lnk_flags;
  const bool unicode = flags & lnk_is_unicode;
  uint64_t off = L::idlist::size_field;

  if ((flags & lnk_has_idlist) && !read_idlist(rec, data, opts, carved, file_offset, ctx, off))
    return false;

  // The data may end after any structure. The first one the flags still
  // declare past that end is said, unless the structure the data ended in
  // was said already: the rest lie past it too.
  bool ended = (flags & lnk_has_idlist) &&
               (size < L::idlist::first_item ||
                L::idlist::first_item + data.u16_or_zero(L::idlist::size_field) > size);
  const auto past_the_end = [&](const char* structure) {
    if (!ended) add_record_fault(rec, parse_fault{structure, off, "lies past the data"});
    ended = true;
  };
  if ((flags & lnk_has_link_info) && off >= size) past_the_end("LinkInfo");
  if ((flags & lnk_has_link_info) && off < size) {
    const uint32_t info_size = data.u32_or_zero(off + L::link_info::size);
    const int32_t header_size = data.i32_or_zero(off + L::link_info::header_size);
    if (off + L::link_info::fixed_size > size) {
      add_record_fault(rec, parse_fault{"LinkInfo", off, "fixed part runs past the data"});
      off = size;
      ended = true;
    } else if (info_size < L::link_info::fixed_size || header_size < 0) {
      // Its end is not known: StringData is read from the same position.
      add_record_fault(
          rec, parse_fault{"LinkInfo", off, "size below its fixed part or header size negative"});
    } else {
      // Read by its declared size, whatever that is, within the data; its
      // texts end at its end.
      if (off + info_size > size) {
        add_record_fault(rec, parse_fault{"LinkInfo", off, "declared size runs past the data"});
        ended = true;
      }
      const uint64_t end = std::min<uint64_t>(off + info_size, size);
      const uint64_t last_end = read_link_info(ctx.guard, rec, data.clamp(0, end), off, end < size);
      // A size past the end of its parts, where what the flags declare next
      // lands from their end and not from the declared one, is damaged: what
      // follows is read from where the parts end. Most LinkInfo end with
      // their suffix, which needs no look.
      uint64_t parts_end = end;
      if (last_end != end && off + info_size <= size)
        parts_end = link_info_parts_end(data.clamp(0, end), off);
      if (parts_end < end && landing(data, parts_end, flags) > landing(data, end, flags)) {
        add_record_fault(rec, parse_fault{"LinkInfo", off,
                                          "declared size runs past its parts; what follows read "
                                          "from their end"});
        off = parts_end;
      } else {
        off = end;
      }
    }
  }

  bool stopped = false;
  bool eaten = false;
  for (const auto& item : kStringData) {
    if (!(flags & item.flag)) continue;
    if (off >= size) {
      past_the_end("StringData item");
      break;
    }
    rec.*item.offset = static_cast<uint32_t>(off);
    const auto count = data.u16(off + L::string_data::count);
    if (!count) {
      add_record_fault(rec, parse_fault{"StringData item", off, "count runs past the data"});
      stopped = true;
      break;
    }
    const uint64_t end = off + L::string_data::chars + uint64_t{*count} * (unicode ? 2 : 1);
    if (end > size) {
      add_record_fault(rec,
                       parse_fault{"StringData item", off, "declared size runs past the data"});
      stopped = true;
      break;
    }
    std::string& text = rec.*item.text;
    // Every block header holds NULs: a text holding one may hold blocks a
    // count before it made the text eat, which the walk then never meets.
    if (string_data(ctx.guard, data.tail(off), unicode, text) && !eaten) {
      const size_t at = find_block_chain(data, off + L::string_data::chars, end);
      if (at != k_no_block_header) {
        add_record_fault(rec, parse_fault{"extra-data block", at,
                                          "lies inside a StringData text: a count or text "
                                          "before it is wrong; not read"});
        eaten = true;
      }
    }
    off = end;
  }

  // Data ending where the extra data begins holds none: a block the flags
  // declare is then lost.
  namespace F = L::flag;
  if (!stopped && off >= size &&
      (flags & (F::has_exp_string | F::has_darwin_id | F::has_exp_icon | F::has_target_metadata)))
    past_the_end("extra data block");
  if (!stopped) off = walk_extra_data(rec, bytes, size, off, file_offset, ctx, opts, scratch);
  // A BlockSize below 4 is the terminal block's, whatever its value.
  const auto terminal = data.u32(off);
  if (terminal && (*terminal == 0 || (!stopped && *terminal < L::block::terminal_size)))
    off += L::block::terminal_size;
  else if (!stopped && off < size && size - off < L::block::terminal_size)
    add_record_fault(rec, parse_fault{"terminal block", off, "runs past the data"});
  else if (!stopped && off == size)
    // A link ends with its terminal block: data that ends before it, after
    // the last structure the flags declare or after a whole block, was cut
    // there and what followed (blocks no flag declares) is lost.
    past_the_end("terminal block");
  rec.m_lnk_size = static_cast<uint32_t>(off);
  // The guard stopped a walk that kept no reason of its own.
  if (guard_spent(ctx) && !has_work_limit_fault(rec))
    add_record_fault(rec, parse_fault{"shell link", 0, k_fault_work_limit});

  if (dump && !dump->lnk_dump_dir.empty()) dump_link(*dump, data.clamp(0, off), file_offset);
  return true;
}

}  // namespace

bool is_lnk_header(const uint8_t* p, size_t size) {
  const byte_view v(p, size);
  return size >= L::header::clsid + L::header::clsid_size &&
         v.u32(L::header::header_size) == lnk_header_size &&
         v.starts_with(L::header::clsid, lnk_clsid.data(), lnk_clsid.size());
}

bool parse_lnk(lnk_record& record, const uint8_t* data, size_t size, const cmd_params& opts,
               link_scratch& scratch, bool carved, uint64_t file_offset, lnk_dump_settings* dump) {
  // The routines under the parse say memory that runs out in the record's
  // sink, through the scratch, for the parse's time.
  // (guarded catches all, so the scratch is let go of the sink on the one
  // way out).
  fault_sink& sink = record.m_faults;
  scratch.shell.faults = &sink;
  const bool parsed = guarded(
      [&] { return parse_body(record, data, size, opts, scratch, carved, file_offset, dump); },
      [&] { sink.add_out_of_memory(); });
  scratch.shell.faults = nullptr;
  return parsed;
}

std::string network_net_name(byte_view link) {
  return guarded([&] {
    std::string out;
    network_text(nullptr, link, L::network_link::net_name_offset, out, false);
    return out;
  });
}

std::string network_device_name(byte_view link) {
  return guarded([&] {
    std::string out;
    network_text(nullptr, link, L::network_link::device_name_offset, out, true);
    return out;
  });
}

std::string volume_label_text(byte_view volume_id) {
  return guarded([&] {
    std::string out;
    volume_label(nullptr, volume_id, out);
    return out;
  });
}

std::string network_net_name(const uint8_t* link, size_t available) {
  return network_net_name(byte_view(link, available));
}

std::string network_device_name(const uint8_t* link, size_t available) {
  return network_device_name(byte_view(link, available));
}

std::string volume_label_text(const uint8_t* volume_id, size_t available) {
  return volume_label_text(byte_view(volume_id, available));
}

std::string volume_serial_text(uint32_t serial) {
  char text[9];
  serial_chars(text, serial);
  return guarded([&] { return std::string(text, sizeof text); });
}

std::ostream& write_volume_serial(std::ostream& out, uint32_t serial) {
  char text[9];
  serial_chars(text, serial);
  return out.write(text, sizeof text);
}

std::string string_data_text(const uint8_t* item, size_t available, bool unicode) {
  return guarded([&] {
    std::string out;
    string_data(nullptr, byte_view(item, available), unicode, out);
    return out;
  });
}

}  // namespace vk
