// Test-only: the link of the tool's reference fixture (LinkInfo with a local
// base path, a Unicode name and tracker data), used by the report tests and
// by the example jump list.
#pragma once

#include <array>
#include <string>

#include "cfb_writer.h"
#include "destlist_writer.h"
#include "foundation/vk_guid.h"
#include "jumplist/record_columns.h"
#include "lnk_writer.h"

namespace vesk_test {

// Report lines hold texts from this size on, rather than copy them, while
// the scope lasts: 1 takes the held road with every text it may take.
struct held_texts_from {
  size_t before = vk::line_sink::held_from;
  explicit held_texts_from(size_t n) { vk::line_sink::held_from = n; }
  ~held_texts_from() { vk::line_sink::held_from = before; }
  held_texts_from(const held_texts_from&) = delete;
  held_texts_from& operator=(const held_texts_from&) = delete;
};

inline lnk_bytes_t fixture_link() {
  lnk_spec s;
  s.attributes = 0x20;
  s.show_cmd = 1;
  s.file_size = 4096;
  lnk_link_info li;
  li.drive_type = 3;
  li.serial = 0x1234ABCD;
  li.local_base_path = "C:\\Temp\\report.docx";
  s.link_info = li;
  s.strings[lnk_name] = u"Отчёт 2024";
  const guid_bytes_t object = {0xbb, 0xe3, 0x6e, 0x84, 0x39, 0x70, 0xde, 0x11,
                               0x9d, 0x20, 0x00, 0x1d, 0x09, 0xfa, 0x5a, 0x1c};
  s.extra_blocks = {
      tracker_block("desktop-01", guid_bytes_t{}, object, guid_bytes_t{}, guid_bytes_t{})};
  return write_lnk(s);
}

// A DestList entry's droids as written: a volume droid, a version-1 object
// droid (its address 08:00:27:12:34:56), none, and a version-4 birth object
// droid (no address).
inline std::array<guid_bytes_t, 4> fixture_destlist_droids() {
  return {guid_bytes_t{0x6a, 0x1c, 0x3e, 0x52, 0x91, 0x0b, 0x4f, 0x47, 0x8d, 0x35, 0x2c, 0x61, 0x0e,
                       0x7a, 0x49, 0xd2},
          guid_bytes_t{0xbb, 0xe3, 0x6e, 0x84, 0x39, 0x70, 0xde, 0x11, 0x9d, 0x20, 0x08, 0x00, 0x27,
                       0x12, 0x34, 0x56},
          guid_bytes_t{},
          guid_bytes_t{0xbb, 0xe3, 0x6e, 0x84, 0x39, 0x70, 0xde, 0x41, 0x9d, 0x20, 0x08, 0x00, 0x27,
                       0xab, 0xcd, 0xef}};
}
// The same as the DestList reader holds them.
inline std::array<vk::guid, 4> fixture_destlist_guids() {
  std::array<vk::guid, 4> out;
  const auto bytes = fixture_destlist_droids();
  for (size_t i = 0; i < out.size(); ++i) out[i].set(bytes[i].data());
  return out;
}

// The title line of the columns a run registers for a kind of record, in
// the column table's order: a date's own title and its time's apart.
inline std::string registered_titles(const vk::lnk::useropts& o, vk::record_kind kind) {
  std::string titles;
  for (const vk::row_column& c : vk::k_row_columns) {
    if (!c.wanted(o, kind)) continue;
    if (!titles.empty()) titles += ',';
    titles += c.date() ? std::string(c.date_title) + ", " + c.time_title : c.title;
  }
  return titles;
}

// An automatic jump list: DestList version 4 with entries 10, 2 and 1 in
// stream order (entry 10 last used 133540960891234567, used 5 times), and
// streams "a", "2" and "1" each holding the fixture link. Streams named in
// skip are left out.
inline std::vector<uint8_t> fixture_jumplist(uint32_t version = 4,
                                             const std::vector<std::u16string>& skip = {}) {
  std::vector<destlist_test_entry> entries(3);
  entries[0].entry_num = 10;
  entries[0].mru_time = 133540960891234567ull;
  entries[0].access_count = 5;
  entries[1].entry_num = 2;
  entries[2].entry_num = 1;
  cfb_writer w;
  for (const std::u16string name : {u"a", u"2", u"1"}) {
    bool skipped = false;
    for (const auto& s : skip) skipped |= s == name;
    if (!skipped) w.stream(name, fixture_link());
  }
  w.stream(u"DestList", build_destlist(version, entries));
  return w.build();
}

}  // namespace vesk_test
