// Every structure of a link read as far as its bytes allow: a LinkInfo of
// any declared size, the Unicode forms of its names, extra-data blocks of
// other sizes or holding control characters, an ID list without items,
// counted texts holding NULs, links of a header alone, and the keep rule of
// the tool's roads. Where pylnk (liblnk 20181227) reads the same bytes its
// values are the literals; where it cuts or refuses them, the bytes written.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "default_params.h"
#include "jumplist/file_drivers.h"
#include "jumplist/lnk_parser.h"
#include "lnk_writer.h"
#include "propstore_writer.h"
#include "report_fixture.h"
#include "temp_tree.h"

namespace vk {
namespace {

using namespace vesk_test;

lnk_record parse(const lnk_bytes_t& bytes, bool* ok = nullptr) {
  lnk_record rec;
  // An exactly sized copy, so that the sanitizers see any read past it.
  std::vector<uint8_t> copy(bytes);
  const bool parsed = static_cast<bool>(
      parse_lnk(rec, copy.data(), copy.size(), default_params(), test_scratch(), false, 0));
  if (ok) *ok = parsed;
  return rec;
}

std::string causes(const lnk_record& rec) {
  std::string out;
  for (size_t i = 0; i < rec.m_faults.size(); ++i) {
    out += out.empty() ? "" : "; ";
    out += std::string(rec.m_faults[i].structure) + ": " + rec.m_faults[i].cause;
  }
  return out;
}

// A block written by the writer, its body cut or padded to size bytes.
lnk_bytes_t resized(const lnk_bytes_t& block, uint32_t size) {
  lnk_bytes_t out = block;
  out.resize(size, 0);
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(size >> (8 * i));
  return out;
}

lnk_bytes_t root_item_list() {
  return idlist({shell_item(0x1F, from_hex("50e04fd020ea3a6910a2d808002b30309d"))});
}

TEST(LinkStructures, LinkInfoIsReadByItsDeclaredSize) {
  const std::string path = "C:\\" + std::string(682, 'd');  // 685 characters
  lnk_link_info big;
  big.header_size = lnk_l::link_info::long_header_size;
  big.label = "DATA";
  big.local_base_path = path;
  big.local_base_path_unicode = std::u16string(path.begin(), path.end());
  big.suffix = "";
  ASSERT_GE(lnk_link_info_bytes(big).size(), 1280u);
  // The local base path's NUL lost: its text ends at the LinkInfo's end,
  // said.
  lnk_link_info unterminated;
  unterminated.local_base_path = "C:\\a.txt";
  lnk_bytes_t cut_path = lnk_link_info_bytes(unterminated);
  cut_path.pop_back();
  cut_path[0] = static_cast<uint8_t>(cut_path.size());
  struct {
    const char* what;
    bool with_idlist;
    std::optional<lnk_link_info> info;
    std::optional<lnk_bytes_t> raw;
    bool cut;  // the data ends inside the LinkInfo
    std::string local_path, name, arguments, faults;
  } cases[] = {
      {"large LinkInfo alone", false, big, {}, false, path, "real description", "-c evil.ps1", ""},
      {"large LinkInfo after an ID list",
       true,
       big,
       {},
       false,
       path,
       "real description",
       "-c evil.ps1",
       ""},
      {"path without its NUL",
       false,
       {},
       cut_path,
       false,
       "C:\\a.txt",
       "real description",
       "-c evil.ps1",
       "LinkInfo: local base path has no NUL inside the LinkInfo; read to its end"},
      {"LinkInfo past the data",
       false,
       big,
       {},
       true,
       path,
       "",
       "",
       "LinkInfo: declared size runs past the data; LinkInfo: UTF-16 local base path lies past "
       "the data"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    lnk_spec s;
    if (c.with_idlist) s.idlist = root_item_list();
    s.link_info = c.info;
    s.link_info_raw = c.raw;
    s.strings[lnk_name] = u"real description";
    s.strings[lnk_arguments] = u"-c evil.ps1";
    lnk_bytes_t bytes = write_lnk(s);
    // Cut where the UTF-16 path would begin: the 8-bit one is whole.
    if (c.cut) bytes.resize(76 + 744);
    bool ok = false;
    const lnk_record rec = parse(bytes, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(rec.m_local_base_path, c.local_path);
    EXPECT_EQ(rec.m_volume_label, c.info ? "DATA" : "");
    EXPECT_EQ(rec.m_name, c.name);
    EXPECT_EQ(rec.m_arguments, c.arguments);
    EXPECT_EQ(causes(rec), c.faults);
    if (!c.cut) {
      EXPECT_EQ(rec.m_lnk_size, bytes.size());
    }
  }
}

TEST(LinkStructures, UnicodeFormsReplaceTheEightBitOnes) {
  lnk_spec s;
  lnk_link_info li;
  li.unicode_label = true;
  li.label_unicode = u"Объём";
  li.network = lnk_network_link{"\\\\srv\\sh?re", "Z:"};
  li.net_name_unicode = u"\\\\srv\\shаre";  // a Cyrillic а
  li.device_name_unicode = u"Z:ü";
  li.local_base_path = "";
  li.suffix = "";
  s.link_info = li;
  s.extra_blocks = {
      icon_environment_block("%ProgramFiles%\\????.ico", u"%ProgramFiles%\\Значок.ico")};
  lnk_record rec = parse(write_lnk(s));
  EXPECT_EQ(rec.m_volume_label, "Объём");
  EXPECT_EQ(rec.m_net_name, "\\\\srv\\shаre");
  EXPECT_EQ(rec.m_device_name, "Z:ü");
  EXPECT_EQ(rec.m_icon_environment, "%ProgramFiles%\\Значок.ico");
  EXPECT_EQ(causes(rec), "");

  // Empty or absent Unicode forms leave the 8-bit ones.
  li.label_unicode.clear();
  li.label = "";
  li.net_name_unicode = u"";
  li.device_name_unicode.reset();
  s.link_info = li;
  s.extra_blocks = {icon_environment_block("%SystemRoot%\\a.ico", u"")};
  rec = parse(write_lnk(s));
  EXPECT_EQ(rec.m_volume_label, "");
  EXPECT_EQ(rec.m_net_name, "\\\\srv\\sh?re");
  EXPECT_EQ(rec.m_device_name, "Z:");
  EXPECT_EQ(rec.m_icon_environment, "%SystemRoot%\\a.ico");
}

// A LinkInfo's parts are read as its flags declare them; a network link's
// names end at its declared end. Literals: pylnk's local path, network path,
// volume label, drive type and serial for the same bytes (pylnk refuses the
// LinkInfo of a suffix alone, and a part declared at offset zero: there,
// the bytes written).
TEST(LinkStructures, LinkInfoFlagsAndNetworkLinkEnd) {
  lnk_link_info all;
  all.header_size = lnk_l::link_info::long_header_size;
  all.label = "DATA";
  all.serial = 0x1234ABCD;
  all.local_base_path = "C:\\a.txt";
  all.local_base_path_unicode = u"C:\\a.txt";
  all.network = lnk_network_link{"\\\\srv\\share", ""};
  all.suffix = "doc";
  const std::string no_volume =
      "LinkInfo: VolumeID or local base path offset set though the flags declare neither; not "
      "read";
  const std::string no_network =
      "LinkInfo: network link offset set though the flags declare none; not read";
  // The network link's size cut by one byte (8-bit name) or two (UTF-16
  // name), and its last name's NUL made an "X": the name's text ends at the
  // link's end, said.
  const auto cut_network = [](lnk_link_info li, uint32_t by) {
    lnk_bytes_t bytes = lnk_link_info_bytes(li);
    const size_t at = bytes[lnk_l::link_info::network_link_offset];
    bytes[at] = static_cast<uint8_t>(bytes[at] - by);
    bytes[at + bytes[at]] = 'X';
    return bytes;
  };
  lnk_link_info wide = all;
  wide.net_name_unicode = u"\\\\srv\\shаre";  // a Cyrillic а
  lnk_link_info suffix_only;
  suffix_only.has_volume = false;
  suffix_only.suffix = "doc";
  lnk_link_info volume_at_zero = all, network_at_zero = all;
  volume_at_zero.volume_id_offset = 0;
  network_at_zero.network_offset = 0;
  struct {
    const char* what;
    lnk_link_info info;
    std::optional<uint32_t> flags;
    std::optional<lnk_bytes_t> raw;
    std::string label, drive, serial, local, net, faults;
  } cases[] = {
      {"both declared",
       all,
       {},
       {},
       "DATA",
       "fixed",
       "1234-abcd",
       "C:\\a.txt",
       "\\\\srv\\share",
       ""},
      {"neither declared", all, 0, {}, "", "", "", "", "", no_volume + "; " + no_network},
      {"volume only", all, 1, {}, "DATA", "fixed", "1234-abcd", "C:\\a.txt", "", no_network},
      {"network only", all, 2, {}, "", "", "", "", "\\\\srv\\share", no_volume},
      {"suffix only", suffix_only, 0, {}, "", "", "", "", "", ""},
      {"VolumeID declared at offset zero",
       volume_at_zero,
       {},
       {},
       "",
       "",
       "",
       "C:\\a.txt",
       "\\\\srv\\share",
       "LinkInfo: VolumeID declared by the flags at offset zero"},
      {"network link declared at offset zero",
       network_at_zero,
       {},
       {},
       "DATA",
       "fixed",
       "1234-abcd",
       "C:\\a.txt",
       "",
       "LinkInfo: network link declared by the flags at offset zero"},
      {"8-bit name past the network link's end",
       all,
       {},
       cut_network(all, 1),
       "DATA",
       "fixed",
       "1234-abcd",
       "C:\\a.txt",
       "\\\\srv\\share",
       "network link: net name has no NUL inside the network link; read to its end"},
      {"UTF-16 name past the network link's end",
       wide,
       {},
       cut_network(wide, 2),
       "DATA",
       "fixed",
       "1234-abcd",
       "C:\\a.txt",
       "\\\\srv\\shаre",
       "network link: UTF-16 name has no NUL inside the network link; read to its end"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    lnk_spec s;
    c.info.flags = c.flags;
    s.link_info = c.info;
    s.link_info_raw = c.raw;
    s.strings[lnk_name] = u"after";
    const lnk_bytes_t bytes = write_lnk(s);
    const lnk_record rec = parse(bytes);
    EXPECT_EQ(rec.m_volume_label, c.label);
    EXPECT_EQ(rec.m_drive_type, c.drive);
    EXPECT_EQ(rec.m_volume_serial, c.serial);
    EXPECT_EQ(rec.m_local_base_path, c.local);
    EXPECT_EQ(rec.m_net_name, c.net);
    EXPECT_EQ(rec.m_common_path_suffix, "doc");
    EXPECT_EQ(rec.m_name, "after");
    EXPECT_EQ(causes(rec), c.faults);
    EXPECT_EQ(rec.m_lnk_size, bytes.size());
  }
}

// A UTF-16 unit that is half of no pair is replaced by U+FFFD alone, the
// units around it kept, in every UTF-16 text of a link. The second and
// third are pylnk's values; pylnk takes the unit after a high surrogate as
// its pair whatever it is, so the first and fourth follow the bytes written.
TEST(LinkStructures, DamagedUtf16UnitsAreReplacedOneByOne) {
  struct {
    std::u16string units;
    std::string shown;
  } cases[] = {
      {u"%X%\\\xD83D\x0100x", "%X%\\\xEF\xBF\xBD\xC4\x80x"},
      {u"%X%\\a\xDE00"
       u"b",
       "%X%\\a\xEF\xBF\xBD"
       "b"},
      {u"%X%\\a\xD83D", "%X%\\a\xEF\xBF\xBD"},
      {u"%X%\\\xDE00\xD83D\xDE00", "%X%\\\xEF\xBF\xBD\xF0\x9F\x98\x80"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.shown);
    lnk_spec s;
    lnk_link_info li;
    li.header_size = lnk_l::link_info::long_header_size;
    li.unicode_label = true;
    li.label_unicode = c.units;
    li.local_base_path = "C:\\?";
    li.local_base_path_unicode = c.units;
    li.network = lnk_network_link{"\\\\srv\\?", "Z:"};
    li.net_name_unicode = c.units;
    li.suffix = "";
    s.link_info = li;
    s.strings[lnk_icon_location] = c.units;
    s.extra_blocks = {icon_environment_block("%X%\\?", c.units)};
    const lnk_record rec = parse(write_lnk(s));
    for (const std::string* text : {&rec.m_volume_label, &rec.m_local_base_path, &rec.m_net_name,
                                    &rec.m_icon_location, &rec.m_icon_environment})
      EXPECT_EQ(*text, c.shown);
    EXPECT_EQ(causes(rec), "");
  }
}

// A block of a kind of one fixed size declared larger is read and said;
// one too small for its fields is said and stepped over.
TEST(LinkStructures, BlocksOfOtherSizesAndTheEndOfTheWalk) {
  const guid_bytes_t object = written_object_id();
  const lnk_bytes_t tracker = tracker_block("desk-02", object, object, object, object);
  const lnk_bytes_t known = known_folder_block(object);
  struct {
    const char* what;
    std::vector<lnk_bytes_t> blocks;
    std::string environment, machine, icon, faults;
    bool known_read;
  } cases[] = {
      {"environment holding a CR",
       {environment_block("%TEMP%\\a\rb", u"%TEMP%\\a\rb"),
        tracker_block("desk-01", object, object, object, object), known},
       "%TEMP%\\a\rb",
       "desk-01",
       "",
       "",
       true},
      {"tracker of 0x64 bytes",
       {resized(tracker, 0x64), known},
       "",
       "desk-02",
       "",
       "extra-data block: declared size is not its kind's",
       true},
      {"environment of 0x318 bytes",
       {resized(environment_block("%TEMP%\\e", u"%TEMP%\\e"), 0x318)},
       "%TEMP%\\e",
       "",
       "",
       "extra-data block: declared size is not its kind's",
       false},
      {"icon environment of 0x400 bytes",
       {resized(icon_environment_block("%SystemRoot%\\i.ico", u"%SystemRoot%\\i.ico"), 0x400)},
       "",
       "",
       "%SystemRoot%\\i.ico",
       "extra-data block: declared size is not its kind's",
       false},
      {"tracker too small, the walk goes on",
       {resized(tracker, 0x50), known},
       "",
       "",
       "",
       "extra-data block: too small for its kind's fields",
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    lnk_spec s;
    s.extra_blocks = c.blocks;
    const lnk_bytes_t bytes = write_lnk(s);
    const lnk_record rec = parse(bytes);
    EXPECT_EQ(rec.m_environment_target, c.environment);
    EXPECT_EQ(rec.m_machine_id, c.machine);
    EXPECT_EQ(rec.m_icon_environment, c.icon);
    EXPECT_EQ(!rec.m_known_folder_id.empty(), c.known_read);
    EXPECT_EQ(causes(rec), c.faults);
    EXPECT_EQ(rec.m_lnk_size, bytes.size());
  }

  // Any BlockSize below 4 is the terminal block, said nowhere; a terminal
  // block cut short or missing is said.
  for (uint32_t terminal : {0u, 1u, 2u, 3u}) {
    lnk_spec s;
    s.extra_blocks = {known};
    s.terminate = false;
    byte_builder t;
    t.u32(terminal);
    s.trailing = t.take();
    const lnk_bytes_t bytes = write_lnk(s);
    const lnk_record rec = parse(bytes);
    EXPECT_EQ(causes(rec), "") << terminal;
    EXPECT_EQ(rec.m_lnk_size, bytes.size()) << terminal;
    for (size_t cut = 1; cut <= 4; ++cut) {
      const lnk_record part = parse(lnk_bytes_t(bytes.begin(), bytes.end() - cut));
      EXPECT_EQ(causes(part), cut < 4 ? "terminal block: runs past the data"
                                      : "terminal block: lies past the data")
          << terminal << " " << cut;
    }
  }
}

TEST(LinkStructures, IdListWithoutItemsEndsAtItsDeclaredSize) {
  // IDListSize, then the items: an empty first item and bytes the size counts.
  for (const lnk_bytes_t& list : {lnk_bytes_t{0, 0}, lnk_bytes_t{0, 0, 4, 0, 'a', 'b'},
                                  lnk_bytes_t{0, 0, 0, 0, 0, 0, 0, 0, 0, 0}}) {
    lnk_spec s;
    s.idlist = list;
    s.strings[lnk_name] = u"after";
    const lnk_bytes_t bytes = write_lnk(s);
    const lnk_record rec = parse(bytes);
    EXPECT_TRUE(rec.m_idlist_items.empty());
    EXPECT_EQ(rec.m_name, "after") << list.size();
    EXPECT_EQ(rec.m_name_offset, 78u + list.size());
    EXPECT_EQ(rec.m_lnk_size, bytes.size());
  }
}

TEST(LinkStructures, CountedTextsAndLpstrValues) {
  struct {
    bool unicode;
    std::u16string text;
    std::string shown;
  } cases[] = {
      {true, std::u16string(u"ab\0cd\0\0", 7), std::string("ab\0cd", 5)},
      {false, std::u16string(u"ab\0cd\0\0", 7), std::string("ab\0cd", 5)},
      {true, std::u16string(u"\0x", 2), std::string("\0x", 2)},
      {false, std::u16string(u"\0\xE9", 2), std::string("\0\xC3\xA9", 3)},
      {true, std::u16string(u"abc\0", 4), "abc"},
      {true, std::u16string(u"\0\0", 2), ""},
  };
  for (const auto& c : cases) {
    lnk_spec s;
    s.unicode = c.unicode;
    s.strings[lnk_arguments] = c.text;
    s.strings[lnk_icon_location] = u"i";
    const lnk_record rec = parse(write_lnk(s));
    EXPECT_EQ(rec.m_arguments, c.shown) << c.unicode << " " << c.text.size();
    EXPECT_EQ(rec.m_icon_location, "i");
  }

  // VT_LPSTR values, one and a vector of two: each a byte count, the 8-bit
  // text (Windows-1252) and its NUL.
  byte_builder lpstr;
  lpstr.u32(6).bytes({'G', 'r', 0xFC, 0xDF, 'e', 0}).pad_to(12);
  lnk_spec s;
  s.extra_blocks = {property_store_block(
      {storage(storage_fmtid_b725(),
               {int_value(10, 0x1E, lpstr.take()),
                int_value(11, 0x101E, from_hex("0200000002000000610003000000626300"))})})};
  const lnk_record rec = parse(write_lnk(s));
  EXPECT_EQ(rec.m_property_values, (std::vector<std::string>{"Grüße", "a", "bc"}));
}

// The tool's roads: what a file is reported as, and what is said of it.
struct run {
  uint64_t records = 0;
  std::string notes, text;
};

run run_file(const temp_tree& tree, const std::string& name, const std::vector<uint8_t>& bytes) {
  tree.file(name, std::string(bytes.begin(), bytes.end()));
  vesk_options options;
  options.m_source_path = tree.path(name);
  std::ostringstream text;
  process_jumplist_file(text, options.m_source_path, options);
  return {options.m_records_written, options.m_notes.lines("F"), text.str()};
}

TEST(LinkStructures, HeaderOnlyLinksAndTheKeepRule) {
  temp_tree tree;
  lnk_spec bare;
  bare.create_time = 132572616638819438u;
  bare.file_size = 1234;
  const lnk_bytes_t header_and_terminal = write_lnk(bare);
  ASSERT_EQ(header_and_terminal.size(), 80u);
  lnk_spec announcing = bare;
  announcing.flags_override = 0x29F;
  lnk_bytes_t header_alone = write_lnk(announcing);
  header_alone.resize(76);
  lnk_spec icon_only = bare;
  icon_only.extra_blocks = {icon_environment_block("%SystemRoot%\\a.ico", u"%SystemRoot%\\a.ico")};
  lnk_bytes_t cut_terminal = fixture_link();
  cut_terminal.resize(cut_terminal.size() - 2);
  std::vector<destlist_test_entry> entries(1);
  cfb_writer list;
  list.stream(u"1", cut_terminal);
  list.stream(u"DestList", build_destlist(4, entries));
  // A block of an unknown signature is stepped over in a link of any length.
  lnk_spec large = bare;
  const guid_bytes_t object = written_object_id();
  large.extra_blocks = {extra_block(0x00000099, lnk_bytes_t(40000, 0x5A)),
                        tracker_block("desk-02", object, object, object, object)};
  struct {
    const char* name;
    std::vector<uint8_t> bytes;
    uint64_t records;
    const char* note;  // in the notes, or none when null
  } cases[] = {
      {"header_and_terminal.lnk", header_and_terminal, 1, nullptr},
      {"header_alone.lnk", header_alone, 1, "not read in full: F"},
      {"icon_environment_only.lnk", write_lnk(icon_only), 1, nullptr},
      {"large.lnk", write_lnk(large), 1, nullptr},
      {"cut_terminal.automaticDestinations-ms", list.build(), 1, "terminal block at offset 0x"},
  };
  for (const auto& c : cases) {
    const run r = run_file(tree, c.name, c.bytes);
    EXPECT_EQ(r.records, c.records) << c.name;
    if (std::strcmp(c.name, "large.lnk") == 0) {
      EXPECT_NE(r.text.find("desk-02"), std::string::npos);
    }
    if (c.note) {
      EXPECT_NE(r.notes.find(c.note), std::string::npos) << c.name << ": " << r.notes;
    } else {
      EXPECT_EQ(r.notes, "") << c.name;
    }
  }

  // At the header level: times and size kept whatever follows.
  bool ok = false;
  lnk_record rec = parse(header_alone, &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(rec.m_header.m_create_time, 132572616638819438u);
  EXPECT_EQ(rec.m_header.m_file_size, 1234u);
  EXPECT_EQ(causes(rec), "ID list: lies past the data");
  rec = parse(header_and_terminal, &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(rec.m_lnk_size, 80u);
  EXPECT_EQ(causes(rec), "");

  // Bytes that only look like a link inside other data stay unreported.
  std::vector<uint8_t> carved(4096, 0);
  std::copy(header_and_terminal.begin(), header_and_terminal.end(), carved.begin() + 1000);
  EXPECT_EQ(run_file(tree, "carved.bin", carved).records, 0u);
}

}  // namespace
}  // namespace vk
