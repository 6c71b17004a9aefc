// Writes the sound jump lists and links that tools/damage-sweep.sh damages:
// automatic lists of each DestList layout (small links in the mini stream,
// large ones in regular sectors, a pinned entry, a stream that no entry
// names), custom lists of one and of several categories, and links longer
// than 32 KiB and 64 KiB whose late texts hold control bytes, lone
// surrogates, noncharacters and C1 characters (alone and inside lists),
// links whose property values, in storages of each kind, pass 32 KiB and 64
// KiB first and later in their storage (and a list whose DestList entries'
// storages hold such values), and a link whose items carry file-entry
// extension blocks of every version and whose store holds arrays and
// string-named values, built with the test writers.
//
//   vesk_sweep_lists OUT_DIR
#include <cstdio>
#include <string>
#include <vector>

#include "byte_builder.h"
#include "cfb_writer.h"
#include "destlist_writer.h"
#include "example_jumplist.h"
#include "lnk_writer.h"
#include "propstore_writer.h"

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

// Characters a text may hold that no sound text should: C0 controls other
// than tab and line breaks, DEL, C1 controls, lone surrogates of both
// halves, U+FFFE and U+FFFF. In an 8-bit link only the low byte is kept.
std::u16string hostile_text(const std::u16string& around) {
  std::u16string t = around;
  for (char16_t c : {char16_t(0x01), char16_t(0x1b), char16_t(0x7f), char16_t(0x85), char16_t(0x9b),
                     char16_t(0xD800), char16_t(u'a'), char16_t(0xDC00), char16_t(0xFFFE),
                     char16_t(0xFFFF), char16_t(0x1f)}) {
    t += c;
    t += u'x';
  }
  return t + around;
}

// A link whose working directory of filler units pushes the texts after it
// past `filler` UTF-16 units (or bytes, unicode off); those texts hold
// hostile characters, and extra-data blocks of several kinds follow them.
bytes_t long_link(size_t filler, bool unicode) {
  lnk_spec s;
  s.unicode = unicode;
  s.attributes = 0x20;
  s.write_time = 133540960891234567ull;
  s.create_time = s.write_time - 1000;
  s.file_size = 77;
  s.idlist = idlist({shell_item(0x1F, from_hex("50e04fd020ea3a6910a2d808002b30309d")),
                     file_entry_item(0x32, 77, 0x5865, 0x3904, 0x20, "long.txt")});
  lnk_link_info li;
  li.serial = 0x0BADF00D;
  li.label = "LONG";
  li.local_base_path = "C:\\long\\long.txt";
  s.link_info = li;
  s.strings[lnk_name] = u"Long link";
  s.strings[lnk_working_dir] = u"C:\\" + std::u16string(filler, u'w');
  s.strings[lnk_arguments] = hostile_text(u"/arg ");
  s.strings[lnk_icon_location] = hostile_text(u"icon");
  if (!unicode)
    for (auto& text : s.strings)
      if (text)
        for (char16_t& c : *text) c = static_cast<char16_t>(c & 0xFF);
  const guid_bytes_t object = written_object_id();
  s.extra_blocks = {
      environment_block("%TEMP%\\long", u"%TEMP%\\long"),
      tracker_block("long-host", object, object, object, object),
      property_store_block(
          {storage(storage_fmtid_b725(), {int_value(10, 0x1F, lpwstr_data(u"long.txt"))}),
           storage(string_named_fmtid(), {named_value(u"Late", 0x1F, lpwstr_data(u"named"))})}),
      known_folder_block(object)};
  return write_lnk(s);
}

// A property storage of each kind (integer-named, string-named) whose one
// long text value of units UTF-16 units comes first or after a short value
// and before another.
std::vector<bytes_t> long_value_storages(size_t units, bool first) {
  const std::u16string text = hostile_text(u"v") + std::u16string(units, u'p') + u"end";
  std::vector<bytes_t> ints = {int_value(4, 0x13, u32_data(7)),
                               int_value(10, 0x1F, lpwstr_data(u"after"))};
  std::vector<bytes_t> named = {named_value(u"Short", 0x13, u32_data(9)),
                                named_value(u"After", 0x1F, lpwstr_data(u"late"))};
  ints.insert(ints.begin() + (first ? 0 : 1), int_value(2, 0x1F, lpwstr_data(text)));
  named.insert(named.begin() + (first ? 0 : 1), named_value(u"Long", 0x1F, lpwstr_data(text)));
  return {storage(storage_fmtid_b725(), ints), storage(string_named_fmtid(), named)};
}

// A root item whose 0xBEEF0010 block holds a property storage of each kind.
bytes_t item_with_storages() {
  const bytes_t guid = from_hex("e04fd020ea3a6910a2d808002b30309d");
  const bytes_t store = cat(
      {storage(storage_fmtid_b725(),
               {int_value(10, 0x1F, lpwstr_data(u"in item")), int_value(4, 0x13, u32_data(5))}),
       storage(string_named_fmtid(), {named_value(u"Nested", 0x1F, lpwstr_data(u"named in item"))}),
       bytes_t(4, 0)});
  return shell_item(0x1F, cat({{0x50}, guid, beef_block(0, 0x10, cat({bytes_t(8, 0), store}))}));
}

// A link whose property store holds values past units UTF-16 units in each
// storage kind (first or later in it), and whose ID list holds an item with
// storages of its own.
bytes_t long_value_link(size_t units, bool first) {
  lnk_spec s;
  s.attributes = 0x20;
  s.write_time = 133540960891234567ull;
  s.file_size = 99;
  s.idlist =
      idlist({item_with_storages(), file_entry_item(0x32, 99, 0x5865, 0x3904, 0x20, "values.txt")});
  s.strings[lnk_name] = u"Long values";
  const guid_bytes_t object = written_object_id();
  s.extra_blocks = {tracker_block("values-host", object, object, object, object),
                    property_store_block(long_value_storages(units, first))};
  return write_lnk(s);
}

bytes_t automatic_list(uint32_t version, unsigned entries, bool extra_stream,
                       const bytes_t& last_link = {}, bool long_storages = false) {
  cfb_writer w;
  std::vector<destlist_test_entry> list;
  for (unsigned i = 0; i < entries; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "%x", i + 1);
    const std::string n(name);
    w.stream(std::u16string(n.begin(), n.end()),
             i + 1 == entries && !last_link.empty() ? last_link : varied_link(i));
    destlist_test_entry e;
    e.entry_num = i + 1;
    e.mru_time += i * 1000000ull;
    e.access_count = i + 1;
    if (i == 1) e.pin_status = 0;
    // Entries' own storages with values past 32 KiB and 64 KiB, first and
    // later in them.
    if (long_storages && version > 1) {
      const auto kinds = long_value_storages(i % 2 ? 16400 : 33000, i % 2 == 0);
      e.property_storage = cat({kinds[0], kinds[1], bytes_t(4, 0)});
    }
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

// Tasks, the second a long link.
bytes_t custom_with_long_link(const bytes_t& link) {
  byte_builder b;
  b.u32(2).u32(1).u32(0);
  b.u32(2).u32(3);
  put_links(b, 0, 1);
  b.bytes(bytes_t(lnk_clsid_bytes.begin(), lnk_clsid_bytes.end()));
  b.bytes(link);
  put_links(b, 1, 1);
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

// A link whose ID list holds file entries with extension blocks of each
// version (3, 7, 8 and 9, each with a localized name; empty long names; a
// version-3 localized name whose first byte pair reads as a UTF-16 unit; a
// block past 16 KiB) and whose property store holds arrays (integer- and
// string-named) beside named texts.
bytes_t extensions_and_arrays_link() {
  lnk_spec s;
  s.attributes = 0x10;
  s.write_time = 133540960891234567ull;
  bytes_t items = shell_item(0x1F, from_hex("50e04fd020ea3a6910a2d808002b30309d"));
  const std::u16string long_name(8200, u'n');
  const struct {
    uint16_t version;
    const char* short_name;
    std::u16string_view long_name;
    std::u16string_view localized = u"@shell32.dll,-21798";
  } folders[] = {{3, "DOCUME~1", u"Documents"},
                 {7, "DOWNLO~1", u"Downloads"},
                 {8, "PICTUR~1", u"Pictures"},
                 {9, "MUSIC~1", u"Music Library"},
                 {3, "EMPTY3", u""},
                 {7, "EMPTY7", u""},
                 {8, "EMPTY8", u""},
                 {9, "EMPTY9", u"", u"@s,-1"},
                 {3, "ANSI3", u"Ansi", u"\x08"},
                 {9, "LONG~1", long_name}};
  for (const auto& f : folders)
    items = cat(
        {items, file_entry_item(0x31, 0, 0x5865, 0x3904, 0x10, f.short_name,
                                versioned_file_extension(f.version, f.long_name, f.localized))});
  s.idlist = cat({items, {0, 0}});
  const bytes_t numbers = array_data(3, {2}, cat({u32_data(7), u32_data(9)}));
  const bytes_t shorts = array_data(2, {3}, {1, 0, 2, 0, 3, 0, 0, 0});
  s.extra_blocks = {property_store_block(
      {storage(storage_fmtid_b725(),
               {int_value(10, 0x1F, lpwstr_data(u"arrays.txt")), int_value(4, 0x2003, numbers)}),
       storage(string_named_fmtid(), {named_value(u"MyNamedProp", 0x1F, lpwstr_data(u"namedvalue")),
                                      named_value(u"Shorts", 0x2002, shorts),
                                      named_value(u"After", 0x1F, lpwstr_data(u"late"))})})};
  return write_lnk(s);
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
      {"long-32k.lnk", long_link(16500, true)},
      {"long-64k.lnk", long_link(33000, true)},
      {"long-40k-8bit.lnk", long_link(40000, false)},
      {"f01b4d95cf55d32a.customDestinations-ms", custom_with_long_link(long_link(16500, true))},
      {"5d696d521de238c3.automaticDestinations-ms",
       automatic_list(4, 3, false, long_link(33000, true))},
      {"values-32k-first.lnk", long_value_link(16400, true)},
      {"values-32k-later.lnk", long_value_link(16400, false)},
      {"values-64k-first.lnk", long_value_link(33000, true)},
      {"values-64k-later.lnk", long_value_link(33000, false)},
      {"4cb9c5750d51c07f.automaticDestinations-ms",
       automatic_list(4, 2, false, long_value_link(33000, false), true)},
      {"extensions-and-arrays.lnk", extensions_and_arrays_link()},
  };
  for (const file& f : files)
    if (!write_all(dir + "/" + f.name, f.bytes)) {
      std::fprintf(stderr, "can't write %s/%s\n", dir.c_str(), f.name);
      return 1;
    }
  return 0;
}
