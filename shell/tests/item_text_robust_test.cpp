// Parsed ID lists through the text routines, end to end and on hostile
// bytes (fixtures, their truncations, seeded mutations and the sample
// links), and the two item readers that work outside an ID list.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "default_params.h"
#include "jumplist_samples.h"
#include "shell/idlist.h"
#include "shell/idlist_text.h"
#include "shell/item_carving.h"
#include "shell_hostile_inputs.h"

namespace vk {
namespace {

using namespace vesk_test;

const uint64_t k_jan1_noon = 133802064000000000ULL;
const uint64_t k_jan2 = 133802496000000000ULL;

const bytes_t k_root = from_hex("14001f50e04fd020ea3a6910a2d808002b30309d");
const bytes_t k_volume = cat({from_hex("19002f433a5c"), bytes_t(19, 0)});
const bytes_t k_file_entry = from_hex(
    "5a00320034120000215a00602000544553542e5458540000420009000400efbe215a0060225a00002e0000003412"
    "00000000050000000000000000000000000000000000000074006500730074002e0074007800740000001800");
const bytes_t k_network =
    from_hex("20004100805c5c7365727665725c7368617265006465736300636f6d6d000000");
const bytes_t k_directory = from_hex("1a00360000000000215a00601000440069007200310000000000");

const cmd_params& settings() {
  static const cmd_params s;
  return s;
}

struct texts {
  bool parsed;
  std::string path, line;
  std::vector<std::string> details, parsing, primary, keys, values;
  uint64_t modified, accessed, created;
};

texts through_texts(const bytes_t& in, shell_item_list& items) {
  texts t;
  parse_ctx ctx;
  t.parsed = parse_idlist(items, in.data(), static_cast<int64_t>(in.size()), false, false, ctx,
                          settings());
  idlist_text(t.path, t.line, t.details, t.modified, t.accessed, t.created, settings(),
              vesk_test::test_shell_scratch(), items);
  for (const auto& rec : items)
    collect_property_texts(rec, t.parsing, t.primary, t.keys, t.values, settings(),
                           vesk_test::test_shell_scratch(), false);
  return t;
}

void expect_sound(const texts& t, const shell_item_list& items) {
  // Only a network name keeps a double backslash, and no run is longer.
  size_t doubles = 0, names = 0;
  for (size_t at = t.path.find("\\\\"); at != std::string::npos; at = t.path.find("\\\\", at + 2))
    ++doubles;
  for (const auto& item : items)
    names += is_network_type_byte(item.item_type) && item.long_name.starts_with("\\\\");
  ASSERT_LE(doubles, names) << t.path;
  ASSERT_EQ(t.path.find("\\\\\\"), std::string::npos) << t.path;
  ASSERT_FALSE(!t.path.empty() && t.path.back() == '\\') << t.path;
  ASSERT_EQ(std::set<std::string>(t.details.begin(), t.details.end()).size(), t.details.size());
  ASSERT_EQ(t.keys.size(), t.values.size());
}

TEST(ItemTextEndToEnd, RootVolumeFileEntry) {
  shell_item_list items;
  texts t = through_texts(idlist({k_root, k_volume, k_file_entry}), items);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_TRUE(t.path.starts_with("{CLSID_")) << t.path;
  EXPECT_TRUE(t.path.ends_with("}\\C:\\test.txt")) << t.path;
  EXPECT_EQ(t.details, std::vector<std::string>{"TEST.TXT"});
  EXPECT_EQ(t.line, "[1] TEST.TXT");
  EXPECT_EQ(t.modified, k_jan1_noon);
  EXPECT_EQ(t.created, k_jan1_noon);
  EXPECT_EQ(t.accessed, k_jan2);
  EXPECT_EQ(items[0].long_name, t.path.substr(0, t.path.find('\\')));
  EXPECT_EQ(items[1].long_name, "C:");
  EXPECT_EQ(items[2].long_name, "test.txt");

  // A network share keeps its two leading backslashes.
  items.clear();
  t = through_texts(idlist({k_network, k_directory}), items);
  EXPECT_EQ(t.path, "\\\\server\\share\\Dir1");
  EXPECT_EQ(t.details, (std::vector<std::string>{"desc", "comm"}));
}

// A network item's name keeps the double backslash that starts it, in place
// of the separator before it; every other run of backslashes is one. The
// items read by libfwsi: a root folder 20d04fe0-3aea-1069-a2d8-08002b30309d
// and network locations of the texts written.
TEST(ItemTextEndToEnd, NetworkNamesKeepTheirLeadingDoubleBackslash) {
  auto network = [](uint8_t type, std::string_view location) {
    return shell_item(type, cat({{0x01, 0x00}, asciiz(location), {0x00, 0x00}}));
  };
  const struct {
    bytes_t list;
    std::string path;
  } cases[] = {
      {idlist({k_root, network(0xC3, "\\\\server\\share\\leaf-network")}),
       "{CLSID_MyComputer}\\\\server\\share\\leaf-network"},
      {idlist({k_root, network(0x42, "\\\\\\server\\\\share\\"), k_directory}),
       "{CLSID_MyComputer}\\\\server\\share\\Dir1"},
      {idlist({network(0x41, "\\\\server"), k_directory}), "\\\\server\\Dir1"},
      {idlist({k_root, k_volume, network(0xC3, "\\\\")}), "{CLSID_MyComputer}\\C:"},
  };
  for (const auto& c : cases) {
    shell_item_list items;
    const texts t = through_texts(c.list, items);
    EXPECT_EQ(t.path, c.path);
    expect_sound(t, items);
  }
}

TEST(ItemTextHostile, TruncatedAndMutatedIdLists) {
  const std::vector<bytes_t> seeds = {
      idlist({k_root, k_volume, k_file_entry}),
      idlist({k_network, k_directory, k_file_entry}),
      idlist({k_root,
              file_entry_item(0x31, 0, 0x5A21, 0x6000, 0x10, "DIR",
                              file_entry_extension(0, 0x5A21, 0x6000, 0x5A22, 0, u"dir", 7, 1))}),
  };
  size_t runs = 0;
  auto run_one = [&](const bytes_t& in) {
    shell_item_list items;
    const texts t = through_texts(in, items);
    expect_sound(t, items);
    ++runs;
  };
  for (const auto& seed : seeds)
    for (size_t n = 0; n <= seed.size(); ++n) run_one(bytes_t(seed.begin(), seed.begin() + n));
  // A few seeded mutations keep the soundness checks on broken items; the
  // idlist fuzz target mutates them at large.
  std::mt19937 rng(1616);
  for (int i = 0; i < 300; ++i) run_one(mutate(seeds[i % seeds.size()], rng, 1 + i % 6));
  EXPECT_GT(runs, 300u);
}

TEST(ItemTextHostile, SampleLinkTargetLists) {
  auto samples = samples_of_kind("lnk");
  if (samples.empty()) GTEST_SKIP() << "sample folder absent: no link files to read";
  size_t lists = 0, with_path = 0;
  for (const auto& s : samples) {
    const auto& b = s.bytes;
    if (b.size() < 80 || !(b[20] & 1)) continue;
    int64_t list_size = b[76] | (b[77] << 8);
    list_size = std::min<int64_t>(list_size, static_cast<int64_t>(b.size()) - 78);
    bytes_t list(b.begin() + 78, b.begin() + 78 + std::max<int64_t>(list_size - 2, 0));
    shell_item_list items;
    texts t = through_texts(list, items);
    expect_sound(t, items);
    ++lists;
    with_path += !t.path.empty();
  }
  ASSERT_GT(lists, 0u);
  EXPECT_GE(with_path * 10, lists * 9) << with_path << " of " << lists;
}

TEST(ItemReaders, CarvedFileEntriesAndCfsfItems) {
  const cmd_params& s = settings();
  std::vector<shell_item_record> out;
  bytes_t shifted = cat({{1, 2, 3, 4}, k_file_entry});
  ASSERT_TRUE(
      carve_file_entry_items(out, shifted.data(), static_cast<uint32_t>(shifted.size()), s));
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].size, 4660u);
  EXPECT_EQ(out[0].modified, k_jan1_noon);
  EXPECT_EQ(out[0].modified_date(), "2025-01-01");
  EXPECT_EQ(out[0].is_directory, 0);
  EXPECT_EQ(out[0].long_name, "test.txt");

  // The item start before the buffer: only the fields that lie inside.
  out.clear();
  bytes_t cut(k_file_entry.begin() + 6, k_file_entry.end());
  ASSERT_TRUE(carve_file_entry_items(out, cut.data(), static_cast<uint32_t>(cut.size()), s));
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].size, 0u);
  EXPECT_EQ(out[0].modified, k_jan1_noon);

  // Block sizes that put the back-offset before the block or past the buffer.
  for (uint16_t bad : {0, 1, 0xFFFF}) {
    bytes_t b = k_file_entry;
    b[24] = static_cast<uint8_t>(bad);
    b[25] = static_cast<uint8_t>(bad >> 8);
    out.clear();
    EXPECT_TRUE(carve_file_entry_items(out, b.data(), static_cast<uint32_t>(b.size()), s));
    EXPECT_TRUE(out.empty()) << bad;
  }
  bytes_t none(40, 0);
  EXPECT_FALSE(carve_file_entry_items(out, none.data(), 40, s));

  bytes_t cfsf = cfsf_item();
  parse_ctx ctx;
  shell_item_record rec;
  ASSERT_TRUE(
      parse_cfsf_item(cfsf.data(), ctx, rec, cfsf.data(), static_cast<uint32_t>(cfsf.size()), s));
  EXPECT_EQ(rec.names.front(), "nm");
  EXPECT_EQ(rec.guids.size(), 2u);
  EXPECT_EQ(rec.long_name, "long.txt");
  EXPECT_EQ(ctx.offset, 24u + (cfsf.size() - 56));

  // Every truncation, each an exact copy so that any read past it is caught
  // (mutations are the shell_item fuzz target's work).
  std::vector<bytes_t> inputs;
  for (const bytes_t& seed : {shifted, cfsf})
    for (size_t n = 1; n <= seed.size(); ++n) inputs.emplace_back(seed.begin(), seed.begin() + n);
  for (const bytes_t& in : inputs) {
    std::vector<shell_item_record> carved;
    carve_file_entry_items(carved, in.data(), static_cast<uint32_t>(in.size()), s);
    parse_ctx c;
    shell_item_record r;
    parse_cfsf_item(in.data(), c, r, in.data(), static_cast<uint32_t>(in.size()), s);
  }
}

}  // namespace
}  // namespace vk
