// Writes the sound jump lists that tools/damage-sweep.sh damages: automatic
// lists of each DestList layout (small links in the mini stream, large ones
// in regular sectors, a pinned entry, a stream that no entry names) and
// custom lists of one and of several categories, built with the test writers.
//
//   vesk_sweep_lists OUT_DIR
#include <cstdio>
#include <string>
#include <vector>

#include "cfb_writer.h"
#include "destlist_writer.h"
#include "example_jumplist.h"
#include "lnk_writer.h"

namespace {

using namespace vesk_test;
using bytes_t = std::vector<uint8_t>;

// Link i of a list: the kinds differ in the structures they hold, so that a
// damaged byte meets a different part in each.
bytes_t varied_link(unsigned i) {
  if (i % 5 == 4) return full_written_link();
  lnk_spec s;
  s.attributes = 0x20;
  s.write_time = 133540960891234567ull + i * 864000000000ull;
  s.create_time = s.write_time - 1000;
  s.access_time = s.write_time + 1000;
  s.file_size = 4096 + i;
  lnk_link_info li;
  li.serial = 0x1234ABCD + i;
  li.label = "DATA";
  const std::string name = "report-" + std::to_string(i) + ".docx";
  if (i % 3 == 1) {
    li.has_volume = false;
    li.network = lnk_network_link{"\\\\SERVER\\SHARE" + std::to_string(i), "Z:"};
    li.suffix = name;
  } else {
    li.local_base_path = "C:\\Users\\x\\Documents\\" + name;
  }
  s.link_info = li;
  if (i % 2 == 0)
    s.idlist = idlist({shell_item(0x1F, from_hex("50e04fd020ea3a6910a2d808002b30309d")),
                       file_entry_item(0x32, 4096 + i, 0x5865, 0x3904, 0x20, name)});
  s.strings[lnk_name] = u"Report " + std::u16string(1, static_cast<char16_t>(u'A' + i % 26));
  s.strings[lnk_working_dir] = u"C:\\Users\\x\\Documents";
  if (i % 4 == 3) {
    // Past the mini-stream cutoff: the stream takes regular sectors.
    s.strings[lnk_arguments] = std::u16string(2300, u'a');
  }
  const guid_bytes_t object = written_object_id();
  s.extra_blocks = {
      tracker_block("desktop-0" + std::to_string(i % 10), object, object, object, object)};
  return write_lnk(s);
}

bytes_t automatic_list(uint32_t version, unsigned entries, bool extra_stream) {
  cfb_writer w;
  std::vector<destlist_test_entry> list;
  for (unsigned i = 0; i < entries; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "%x", i + 1);
    const std::string n(name);
    w.stream(std::u16string(n.begin(), n.end()), varied_link(i));
    destlist_test_entry e;
    e.entry_num = i + 1;
    e.mru_time += i * 1000000ull;
    e.access_count = i + 1;
    if (i == 1) e.pin_status = 0;
    e.path = u"C:\\Users\\x\\Documents\\report-" +
             std::u16string(1, static_cast<char16_t>(u'0' + i % 10)) + u".docx";
    list.insert(list.begin(), e);
  }
  // A stream that no entry names (a removed entry's link left behind).
  if (extra_stream) w.stream(u"7f", varied_link(entries));
  w.stream(u"DestList", build_destlist(version, list));
  return w.build();
}

// Links in a custom list: each after the link class identifier.
void put_links(byte_builder& b, unsigned first, unsigned count) {
  for (unsigned i = first; i < first + count; ++i) {
    b.bytes(bytes_t(lnk_clsid_bytes.begin(), lnk_clsid_bytes.end()));
    b.bytes(varied_link(i));
  }
}

bytes_t custom_tasks(unsigned links) {
  byte_builder b;
  b.u32(2).u32(1).u32(0);
  b.u32(2).u32(links);
  put_links(b, 0, links);
  b.u32(0xBABFFBABu);
  return b.take();
}

// A named category, a known one (no links of its own) and tasks.
bytes_t custom_categories() {
  byte_builder b;
  b.u32(2).u32(3).u32(0);
  const std::u16string name = u"Pinned";
  b.u32(0).u16(static_cast<uint16_t>(name.size())).utf16(name).u32(3);
  put_links(b, 0, 3);
  b.u32(0xBABFFBABu);
  b.u32(1).u32(1);
  b.u32(0xBABFFBABu);
  b.u32(2).u32(2);
  put_links(b, 3, 2);
  b.u32(0xBABFFBABu);
  return b.take();
}

bool write_all(const std::string& path, const bytes_t& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUT_DIR\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  struct file {
    const char* name;
    bytes_t bytes;
  };
  const file files[] = {
      {k_example_jumplist_name, example_jumplist()},
      {"1b4dd67f29cb1962.automaticDestinations-ms", automatic_list(1, 5, false)},
      {"28c8b86deab549a1.automaticDestinations-ms", automatic_list(3, 4, false)},
      {"9b9cdc69c1c24e2b.automaticDestinations-ms", automatic_list(4, 8, false)},
      {"a7bd71699cd38d1c.automaticDestinations-ms", automatic_list(4, 3, true)},
      {"590aee7bdd69b59b.customDestinations-ms", custom_tasks(4)},
      {"7e4dca80246863e3.customDestinations-ms", custom_categories()},
  };
  for (const file& f : files)
    if (!write_all(dir + "/" + f.name, f.bytes)) {
      std::fprintf(stderr, "can't write %s/%s\n", dir.c_str(), f.name);
      return 1;
    }
  return 0;
}
