// The fuzz targets' inputs in the normal sanitizer build: every written seed
// passes its parser's first gate (so the fuzzers start past it) and runs
// clean through its target, and every saved input of the regression corpus
// replays clean through the target it was found by.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "default_params.h"
#include "fuzz/fuzz_seeds.h"
#include "fuzz/volume_seeds.h"

namespace vk {
namespace {

using vesk_fuzz::seed_bytes;

using target_fn = std::function<int(const uint8_t*, size_t)>;

const std::map<std::string, target_fn>& targets() {
  static const std::map<std::string, target_fn> all = {
      {"compound_file", vesk_fuzz::run_compound_file},
      {"destlist", vesk_fuzz::run_destlist},
      {"lnk", vesk_fuzz::run_lnk},
      {"idlist", vesk_fuzz::run_idlist},
      {"property_storage", vesk_fuzz::run_property_storage},
      {"driver", vesk_fuzz::run_driver},
      {"shell_item", vesk_fuzz::run_shell_item}};
  return all;
}

const vesk_fuzz::disk_target* disk_target_named(const std::string& name) {
  for (const auto& t : vesk_fuzz::ntfs_targets())
    if (name == t.name) return &t;
  return nullptr;
}

target_fn target_named(const std::string& name) {
  if (const auto* t = disk_target_named(name)) return t->run;
  const auto it = targets().find(name);
  return it == targets().end() ? target_fn() : it->second;
}

bool parses_as_compound(const seed_bytes& b) {
  compound_file_reader reader;
  return parse_compound_image(&reader, b.data(), b.size()) && find_cfb_entry(reader, "destlist");
}

// The first gate of the disk targets: a FILE record that parses, a table
// that stores records or a volume that carves, runs that decode, a journal
// record of the entry count, a boot sector or a record to dump.
bool passes_disk_gate(const std::string& target, const seed_bytes& b) {
  if (target == "file_record") {
    const size_t at = vesk_fuzz::k_file_record_prefix;
    return b.size() > at && is_mft_file_record(b.data() + at, b.size() - at);
  }
  if (target == "mft") {
    auto disk = vesk_fuzz::open_medium(b.data() + 1, b.size() - 1);
    if (b[0] & 1) {
      std::vector<uint8_t> out;
      return scan_ntfs_volume(out, disk.get(), 0, nullptr) && !out.empty();
    }
    _inode_collection c;
    c.m_all_records = 1;
    return c.attach_disk(disk.get(), false, nullptr, nullptr, b.size() - 1, 0) &&
           c.m_store.size() > 8;
  }
  if (target == "cluster_runs") {
    const uint8_t header = b[vesk_fuzz::k_cluster_runs_prefix];
    return (header & 0x0F) != 0 && (header & 0x0F) <= 8 && (header >> 4) <= 8;
  }
  if (target == "usn_secure") {
    const size_t at = vesk_fuzz::k_usn_prefix;
    const uint64_t count = load_le32(b.data());
    return is_valid_usn_record_v2(b.data() + at, b.size() - at, count) ||
           std::string(b.begin() + at + 12, b.begin() + at + 16) != std::string(4, '\0');
  }
  return b.size() > 512 && (std::equal(b.begin() + 4, b.begin() + 8, "NTFS") ||
                            std::equal(b.begin() + 1, b.begin() + 5, "FILE"));
}

// The first gate of each target's parser.
bool passes_gate(const std::string& target, const seed_bytes& b) {
  const cmd_params settings;
  if (disk_target_named(target)) return passes_disk_gate(target, b);
  if (target == "compound_file") return parses_as_compound(b);
  if (target == "driver") {
    const seed_bytes file(b.begin() + vesk_fuzz::k_driver_prefix, b.end());
    return parses_as_compound(file) || is_lnk_header(file.data(), file.size());
  }
  if (target == "destlist") {
    uint32_t version = 0;
    std::vector<destlist_entry> entries;
    return load_destlist_entries(b.data(), b.size(), version, entries) && entries.size() == 3;
  }
  if (target == "lnk") {
    const seed_bytes link(b.begin() + vesk_fuzz::k_lnk_prefix, b.end());
    lnk_record record;
    return parse_lnk(record, link.data(), link.size(), settings, vesk_test::test_scratch(),
                     b[0] & 1, 0) &&
           record.m_lnk_size > 0;
  }
  if (target == "shell_item") {
    // One of the readers takes it: an item, a block run, an embedded
    // structure or a special stream.
    shell_item_record record;
    parse_ctx ctx;
    const int64_t n = static_cast<int64_t>(b.size());
    return parse_shell_item(record, b.data(), n, false, false, 0, ctx, settings) > 0 ||
           scan_extension_blocks(ctx, record, b.data(), n, settings) ||
           parse_autolist_stream(record, ctx, b.data(), n, settings);
  }
  if (target == "idlist") {
    shell_item_list items;
    parse_ctx ctx;
    return parse_idlist(items, b.data(), static_cast<int64_t>(b.size()), false, false, ctx,
                        settings) &&
           !items.empty();
  }
  shell_item_record record;
  parse_ctx ctx;
  parse_property_storages(ctx, record, b.data(), static_cast<int64_t>(b.size()), settings);
  return is_property_storage(b.data(), static_cast<int64_t>(b.size())) && ctx.consumed > 0 &&
         !record.properties.empty();
}

TEST(FuzzInputs, WrittenSeedsPassTheFirstGateAndRunClean) {
  const vesk_fuzz::seed_map seeds = vesk_fuzz::written_seeds();
  for (const std::string& target : vesk_fuzz::target_names()) {
    SCOPED_TRACE(target);
    ASSERT_TRUE(seeds.count(target));
    const auto* disk = disk_target_named(target);
    const size_t limit = disk ? disk->max_input
                         : target == "compound_file" || target == "driver"
                             ? vesk_fuzz::k_max_image_input
                             : vesk_fuzz::k_max_record_input;
    for (size_t i = 0; i < seeds.at(target).size(); ++i) {
      SCOPED_TRACE(i);
      const seed_bytes& seed = seeds.at(target)[i];
      EXPECT_LE(seed.size(), limit);
      EXPECT_TRUE(passes_gate(target, seed));
      EXPECT_EQ(target_named(target)(seed.data(), seed.size()), 0);
    }
  }
}

TEST(FuzzInputs, RegressionCorpusReplaysClean) {
  const std::filesystem::path corpus =
      std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "fuzz" /
      "regressions";
  ASSERT_TRUE(std::filesystem::is_directory(corpus)) << corpus;
  size_t replayed = 0;
  for (const auto& folder : std::filesystem::directory_iterator(corpus)) {
    if (!folder.is_directory()) continue;
    const std::string target = folder.path().filename().string();
    // The volume targets' inputs are replayed by the disk tests.
    const auto& volume = vesk_fuzz::volume_target_names();
    if (std::find(volume.begin(), volume.end(), target) != volume.end()) continue;
    ASSERT_TRUE(target_named(target)) << "no target named " << target;
    for (const auto& input : std::filesystem::directory_iterator(folder.path())) {
      SCOPED_TRACE(input.path().string());
      // An exactly sized copy, as the fuzzer hands it over.
      const seed_bytes bytes = vesk_fuzz::detail::read_whole(input.path());
      EXPECT_EQ(target_named(target)(bytes.data(), bytes.size()), 0);
      ++replayed;
    }
  }
  RecordProperty("replayed", static_cast<int>(replayed));
}

}  // namespace
}  // namespace vk
