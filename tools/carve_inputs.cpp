// Writes the pieces that tools/carve-sweep.py lays out as dumps: links,
// automatic lists (links in the mini stream and in regular sectors, 512-
// and 4096-byte sectors), custom lists, a compound file that is no list,
// a list holding a list in one of its streams, levels deep, and the heads
// of volume images from the project's volume writers; built with the test
// writers and seeded, so that the same run always gives the same bytes.
//
//   vesk_carve_inputs OUT_DIR
//
// OUT_DIR/items.tsv names each piece with its class and where its links'
// headers lie in it: "offset:L" for a link the carver reads as a list's,
// "offset:K" for one it reads as a loose link.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "byte_builder.h"
#include "cfb_writer.h"
#include "destlist_writer.h"
#include "idlist_writer.h"
#include "lnk_writer.h"
#include "propstore_writer.h"
#include "volume_writer.h"

namespace {

using namespace vesk_test;
using bytes_t = std::vector<uint8_t>;

unsigned g_next_link = 0;

// A link naming its own file; the kinds differ in the structures they hold.
bytes_t sweep_link(bool long_text = false) {
  const unsigned i = g_next_link++;
  lnk_spec s;
  s.attributes = 0x20;
  s.write_time = 133540960891234567ull + i * 864000000000ull;
  s.create_time = s.write_time - 1000;
  s.file_size = 4096 + i;
  lnk_link_info li;
  li.serial = 0x1234ABCD + i;
  li.local_base_path = "C:\\carve\\k" + std::to_string(i) + ".txt";
  s.link_info = li;
  if (i % 2 == 0)
    s.idlist = idlist({shell_item(0x1F, from_hex("50e04fd020ea3a6910a2d808002b30309d")),
                       file_entry_item(0x32, 4096 + i, 0x5865, 0x3904, 0x20, "k.txt")});
  s.strings[lnk_name] = u"carved " + std::u16string(1, static_cast<char16_t>(u'A' + i % 26));
  if (long_text) s.strings[lnk_arguments] = std::u16string(2300, u'a');
  const guid_bytes_t object = written_object_id();
  s.extra_blocks = {
      tracker_block("host-" + std::to_string(i % 10), object, object, object, object)};
  if (i % 3 == 0)
    s.extra_blocks.push_back(property_store_block(
        {storage(storage_fmtid_b725(), {int_value(10, 0x1F, lpwstr_data(u"k.txt"))})}));
  return write_lnk(s);
}

struct item {
  std::string name, kind;
  bytes_t bytes;
  std::string entries;
  size_t free_at = 0, lead_at = 0;  // where its free sectors and its lead stream begin
};

void add_entry(item& it, uint64_t offset, char kind) {
  if (!it.entries.empty()) it.entries += ',';
  it.entries += std::to_string(offset) + ':' + kind;
}

// The entries of inner, whose bytes lie at offset at of it.
void add_entries(item& it, const item& inner, uint64_t at) {
  size_t from = 0;
  while (from < inner.entries.size()) {
    size_t comma = inner.entries.find(',', from);
    if (comma == std::string::npos) comma = inner.entries.size();
    const std::string e = inner.entries.substr(from, comma - from);
    add_entry(it, at + std::stoull(e), e.back());
    from = comma + 1;
  }
}

// How a list is laid out beyond its links: a stream of lead bytes first,
// every link long (past the mini-stream cutoff) with its last two sectors
// swapped (as the sectors of a list written over time lie), free sectors
// before a last stream, one link stream zeroed (its entry then kept without link data).
struct list_shape {
  size_t lead = 0, free = 0;
  bool shuffled = false;
  unsigned zeroed = 0;  // the stream number zeroed, 0: none
};

// An automatic list of count links (every fourth past the mini-stream
// cutoff), a DestList naming each and, when given, a stream holding inner.
item automatic_list(const std::string& name, unsigned count, uint16_t shift = 9,
                    const item* inner = nullptr, const list_shape& shape = {}) {
  cfb_layout layout;
  layout.sector_shift = shift;
  layout.streams_first = shift == 12 && !shape.free;
  cfb_writer w(layout);
  if (shape.lead) w.stream(u"Lead", cfb_pattern(shape.lead, 4));
  std::vector<destlist_test_entry> list;
  const auto stream_name = [](unsigned i) {
    const std::string n = [i] {
      char stream[16];
      std::snprintf(stream, sizeof stream, "%x", i);
      return std::string(stream);
    }();
    return std::u16string(n.begin(), n.end());
  };
  for (unsigned i = 0; i < count; ++i) {
    w.stream(stream_name(i + 1), sweep_link(shape.shuffled || i % 4 == 3));
    destlist_test_entry e;
    e.entry_num = i + 1;
    e.mru_time += i * 1000000ull;
    list.insert(list.begin(), e);
  }
  w.stream(u"DestList", build_destlist(4, list));
  if (inner) w.stream(u"Inner", inner->bytes);
  if (shape.free) w.free_sector(shape.free).stream(u"Tail", cfb_pattern(5000, 6));
  item it{name, "list", w.build(), {}};
  if (shape.free) it.free_at = w.sector_offset(w.free_sectors[0]);
  if (shape.lead) it.lead_at = w.info(u"Lead").first_offset;
  for (unsigned i = 0; shape.shuffled && i < count; ++i)
    w.swap_last_sectors(it.bytes, stream_name(i + 1));
  if (shape.zeroed) {
    const auto& zeroed = w.info(stream_name(shape.zeroed));
    std::fill_n(it.bytes.begin() + zeroed.first_offset, zeroed.data.size(), 0);
  }
  // An entry whose stream is zeroed is kept without link data, where its
  // stream starts.
  for (unsigned i = 0; i < count; ++i) add_entry(it, w.info(stream_name(i + 1)).first_offset, 'L');
  // The inner list's stream is one run of sectors: its links lie where
  // they lay in it.
  if (inner) add_entries(it, *inner, w.info(u"Inner").first_offset);
  return it;
}

// A custom list of tasks: its links are loose ones to a carver.
item custom_list(const std::string& name, unsigned count) {
  byte_builder b;
  b.u32(2).u32(1).u32(0).u32(2).u32(count);
  item it{name, "custom", {}, {}};
  for (unsigned i = 0; i < count; ++i) {
    b.bytes(bytes_t(lnk_clsid_bytes.begin(), lnk_clsid_bytes.end()));
    add_entry(it, b.size(), 'K');
    b.bytes(sweep_link());
  }
  b.u32(0xBABFFBABu);
  it.bytes = b.take();
  return it;
}

// A document-like compound file: no link anywhere in it, unless its first
// stream holds inner, 1,000 bytes in.
item no_list(const std::string& name, const item* inner = nullptr) {
  cfb_writer w;
  bytes_t document = cfb_pattern(9000, 3);
  if (inner) document.insert(document.begin() + 1000, inner->bytes.begin(), inner->bytes.end());
  w.stream(u"WordDocument", document).stream(u"1Table", cfb_pattern(5000, 9));
  w.stream(u"\x05SummaryInformation", cfb_pattern(400, 5));
  item it{name, "nolist", w.build(), {}};
  if (inner) add_entries(it, *inner, w.info(u"WordDocument").first_offset + 1000);
  return it;
}

// piece written at offset at of into: the entries of both.
item holding(const std::string& name, item into, const item& piece, size_t at) {
  std::copy(piece.bytes.begin(), piece.bytes.end(), into.bytes.begin() + at);
  into.name = name;
  add_entries(into, piece, at);
  return into;
}

// Stream i of a list: i in lower-case hexadecimal.
std::u16string hex_stream(unsigned i) {
  char stream[16];
  std::snprintf(stream, sizeof stream, "%x", i);
  return std::u16string(stream, stream + std::strlen(stream));
}

// A list of streams 1..streams whose DestList entries name the numbers
// given, its DestList bytes shaped as given, or the stream renamed away:
// the sweep reads it alone as a file and carved, and compares the two.
item as_file_list(const std::string& name, unsigned streams, std::vector<uint64_t> named,
                  uint16_t shift, void (*shape)(bytes_t&) = nullptr,
                  std::u16string destlist = u"DestList") {
  cfb_writer w(cfb_layout{.sector_shift = shift});
  for (unsigned i = 0; i < streams; ++i) w.stream(hex_stream(i + 1), sweep_link());
  bytes_t d = build_destlist_naming(named);
  if (shape) shape(d);
  w.stream(std::move(destlist), d);
  item it{name, "asfile", w.build(), {}};
  return it;
}

void cut_half(bytes_t& d) {
  d.resize(d.size() / 2);
}
void zero_header(bytes_t& d) {
  std::fill_n(d.begin(), 32, 0);
}
void all_zero(bytes_t& d) {
  std::fill(d.begin(), d.end(), 0);
}
void two_pinned(bytes_t& d) {
  put_le32(d, 8, 2);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUT_DIR\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  std::vector<item> items;
  for (unsigned i = 0; i < 4; ++i) {
    item link{"link" + std::to_string(i), "link", sweep_link(i == 3), {}};
    add_entry(link, 0, 'K');
    items.push_back(link);
  }
  items.push_back(automatic_list("list3", 3));
  items.push_back(automatic_list("list26", 26));
  items.push_back(automatic_list("list12big", 12, 12));
  items.push_back(custom_list("custom4", 4));
  items.push_back(no_list("nolist"));
  // A list inside a list's stream, twelve levels deep.
  item nested = automatic_list("nested", 2);
  for (int level = 0; level < 11; ++level) nested = automatic_list("nested", 2, 9, &nested);
  items.push_back(nested);
  // Compound files overlapping as on a used disk: a list in another's free
  // sectors, in a deleted list's stream, in a stream of a compound file
  // that is no list; the heads of lists (one whose links lie past 16 KiB,
  // one of 4 KiB sectors up to its free ones) that a list follows; a list
  // with a link stream zeroed.
  const item shuffled = automatic_list("shuffled", 11, 9, nullptr, {.shuffled = true});
  items.push_back(shuffled);
  const item two_free =
      automatic_list("", 2, 9, nullptr, {.free = shuffled.bytes.size() / 512 + 1});
  items.push_back(holding("infree", two_free, shuffled, two_free.free_at));
  const item one = automatic_list("", 1, 9, nullptr, {.shuffled = true});
  const item deleted = automatic_list("", 2, 9, nullptr, {.lead = one.bytes.size()});
  items.push_back(holding("indeleted", deleted, one, deleted.lead_at));
  items.push_back(no_list("innolist", &shuffled));
  items.push_back(automatic_list("farhead", 4, 9, nullptr, {.lead = 20 << 10, .shuffled = true}));
  item large_head = automatic_list("largehead", 3, 12, nullptr, {.free = 40});
  large_head.bytes.resize(large_head.free_at);
  items.push_back(large_head);
  item zeroed = automatic_list("zeroed", 8, 9, nullptr, {.zeroed = 7});
  zeroed.kind = "damaged";
  items.push_back(zeroed);
  // Lists whose DestList is damaged, repeats a stream or is missing: each
  // is scored against the same list read as a file.
  const std::vector<uint64_t> eleven = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  for (uint16_t shift : {9, 12}) {
    const std::string s = shift == 9 ? "" : "4k";
    items.push_back(as_file_list("repeated" + s, 3, {1, 2, 2}, shift));
    items.push_back(as_file_list("pinned" + s, 3, {1, 2, 3}, shift, two_pinned));
    items.push_back(as_file_list("cut" + s, 11, eleven, shift, cut_half));
    items.push_back(as_file_list("missing" + s, 11, eleven, shift, nullptr, u"DestLisx"));
    items.push_back(as_file_list("zeroheader" + s, 11, eleven, shift, zero_header));
    items.push_back(as_file_list("allzero" + s, 11, eleven, shift, all_zero));
  }
  // Eight link streams on one chain.
  {
    cfb_writer w;
    std::vector<destlist_test_entry> entries(8);
    for (unsigned i = 0; i < 8; ++i) {
      w.stream(hex_stream(i + 1), sweep_link());
      entries[i].entry_num = i + 1;
    }
    w.stream(u"DestList", build_destlist(4, entries));
    item chain{"onechain", "asfile", w.build(), {}};
    for (unsigned i = 2; i <= 8; ++i) {
      const size_t entry = w.dir_entry_offset(w.info(hex_stream(i)).entry_num);
      put_le32(chain.bytes, entry + dirent::start_sector, w.info(u"1").chain[0]);
      put_le32(chain.bytes, entry + dirent::stream_size,
               static_cast<uint32_t>(w.info(u"1").data.size()));
    }
    items.push_back(chain);
  }
  // Volume heads: their data areas are where the pieces go.
  items.push_back(item{"fat16", "volume", fat_image(16, 4096), {}});
  items.push_back(item{"exfat", "volume", exfat_image(), {}});
  items.push_back(item{"ext", "volume", ext_image(), {}});
  std::string table;
  for (const item& it : items) {
    if (!write_all(dir + "/" + it.name + ".bin", it.bytes)) {
      std::fprintf(stderr, "can't write %s/%s.bin\n", dir.c_str(), it.name.c_str());
      return 1;
    }
    table += it.name + "\t" + it.kind + "\t" + it.entries + "\n";
  }
  return write_all(dir + "/items.tsv", bytes_t(table.begin(), table.end())) ? 0 : 1;
}
