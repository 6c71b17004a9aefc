// Where a link's parse stops short: a link that ends after its last whole
// structure keeps it and says nothing; damage keeps what was read and a
// reason (structure, offset from the link's first byte, cause). Blocks of
// 64 KiB and more are read whole inside an automatic list.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "cfb_writer.h"
#include "default_params.h"
#include "destlist_writer.h"
#include "idlist_writer.h"
#include "jumplist/extra_data.h"
#include "jumplist/file_drivers.h"
#include "jumplist/lnk_parser.h"
#include "jumplist/vesk_main.h"
#include "jumplist_samples.h"
#include "lnk_writer.h"
#include "propstore_writer.h"
#include "shell/parse_ctx.h"
#include "temp_tree.h"

namespace vk {
namespace {

using namespace vesk_test;

lnk_record parse_exact(const lnk_bytes_t& bytes) {
  lnk_record rec;
  const lnk_bytes_t copy(bytes);  // exactly sized, for the sanitizers
  EXPECT_TRUE(parse_lnk(rec, copy.data(), copy.size(), default_params(), vesk_test::test_scratch(),
                        false, 0));
  return rec;
}

lnk_bytes_t with(lnk_spec s, std::vector<lnk_bytes_t> blocks, bool terminate = true) {
  s.extra_blocks = std::move(blocks);
  s.terminate = terminate;
  return write_lnk(s);
}

// A storage of the b725 set with one text value.
prop_bytes_t text_storage(std::u16string_view text) {
  return storage(storage_fmtid_b725(), {int_value(10, 0x1F, lpwstr_data(text))});
}

const guid_bytes_t k_folder = {0xdb, 0xb5, 0xf6, 0xee, 0x5e, 0x0d, 0x74, 0x46,
                               0xa1, 0xb3, 0x26, 0x18, 0x45, 0xee, 0xf1, 0xb2};
constexpr const char* k_folder_text = "eef6b5db-0d5e-4674-a1b3-261845eef1b2";

// Cut after the last text, after LinkInfo, after a block, after the header
// of an application link (flags IsUnicode alone: its property store and
// terminal block gone; pylnk reads each of these in full too and says
// nothing), a storage filling its block, a whole link: every structure kept,
// the size the data's; the terminal block said missing where it is.
TEST(LnkFaults, LinksEndingBeforeTheirTerminalBlockKeepEveryStructureAndSayIt) {
  lnk_spec texts;
  texts.strings[lnk_name] = u"Name";
  texts.strings[lnk_arguments] = u"-a b";
  lnk_link_info li;
  li.local_base_path = "C:\\x.txt";
  lnk_spec info;
  info.link_info = li;
  lnk_spec app;  // no ID list, LinkInfo nor StringData: a header alone
  app.flags_override = 0x80;
  lnk_bytes_t stored = text_storage(u"hello.txt");
  stored.resize(stored.size() + 4);  // the store's terminator
  lnk_bytes_t filled = extra_block(0xA0000009, stored);
  using field = std::string (*)(const lnk_record&);
  const field arguments = [](const lnk_record& r) { return r.m_arguments; };
  const field local = [](const lnk_record& r) { return r.m_local_base_path; };
  const field folder = [](const lnk_record& r) { return std::string(r.m_known_folder_id); };
  const field value = [](const lnk_record& r) {
    return r.m_property_values.empty() ? std::string() : r.m_property_values[0];
  };
  const field none = [](const lnk_record&) { return std::string(); };
  const struct {
    const char* what;
    lnk_bytes_t bytes;
    field get;
    const char* want;
    bool terminated;
  } cases[] = {
      {"texts", with(texts, {}, false), arguments, "-a b", false},
      {"LinkInfo", with(info, {}, false), local, "C:\\x.txt", false},
      {"block", with(texts, {known_folder_block(k_folder)}, false), folder, k_folder_text, false},
      {"header", with(app, {}, false), none, "", false},
      {"filled store", with(texts, {filled}, true), value, "hello.txt", true},
      {"whole", with(texts, {known_folder_block(k_folder)}, true), folder, k_folder_text, true},
      {"header and terminal block", with(app, {}, true), none, "", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const lnk_record rec = parse_exact(c.bytes);
    EXPECT_EQ(c.get(rec), c.want);
    EXPECT_EQ(rec.m_lnk_size, c.bytes.size());
    ASSERT_EQ(rec.m_faults.size(), c.terminated ? 0u : 1u);
    if (c.terminated) continue;
    EXPECT_STREQ(rec.m_faults[0].structure, "terminal block");
    EXPECT_STREQ(rec.m_faults[0].cause, "lies past the data");
    EXPECT_EQ(rec.m_faults[0].offset, c.bytes.size());
  }
  // 96: the header, then "Name" and "-a b" with their counts, in UTF-16.
  EXPECT_EQ(parse_exact(cases[0].bytes).m_lnk_size, 96u);
  EXPECT_EQ(cases[3].bytes.size(), 76u);
}

// Damaged links: what was read stays, and the first damage met is kept.
TEST(LnkFaults, DamageKeepsAReason) {
  const lnk_bytes_t root = shell_item(0x1F, from_hex("50e04fd020ea3a6910a2d808002b30309d"));
  lnk_spec past_list;  // the second item claims 200 bytes: 20 are there
  past_list.idlist = idlist({root, shell_item(0x32, lnk_bytes_t(17, 0x41), 200)});
  lnk_spec tiny_item;  // the second item claims 4 bytes, the third is not reached
  tiny_item.idlist = idlist({root, shell_item(0x32, lnk_bytes_t(17, 0x41), 4), root});
  lnk_spec named;
  named.strings[lnk_name] = u"n";
  lnk_spec cut_text = named;  // a count of 200 characters, 3 there
  cut_text.strings[lnk_name] = u"abc";
  cut_text.string_counts[lnk_name] = 200;
  lnk_spec long_info;  // declares 600 bytes, about 60 there
  long_info.link_info = lnk_link_info{};
  long_info.link_info->local_base_path = "C:\\x";
  long_info.link_info->declared_size = 600;

  const prop_bytes_t good = text_storage(u"hello.txt");
  prop_bytes_t bad_storage = text_storage(u"lost");
  put_le32(bad_storage, 0, 0x1000);
  prop_bytes_t bad_value = storage(storage_fmtid_b725(), {int_value(10, 0x1F, lpwstr_data(u"a")),
                                                          int_value(11, 0x1F, lpwstr_data(u"b"))});
  // The second value claims 0x400 bytes. The first, "a", takes 21: size, id,
  // reserved byte, type, padding, character count, "a" and its NUL.
  put_le32(bad_value, 24 + 21, 0x400);
  // One storage of 70,000 bytes: its walk reads sizes through 16 bits.
  std::vector<prop_bytes_t> many;
  for (uint32_t v = 0; v < 3200; ++v) many.push_back(int_value(v + 2, 0x1F, lpwstr_data(u"v")));
  const prop_bytes_t huge = storage(storage_fmtid_b725(), many);
  ASSERT_GT(huge.size(), 65536u);
  const lnk_bytes_t vista_past =
      vista_idlist_block(idlist({root, shell_item(0x32, lnk_bytes_t(17, 0x41), 300)}));
  const lnk_bytes_t vista_tiny =
      vista_idlist_block(idlist({root, shell_item(0x32, lnk_bytes_t(17, 0x41), 1)}));
  // A store of one string-named storage whose first value's name size is
  // 0x100 bytes too large; the value after it is sound.
  prop_bytes_t bad_name =
      storage(string_named_fmtid(), {named_value(u"lost", 0x1F, lpwstr_data(u"x")),
                                     named_value(u"kept", 0x1F, lpwstr_data(u"y"))});
  put_le32(bad_name, 24 + 4, 0x10A);

  // LinkInfo parts not read: a label offset of 17 (the VolumeID at 28), a
  // net name offset inside the network link's fixed part.
  lnk_spec label_spec;
  label_spec.link_info = lnk_link_info{};
  label_spec.link_info->label = "D";
  label_spec.link_info->local_base_path = "C:\\x";
  lnk_bytes_t bad_label = write_lnk(label_spec);
  put_le32(bad_label, 76 + 28 + 12, 17);
  // A VolumeID declaring its 16 fixed bytes alone, its label offset 16: the
  // label "VOL" written after them lies outside it (pylnk: no label).
  lnk_spec outside_spec = label_spec;
  outside_spec.link_info->label = "VOL";
  lnk_bytes_t label_outside = write_lnk(outside_spec);
  put_le32(label_outside, 76 + 28, 16);
  lnk_spec share;
  share.link_info = lnk_link_info{};
  share.link_info->has_volume = false;
  share.link_info->network = lnk_network_link{"\\\\server\\share", ""};
  share.link_info->suffix = "";
  lnk_bytes_t bad_net_name = write_lnk(share);
  put_le32(bad_net_name, 76 + 28 + 8, 4);
  // A local base path offset of 31: inside the VolumeID (at 28, 18 bytes),
  // on a zero byte of its size.
  lnk_bytes_t bad_path = write_lnk(label_spec);
  put_le32(bad_path, 76 + 16, 31);
  // A path suffix offset of 1: a zero byte of the LinkInfo's size.
  lnk_bytes_t bad_suffix = write_lnk(label_spec);
  put_le32(bad_suffix, 76 + 24, 1);
  // A stray terminator after the first storage: the second lies past it.
  const prop_bytes_t stray_terminator = {0, 0, 0, 0};
  // A store block 2 bytes short of its terminator's end; a store whose
  // terminator non-zero bytes follow.
  lnk_bytes_t short_store = property_store_block({good});
  put_le32(short_store, 0, static_cast<uint32_t>(short_store.size() - 2));
  const lnk_bytes_t after_end = extra_block(0xA0000009, {0, 0, 0, 0, 'x', 0, 0, 0});
  // Flags that declare an environment block, the data ending after the text.
  lnk_bytes_t no_blocks = with(named, {}, false);
  no_blocks[20 + 1] |= 0x02;
  lnk_bytes_t no_store = with(named, {}, false);  // and the target-metadata flag
  no_store[20 + 2] |= 0x08;

  // Offsets: the header is 76 bytes; an ID list's first item lies at 78; a
  // one-character name takes 4 bytes; a block's body starts 8 bytes in; a
  // storage's values 24 bytes in.
  const struct {
    const char* what;
    lnk_bytes_t bytes;
    const char* structure;
    uint64_t offset;
    const char* cause;
  } cases[] = {
      {"item past the list", write_lnk(past_list), "shell item", 78 + 20,
       "item size runs past the ID list"},
      {"text past the data", write_lnk(cut_text), "StringData item", 76,
       "declared size runs past the data"},
      {"LinkInfo past the data", write_lnk(long_info), "LinkInfo", 76,
       "declared size runs past the data"},
      {"block past the data",
       with(named, {console_fe_block(437), extra_block(0xA0000003, lnk_bytes_t(40, 0), 200)}),
       "extra-data block", 80 + 12, "declared size runs past the data"},
      {"block below its header",
       with(named, {console_fe_block(437), extra_block(0xA0000003, {}, 4)}), "extra-data block",
       80 + 12, "declared size below the block's header"},
      {"storage past its block", with(named, {property_store_block({good, bad_storage})}),
       "property storage", 80 + 8 + good.size(), "declared size runs past its block"},
      {"value past its storage", with(named, {property_store_block({good, bad_value})}),
       "property value", 80 + 8 + good.size() + 24 + 21, "value size runs past the storage"},
      {"item past the Vista list", with(named, {vista_past}), "shell item", 80 + 8 + 20,
       "item size runs past the ID list"},
      {"item below 5 bytes", write_lnk(tiny_item), "shell item", 78 + 20,
       "item size below 5 bytes"},
      {"item below 5 bytes in the Vista list", with(named, {vista_tiny}), "shell item", 80 + 8 + 20,
       "item size below 5 bytes"},
      {"name size of a string-named value", with(named, {property_store_block({bad_name})}),
       "property value", 80 + 8 + 24, "name size does not fit its name"},
      {"VolumeID label offset", bad_label, "VolumeID", 76 + 28,
       "label offset points at no label; label not read"},
      {"VolumeID label offset at its size", label_outside, "VolumeID", 76 + 28,
       "label offset at or past the VolumeID's size; label not read"},
      {"net name offset", bad_net_name, "network link", 76 + 28,
       "net name offset outside the link's names; name not read"},
      {"local base path offset inside the VolumeID", bad_path, "LinkInfo", 76,
       "local base path offset points inside the LinkInfo header or the VolumeID; path not "
       "read"},
      {"path suffix offset inside the header", bad_suffix, "LinkInfo", 76,
       "path suffix offset points inside the LinkInfo header or the VolumeID; suffix not read"},
      {"storage past the terminator",
       with(named, {property_store_block({good, stray_terminator, text_storage(u"lost")})}),
       "property storage", 80 + 8 + good.size(), "storages lie past the terminator; not read"},
      {"store's terminator outside its block", with(named, {short_store}), "property store",
       80 + 8 + good.size(), "terminator lies outside its block"},
      {"bytes after the store's terminator", with(named, {after_end}), "property store", 80 + 12,
       "non-zero bytes follow the terminator inside its block; not read"},
      {"declared block past the data", no_blocks, "extra data block", 80, "lies past the data"},
      {"declared store past the data", no_store, "extra data block", 80, "lies past the data"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const lnk_record rec = parse_exact(c.bytes);
    ASSERT_EQ(rec.m_faults.size(), 1u);
    EXPECT_STREQ(rec.m_faults[0].structure, c.structure);
    EXPECT_EQ(rec.m_faults[0].offset, c.offset);
    EXPECT_STREQ(rec.m_faults[0].cause, c.cause);
  }
  // A storage of 64 KiB or more is read whole, to its last value.
  const lnk_record large = parse_exact(with(named, {property_store_block({good, huge})}));
  EXPECT_EQ(large.m_faults.size(), 0u);
  // Its 3,200 values after the first storage's one; the last has id 3201.
  ASSERT_EQ(large.m_property_keys.size(), 3201u);
  EXPECT_EQ(large.m_property_keys.back(), "b725f130-47ef-101a-a5f1-02608c9eebac/0xc81");
  // What lay before the damage was read.
  EXPECT_EQ(parse_exact(cases[0].bytes).m_idlist_items.size(), 1u);
  EXPECT_EQ(parse_exact(cases[1].bytes).m_name_offset, 76u);
  EXPECT_EQ(parse_exact(cases[2].bytes).m_volume_id_offset, 76u + 28u);
  EXPECT_EQ(parse_exact(cases[3].bytes).m_code_page, 437u);
  EXPECT_EQ(parse_exact(cases[4].bytes).m_code_page, 437u);
  for (size_t i : {5, 6}) {
    const lnk_record rec = parse_exact(cases[i].bytes);
    ASSERT_FALSE(rec.m_property_values.empty());
    EXPECT_EQ(rec.m_property_values[0], "hello.txt");
  }
  EXPECT_NE(parse_exact(cases[7].bytes).m_vista_idlist_offset, 0u);
  EXPECT_EQ(parse_exact(cases[8].bytes).m_idlist_items.size(), 1u);
  EXPECT_FALSE(parse_exact(cases[9].bytes).m_vista_idlist_path.empty());
  // The store stays in the report with the value after the damaged one.
  const lnk_record named_store = parse_exact(cases[10].bytes);
  ASSERT_EQ(named_store.m_property_values.size(), 1u);
  EXPECT_EQ(named_store.m_property_values[0], "y");

  // The parse guard spent before a long Vista list ends: the walk stops
  // where it was and says so.
  std::vector<lnk_bytes_t> items;
  for (int i = 0; i < 400; ++i) items.push_back(file_entry_item(0x32, 1, 0, 0, 0x20, "f.txt"));
  lnk_bytes_t list;
  for (const auto& item : items) list.insert(list.end(), item.begin(), item.end());
  list.insert(list.end(), {0, 0});
  const lnk_bytes_t spent = with(named, {vista_idlist_block(list), known_folder_block(k_folder)});
  // The blocks start at 80; the walk runs under a guard spent beforehand.
  auto walk_blocks = [&](lnk_record& rec, int64_t spend) {
    parse_ctx ctx;
    guard_level top(ctx, int64_t{1} << 20);
    if (spend < 0) spend += ctx.guard->budget();
    EXPECT_TRUE(guard_charge(ctx, spend));
    walk_extra_data(rec, spent.data(), spent.size(), 80, 0, ctx, default_params(),
                    vesk_test::test_scratch());
    return ctx.guard->used() - spend;
  };
  lnk_record unbounded;
  const int64_t used = walk_blocks(unbounded, 0);
  {
    lnk_record rec;
    walk_blocks(rec, -(used / 2));
    ASSERT_EQ(rec.m_faults.size(), 1u);
    EXPECT_STREQ(rec.m_faults[0].cause, k_fault_work_limit);
    EXPECT_EQ(rec.m_vista_idlist_offset, 80u);
    EXPECT_EQ(std::string(rec.m_known_folder_id), "");
  }
  const lnk_record whole = parse_exact(spent);
  EXPECT_EQ(whole.m_faults.size(), 0u);
  EXPECT_EQ(std::string(whole.m_known_folder_id), k_folder_text);

  // Target items nested deeper than the guard enters (0xF5A6B710 records,
  // each followed by a list holding a copy of itself): nine nestings are
  // read, ten leave their innermost unread, said once for the link.
  for (const int depth : {9, 10}) {
    lnk_bytes_t inner =
        shell_item(0x1F, cat({{0x50}, lnk_bytes_t(k_folder.begin(), k_folder.end())}));
    for (int d = 0; d < depth; ++d) inner = f5a6b710_record(inner, idlist({inner}));
    lnk_spec deep;
    deep.idlist = idlist({inner});
    const lnk_record rec = parse_exact(write_lnk(deep));
    ASSERT_EQ(rec.m_faults.size(), depth == 10 ? 1u : 0u) << depth;
    if (depth == 10) {
      EXPECT_STREQ(rec.m_faults[0].structure, "shell link");
      EXPECT_STREQ(rec.m_faults[0].cause, k_fault_depth_limit);
    }
  }
}

// BlockSize is 32 bits: a Vista ID list of thousands of items and a property
// store of storages over 16 KiB, each block over 64 KiB, are read whole and
// the walk goes on after them.
TEST(LnkFaults, BlocksOf64KiBAndMoreInAnAutomaticList) {
  lnk_bytes_t list;
  for (int i = 0; i < 3000; ++i) {
    std::string name = std::to_string(10000 + i);
    name += ".txt";
    const lnk_bytes_t item = file_entry_item(0x32, 1, 0, 0, 0x20, 'f' + name);
    list.insert(list.end(), item.begin(), item.end());
  }
  list.insert(list.end(), {0, 0});
  std::vector<prop_bytes_t> storages;
  for (int s = 0; s < 4; ++s) {
    std::vector<prop_bytes_t> values;
    for (uint32_t v = 0; v < 700; ++v) {
      // Built piece by piece: g++ 12 warns falsely on a chain of + here.
      std::string text(1, 's');
      text += std::to_string(s);
      text += 'v';
      text += std::to_string(v);
      values.push_back(
          int_value(v + 2, 0x1F, lpwstr_data(std::u16string(text.begin(), text.end()))));
    }
    storages.push_back(storage(storage_fmtid_b725(), values));
    ASSERT_GT(storages.back().size(), 16384u);
  }
  // Values past 64 KiB (a later integer-named one) and 32 KiB (a
  // string-named one), read whole as the ones before them.
  const std::u16string long_text(33001, u'L'), named_text(16385, u'N');
  storages.push_back(storage(storage_fmtid_b725(), {int_value(2, 0x1F, lpwstr_data(u"short")),
                                                    int_value(3, 0x1F, lpwstr_data(long_text))}));
  storages.push_back(
      storage(string_named_fmtid(), {named_value(u"Long", 0x1F, lpwstr_data(named_text)),
                                     named_value(u"After", 0x1F, lpwstr_data(u"after"))}));
  lnk_spec s;
  s.strings[lnk_name] = u"large";
  const lnk_bytes_t vista = vista_idlist_block(list);
  const lnk_bytes_t store = property_store_block(storages);
  ASSERT_GT(vista.size(), 65536u);
  ASSERT_GT(store.size(), 65536u);
  const lnk_bytes_t link = with(s, {vista, store, known_folder_block(k_folder)});

  const lnk_record rec = parse_exact(link);
  EXPECT_EQ(rec.m_lnk_size, link.size());
  EXPECT_EQ(rec.m_faults.size(), 0u);
  EXPECT_EQ(rec.m_property_store_offset, 88u + vista.size());  // the name takes 12 bytes
  ASSERT_EQ(rec.m_property_values.size(), 2804u);
  for (const std::string& text :
       {std::string(33001, 'L'), std::string(16385, 'N'), std::string("after")})
    EXPECT_EQ(std::count(rec.m_property_values.begin(), rec.m_property_values.end(), text), 1);

  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  cfb_writer w;
  destlist_test_entry e;
  e.entry_num = 1;
  w.stream(u"1", link).stream(u"DestList", build_destlist(4, {e}));
  const std::vector<uint8_t> image = w.build();
  const std::string name = "5f7b5f1e01b83767.automaticDestinations-ms";
  tree.file(name, std::string(image.begin(), image.end()));
  vesk_options options;
  options.m_source_path = tree.path(name);
  const source_appid id = appid_from_path(options.m_source_path);
  options.m_appid_text = id.text;
  options.m_appid = id.value;
  std::ostringstream out;
  ASSERT_TRUE(process_jumplist_file(out, options.m_source_path, options));
  const std::string report = out.str();
  EXPECT_NE(report.find(std::string("Known Folder ID:          ") + k_folder_text),
            std::string::npos);
  EXPECT_NE(report.find("f10000.txt"), std::string::npos);
  EXPECT_NE(report.find("f12999.txt"), std::string::npos);
  EXPECT_NE(report.find("s3v699"), std::string::npos);
  EXPECT_FALSE(options.m_notes.any());
}

// Sample files that liblnk reads in full give no fault; those that do give
// one are all among the files it refuses.
TEST(LnkFaults, SampleFilesReadInFullSayNothing) {
  const auto dir = samples_dir();
  if (dir.empty()) GTEST_SKIP() << "sample folder absent";
  std::set<std::string> refused;
  std::ifstream manifest(dir / "MANIFEST.tsv");
  for (std::string line; std::getline(manifest, line);) {
    std::vector<std::string> cols;
    std::stringstream ss(line);
    for (std::string col; std::getline(ss, col, '\t');) cols.push_back(col);
    if (cols.size() >= 9 && cols[8].rfind("error", 0) == 0) refused.insert(cols[0]);
  }
  size_t files = 0, noted = 0;
  for (const char* kind : {"lnk", "automaticDestinations", "customDestinations"}) {
    for (const auto& s : samples_of_kind(kind)) {
      ++files;
      vesk_options options;
      options.m_status_messages = 0;
      options.m_source_path = s.path.string();
      std::ostringstream out;
      process_jumplist_file(out, options.m_source_path, options);
      if (!options.m_notes.any()) continue;
      ++noted;
      EXPECT_TRUE(refused.count(s.relpath)) << options.m_notes.lines(s.relpath);
    }
  }
  EXPECT_GT(files, 200u);
  EXPECT_LE(noted, refused.size());
}

}  // namespace
}  // namespace vk
