// The example automatic jump list committed under examples/: three links
// (two local files and one on a network share), each with LinkInfo, a
// Unicode name, header times and tracker data, and a version-4 DestList
// naming them from the most recently used down. Built only from the test
// writers, so that the project can make it again byte for byte.
#pragma once

#include <string>
#include <vector>

#include "cfb_writer.h"
#include "destlist_writer.h"
#include "lnk_writer.h"

namespace vesk_test {

inline constexpr const char* k_example_jumplist_name = "5f7b5f1e01b83767.automaticDestinations-ms";

inline std::vector<uint8_t> example_jumplist() {
  constexpr uint64_t day = 864000000000ull;       // FILETIME ticks
  constexpr uint64_t t0 = 133540960890000000ull;  // 2024-03-05 07:08:09
  const guid_bytes_t volume = {0x6a, 0x1c, 0x3e, 0x52, 0x91, 0x0b, 0x4f, 0x47,
                               0x8d, 0x35, 0x2c, 0x61, 0x0e, 0x7a, 0x49, 0xd2};
  struct link {
    std::string base_path;  // local path, or the suffix below the share
    bool on_share;
    std::u16string name;
    std::u16string working_dir;
    uint32_t size;
    uint64_t created, written, accessed, used;
    uint32_t uses;
    uint8_t object_first_byte;
  };
  const std::vector<link> links = {
      {"C:\\Users\\examiner\\Documents\\report-2024.docx", false, u"Отчёт 2024",
       u"C:\\Users\\examiner\\Documents", 24576, t0 - 30 * day, t0 - day, t0 - day,
       t0 - day + 1234567, 7, 0xbb},
      {"C:\\Temp\\notes.txt", false, u"Meeting notes", u"C:\\Temp", 1200, t0 - 3 * day,
       t0 - 2 * day, t0 - 2 * day, t0 - 2 * day + 7654321, 2, 0xbc},
      {"evidence.xlsx", true, u"Evidence list", u"", 81920, t0 - 10 * day, t0 - 4 * day,
       t0 - 4 * day, t0 - 4 * day + 1111111, 1, 0xbd},
  };
  cfb_writer w;
  std::vector<destlist_test_entry> entries;
  for (size_t i = 0; i < links.size(); ++i) {
    const link& l = links[i];
    guid_bytes_t object = {0x00, 0xe3, 0x6e, 0x84, 0x39, 0x70, 0xde, 0x11,
                           0x9d, 0x20, 0x00, 0x1d, 0x09, 0xfa, 0x5a, 0x1c};
    object[0] = l.object_first_byte;
    lnk_spec s;
    s.attributes = 0x20;
    s.create_time = l.created;
    s.access_time = l.accessed;
    s.write_time = l.written;
    s.file_size = l.size;
    lnk_link_info li;
    if (l.on_share) {
      li.has_volume = false;
      li.network = lnk_network_link{"\\\\FILESERVER\\CASES", "Z:"};
      li.suffix = l.base_path;
    } else {
      li.serial = 0x1234ABCD;
      li.label = "OS";
      li.local_base_path = l.base_path;
    }
    s.link_info = li;
    s.strings[lnk_name] = l.name;
    if (!l.working_dir.empty()) s.strings[lnk_working_dir] = l.working_dir;
    s.extra_blocks = {tracker_block("desktop-01", volume, object, volume, object)};
    const std::u16string stream_name(1, static_cast<char16_t>(u'1' + i));
    w.stream(stream_name, write_lnk(s));

    destlist_test_entry e;
    e.entry_num = i + 1;
    e.mru_time = l.used;
    e.access_count = l.uses;
    e.host = "desktop-01";
    e.droids = {volume, object, volume, object};
    e.path = l.on_share ? u"\\\\FILESERVER\\CASES\\evidence.xlsx"
                        : std::u16string(l.base_path.begin(), l.base_path.end());
    entries.push_back(e);  // the most recently used first
  }
  w.stream(u"DestList", build_destlist(4, entries));
  return w.build();
}

}  // namespace vesk_test
