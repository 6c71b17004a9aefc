#include "disk/inode_store.h"

#include <gtest/gtest.h>
#include <time.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>

#include "byte_builder.h"
#include "disk_images.h"
#include "mft_writer.h"
#include "temp_tree.h"

using namespace vk;
using namespace vesk_test;

namespace {

void write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> dir_record(uint32_t entry, uint64_t parent, const std::u16string& name,
                                uint16_t sequence = 1, uint16_t flags = 3, uint64_t changed = 0) {
  return file_record(entry, sequence, flags, 0,
                     {resident_attr(0x10, std_info_value(1, 2, changed, 4, 0x10)),
                      resident_attr(0x30, file_name_value(mft_ref_value(parent, 1), name))});
}

const inode_record* stored(const _inode_collection& c, uint64_t entry) {
  const auto it = c.m_entries.find(entry);
  return it == c.m_entries.end() ? nullptr : &c.m_store[it->second];
}

// ---- sleuthkit oracles ----

std::string filetime_text(uint64_t ft) {
  const int64_t seconds = static_cast<int64_t>(ft / 10000000) - 11644473600LL;
  const time_t t = static_cast<time_t>(seconds);
  struct tm tm {};
  gmtime_r(&t, &tm);
  char buf[64];
  strftime(buf, sizeof(buf), "%Y-%m-%d %H:%M:%S", &tm);
  char frac[32];
  std::snprintf(frac, sizeof(frac), ".%09llu (UTC)",
                static_cast<unsigned long long>(ft % 10000000 * 100));
  return std::string(buf) + frac;
}

struct istat_info {
  uint64_t sequence = 0;
  bool allocated = false;
  bool directory = false;
  std::vector<std::string> names;
  std::vector<uint64_t> parents;
  std::map<std::string, std::string> si;                  // label -> time text
  std::map<std::string, std::vector<uint64_t>> clusters;  // "Type: ..." line -> clusters
};

istat_info run_istat(const std::string& image, uint64_t entry) {
  bool ok = false;
  const std::string out =
      run_command(find_tool("istat") + " " + shell_quote(image) + " " + std::to_string(entry), ok);
  istat_info info;
  EXPECT_TRUE(ok) << out;
  std::istringstream lines(out);
  std::string line, section, attribute;
  while (std::getline(lines, line)) {
    if (line.rfind("Entry:", 0) == 0) {
      info.sequence = std::stoull(line.substr(line.find("Sequence:") + 9));
    } else if (line.find("Allocated") != std::string::npos && line.find(':') == std::string::npos) {
      info.allocated = line.rfind("Not", 0) != 0;
      info.directory = line.find("Directory") != std::string::npos;
    } else if (line.find("Attribute Values:") != std::string::npos) {
      section = line.substr(0, line.find(' '));
    } else if (line.rfind("Attributes:", 0) == 0) {
      section = "list";
    } else if (section == "$STANDARD_INFORMATION" && line.find(":\t") != std::string::npos) {
      info.si[line.substr(0, line.find(':'))] = line.substr(line.find('\t') + 1);
    } else if (section == "$FILE_NAME" && line.rfind("Name: ", 0) == 0) {
      info.names.push_back(line.substr(6));
    } else if (section == "$FILE_NAME" && line.rfind("Parent MFT Entry: ", 0) == 0) {
      info.parents.push_back(std::stoull(line.substr(18)));
    } else if (section == "list" && line.rfind("Type: ", 0) == 0) {
      attribute = line.substr(0, line.find(')') + 1);
    } else if (section == "list" && !line.empty() && isdigit(static_cast<unsigned char>(line[0]))) {
      std::istringstream numbers(line);
      uint64_t n;
      while (numbers >> n) info.clusters[attribute].push_back(n);
    }
  }
  return info;
}

bool icat(const std::string& image, const std::string& address, const std::string& out) {
  bool ok = false;
  const std::string text =
      run_command("(" + find_tool("icat") + " -f ntfs " + shell_quote(image) + " " + address +
                      " > " + shell_quote(out) + " 2>/dev/null)",
                  ok);
  return ok;
}

// A fresh NTFS volume with the given cluster size and files copied in.
std::string ntfs_image(const temp_tree& tree, const std::string& name, uint32_t cluster, int files,
                       std::string& why) {
  for (const char* tool : {"ntfscp", "istat", "icat"}) {
    if (find_tool(tool).empty()) {
      why = std::string(tool) + " is not installed";
      return std::string();
    }
  }
  const std::string img = make_volume(tree.path(name), 16u << 20, "mkntfs",
                                      "-F -Q -c " + std::to_string(cluster), &why);
  if (img.empty()) return img;
  for (int i = 0; i < files; ++i) {
    const std::string src = tree.path(name + ".src");
    write_file(src, std::vector<uint8_t>(static_cast<size_t>(700 * i), static_cast<uint8_t>(i)));
    bool ok = false;
    const std::string out =
        run_command(find_tool("ntfscp") + " " + shell_quote(img) + " " + shell_quote(src) +
                        " /file" + std::to_string(i) + ".bin",
                    ok);
    EXPECT_TRUE(ok) << out;
  }
  return img;
}

// The attribute of the given type (and name) in a fixed-up record.
std::vector<uint8_t> find_attribute(std::vector<uint8_t> raw, uint32_t type,
                                    const std::u16string& name) {
  uint32_t kind = 0;
  if (!apply_fixups(kind, raw.data(), raw.size(), 512)) return {};
  size_t pos = load_le16(raw.data() + 20);
  while (pos + 8 <= raw.size() && load_le32(raw.data() + pos) != 0xFFFFFFFF) {
    const uint32_t length = load_le32(raw.data() + pos + 4);
    if (length < 24 || pos + length > raw.size()) break;
    const uint8_t units = raw[pos + 9];
    std::u16string n;
    for (size_t i = 0; i < units; ++i)
      n += static_cast<char16_t>(
          load_le16(raw.data() + pos + load_le16(raw.data() + pos + 10) + 2 * i));
    if (load_le32(raw.data() + pos) == type && n == name)
      return std::vector<uint8_t>(raw.begin() + pos, raw.begin() + pos + length);
    pos += length;
  }
  return {};
}

}  // namespace

TEST(InodeStore, WalksStoreDirectoriesAndAnswerLookups) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  std::vector<uint8_t> image;
  place_record(image, 0, dir_record(0, 5, u"$MFT", 1, 1));
  place_record(image, 5, dir_record(5, 5, u"."));
  place_record(image, 11, dir_record(11, 5, u"$Extend"));
  place_record(image, 20, dir_record(20, 5, u"a"));
  place_record(image, 21, dir_record(21, 20, u"b"));
  place_record(image, 22, dir_record(22, 21, u"f", 1, 1));
  place_record(image, 23, dir_record(23, 99, u"orphan"));
  place_record(image, 24, dir_record(24, 23, u"child"));
  place_record(image, 25, dir_record(25, 26, u"x"));
  place_record(image, 26, dir_record(26, 25, u"y"));
  place_record(image, 27, dir_record(27, 27, u"self"));
  place_record(image, 28, dir_record(28, 21, u"deep"));
  place_record(image, 29, dir_record(29, 5, u"wrap", 0xFFFF));
  place_record(image, 30, dir_record(30, 5, u""));
  place_record(image, 31, dir_record(31, 30, u"under_nameless"));
  image.resize(40 * 1024);
  write_file(tree.path("mft"), image);

  _inode_collection c;
  ASSERT_TRUE(c.open_mft_file(tree.path("mft"), false, nullptr, nullptr));
  EXPECT_EQ(stored(c, 22), nullptr);  // directories only
  EXPECT_EQ(stored(c, 0), nullptr);
  const struct {
    uint64_t entry;
    std::string path;
    bool reaches_root;
  } paths[] = {
      {5, "[root]/", true},
      {11, "[root]\\$Extend\\", true},
      {21, "[root]\\a\\b\\", true},
      {28, "[root]\\a\\b\\deep\\", true},
      {23, "[unk_inode_0x00000063]\\orphan\\", false},
      {24, "[unk_inode_0x00000063]\\orphan\\child\\", false},
      {25, "y\\x\\", false},  // two directories naming each other
      {26, "y\\", false},
      {27, "self\\", false},
      {31, "[root]\\[unk_inode_0x0000001e]\\under_nameless\\", true},
  };
  for (const auto& p : paths) {
    const inode_record* rec = stored(c, p.entry);
    ASSERT_NE(rec, nullptr) << p.entry;
    EXPECT_EQ(rec->m_path, p.path) << p.entry;
    EXPECT_EQ(rec->m_reaches_root != 0, p.reaches_root) << p.entry;
    EXPECT_EQ(rec->m_file_offset, p.entry * 1024);
  }

  // A scan of part of a medium: directories in [20, 25), a progress call
  // for the file slot passed over.
  {
    RAW_DISK_IO mft_disk(tree.path("mft"), false, 0, disk_mode_path);
    _inode_collection ranged;
    int calls = 0;
    scan_progress progress;
    ASSERT_TRUE(ranged.attach_range(
        &mft_disk, false, 20 * 1024, 25 * 1024, 1024, nullptr,
        [](scan_progress& p) { ++*static_cast<int*>(p.m_context); }, &calls, &progress));
    std::vector<uint64_t> entries;
    for (const auto& [entry, index] : ranged.m_entries) entries.push_back(entry);
    EXPECT_EQ(entries, (std::vector<uint64_t>{20, 21, 23, 24}));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(progress.m_offset, 22u * 1024);
    EXPECT_FALSE(
        ranged.attach_range(&mft_disk, false, 25, 20, 1024, nullptr, nullptr, &calls, nullptr));
  }

  // Look-ups: by entry from the store or from the medium; by reference with
  // one sequence too high; sequence 0 never wraps to 0xFFFF.
  inode_record out;
  ASSERT_TRUE(c.get_inode(out, 22));
  EXPECT_EQ(out.m_name, "f");
  ASSERT_TRUE(c.get_inode_by_ref(out, 20, 2u << 16));
  EXPECT_EQ(out.m_sequence, 2);
  EXPECT_TRUE(out.m_flags & mft_flag_in_use);
  EXPECT_EQ(out.m_name, "a");
  EXPECT_FALSE(c.get_inode_by_ref(out, 20, 3u << 16));
  EXPECT_FALSE(c.get_inode_by_ref(out, 29, 0));
  EXPECT_TRUE(out.m_name.empty());
  EXPECT_TRUE(c.get_inode_by_ref(out, 29, 0xFFFFu << 16));

  // keep_newer_inode: an equal MFT-change time keeps the stored copy.
  inode_record newer = *stored(c, 20);
  newer.m_name = "replacement";
  EXPECT_EQ(keep_newer_inode(&c, newer, 0, 20, 0), inode_record_handled);
  EXPECT_EQ(stored(c, 20)->m_name, "a");
  newer.m_si_times.m_times[timestamp_set::k_c] = 9;
  EXPECT_EQ(keep_newer_inode(&c, newer, 0, 20, 0), inode_record_handled);
  EXPECT_EQ(stored(c, 20)->m_name, "replacement");
  newer.m_sequence = 7;
  EXPECT_EQ(keep_newer_inode(&c, newer, 0, 20, 0), 1u);
  EXPECT_EQ(keep_newer_inode(nullptr, newer, 0, 20, 0), inode_record_handled);

  // The all-records flag keeps files too; a range of foreign slots keeps nothing.
  _inode_collection all;
  all.m_all_records = 1;
  ASSERT_TRUE(all.open_mft_file(tree.path("mft"), false, nullptr, nullptr));
  ASSERT_NE(stored(all, 22), nullptr);
  EXPECT_EQ(stored(all, 22)->m_path, "");
  std::vector<uint8_t> junk(32 * 1024, 0);
  for (size_t i = 0; i < junk.size(); i += 1024) std::copy_n("BAAD", 4, junk.begin() + i);
  write_file(tree.path("junk"), junk);
  RAW_DISK_IO disk(tree.path("junk"), false, 0, disk_mode_path);
  _inode_collection none;
  none.m_all_records = 1;
  none.m_disk = &disk;
  none.m_range_length = junk.size();
  EXPECT_FALSE(none.load(nullptr, nullptr));
  EXPECT_TRUE(none.m_store.empty());
  EXPECT_FALSE(none.attach_disk(&disk, false, nullptr, nullptr, junk.size(), 0));
  none.m_disk = nullptr;
  // A record size that holds no record is refused.
  _inode_collection tiny;
  tiny.m_disk = &disk;
  tiny.m_range_length = junk.size();
  tiny.m_record_size = 0;
  EXPECT_FALSE(tiny.load(nullptr, nullptr));
  tiny.m_disk = nullptr;

  // Records added from elsewhere and an entry's size.
  _inode_collection added;
  bool flag = false;
  inode_record r;
  r.m_entry_low = 70;
  r.m_sequence = 2;
  r.m_flags = 1;
  r.m_name = "one";
  r.m_parents.insert(make_mft_ref(5, 0, 5));
  EXPECT_EQ(added.add_inode(r, flag, false), 0u);
  EXPECT_EQ(added.store_record(r, flag), 0u);
  EXPECT_TRUE(flag);
  r.m_name = "two";
  r.m_parents = {make_mft_ref(9, 0, 1)};
  EXPECT_EQ(added.add_inode(r, flag, false), 0u);
  EXPECT_FALSE(flag);
  EXPECT_EQ(added.m_store[0].m_second_name, "two");
  r.m_name = "three";
  EXPECT_EQ(added.add_inode(r, flag, false), 1ull << 63);
  r.m_flags = 0;
  EXPECT_EQ(added.add_inode(r, flag, false), ~uint64_t{0});
  const inode_entry abc(1, 0, 1, {make_mft_ref(5, 0, 5)}, std::string("abc"), 2);
  EXPECT_EQ(inode_entry_byte_size(abc), 94u);
  EXPECT_EQ(abc.m_wname, L"abc");
  EXPECT_TRUE(abc.m_directory);
  EXPECT_EQ(inode_entry_make(1, 0, 1, {}, L"x", 0).m_parents.size(), 1u);

  mft_ref_multimap links;
  links.emplace(make_mft_ref(7, 0, 1), make_mft_ref(7, 0, 1));
  links.emplace(make_mft_ref(7, 0, 3), make_mft_ref(9, 0, 1));
  links.emplace(make_mft_ref(8, 0, 1), make_mft_ref(7, 0, 1));
  std::set<mft_ref, mft_ref_less> children;
  EXPECT_TRUE(_inode_collection::find_children(children, 7, 0x00010000, links));
  std::vector<uint16_t> sequences;
  for (const auto& ch : children) sequences.push_back(ch.m_sequence);
  EXPECT_EQ(sequences, (std::vector<uint16_t>{1, 3}));
  EXPECT_FALSE(_inode_collection::find_children(children, 7, 0x00020000, links));
  EXPECT_TRUE(children.empty());
}

TEST(InodeStore, MkntfsVolumesMatchSleuthkit) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  for (const auto& [cluster, files] :
       std::vector<std::pair<uint32_t, int>>{{512, 0}, {4096, 0}, {4096, 40}}) {
    SCOPED_TRACE(std::to_string(cluster) + "/" + std::to_string(files));
    std::string why;
    const std::string name = "v" + std::to_string(cluster) + "_" + std::to_string(files);
    const std::string img = ntfs_image(tree, name, cluster, files, why);
    if (img.empty()) GTEST_SKIP() << why;
    const std::string mft_path = tree.path(name + ".mft");
    ASSERT_TRUE(icat(img, "0", mft_path));
    const std::vector<uint8_t> mft = read_file(mft_path);
    ASSERT_GE(mft.size(), 16u * 1024);

    _inode_collection c;
    c.m_all_records = 1;
    c.m_options = mft_keep_index_runs | mft_keep_data_runs;
    ASSERT_TRUE(c.open_mft_file(mft_path, false, nullptr, nullptr));
    ASSERT_GE(c.m_store.size(), 15u + files);  // records without a $FILE_NAME have no place
    for (const inode_record& rec : c.m_store) {
      const uint64_t entry = rec.entry_number();
      SCOPED_TRACE(entry);
      const istat_info info = run_istat(img, entry);
      EXPECT_EQ(rec.m_file_offset, entry * c.m_record_size);  // the header's number is the slot's
      EXPECT_EQ(rec.m_sequence, info.sequence);
      EXPECT_EQ(rec.m_in_use != 0, info.allocated);
      EXPECT_EQ(rec.m_directory != 0, info.directory);
      EXPECT_NE(std::find(info.names.begin(), info.names.end(), rec.m_name), info.names.end());
      ASSERT_FALSE(rec.m_parents.empty());
      EXPECT_NE(std::find(info.parents.begin(), info.parents.end(),
                          rec.m_parents.begin()->entry_number()),
                info.parents.end());
      // A zero time (ntfs-3g leaves them so in a rewritten $MFT record) is
      // shown by istat as a date in 2076; every other time must agree.
      const std::pair<int, const char*> times[] = {{timestamp_set::k_b, "Created"},
                                                   {timestamp_set::k_m, "File Modified"},
                                                   {timestamp_set::k_c, "MFT Modified"},
                                                   {timestamp_set::k_a, "Accessed"}};
      for (const auto& [k, label] : times) {
        if (rec.m_si_times.m_times[k] != 0) {
          EXPECT_EQ(filetime_text(rec.m_si_times.m_times[k]), info.si.at(label)) << label;
        }
      }
      if (entry != 0) continue;
      // Record 0's $DATA: the MFT's own clusters.
      std::vector<uint64_t> ours;
      for (const data_run& r : rec.m_data_runs)
        for (uint32_t i = 0; i < r.m_count; ++i) ours.push_back(r.m_cluster + i);
      const auto& theirs = info.clusters.at("Type: $DATA (128-1)");
      if (files == 0) {
        EXPECT_EQ(ours, theirs);
        ASSERT_EQ(rec.m_data_runs.size(), 1u);
        EXPECT_EQ(
            std::make_pair(rec.m_data_runs[0].m_cluster, rec.m_data_runs[0].m_count),
            cluster == 512 ? std::make_pair(uint64_t{32}, 54u) : std::make_pair(uint64_t{4}, 7u));
      } else {
        const auto data =
            find_attribute(std::vector<uint8_t>(mft.begin(), mft.begin() + 1024), 0x80, u"");
        ASSERT_GE(data.size(), 64u);
        EXPECT_EQ(ours.size(), load_le64(data.data() + 40) / cluster);
        for (size_t i = 0; i < ours.size() && i < theirs.size(); ++i)
          if (theirs[i] != 0) {
            EXPECT_EQ(ours[i], theirs[i]) << i;
          }
      }
    }
    EXPECT_EQ(stored(c, 5)->m_path, "[root]/");
    EXPECT_EQ(stored(c, 11)->m_path, "[root]\\$Extend\\");
    EXPECT_TRUE(stored(c, 11)->m_reaches_root);

    RAW_DISK_IO disk(img, false, 0, disk_mode_path);
    ASSERT_TRUE(disk.is_open());
    const std::vector<uint8_t> head = read_file_range(img, 0, 512);
    const boot_sector bs = boot_sector_from(head.data(), head.size());

    // $BadClus:$Bad is one sparse run over the whole volume and reads as zeros.
    const auto bad = find_attribute(
        std::vector<uint8_t>(mft.begin() + 8 * 1024, mft.begin() + 9 * 1024), 0x80, u"$Bad");
    std::vector<data_run> bad_runs;
    ASSERT_TRUE(decode_data_runs(bad.data(), bad.size(), bad_runs));
    ASSERT_EQ(bad_runs.size(), 1u);
    EXPECT_EQ(bad_runs[0].m_negative, data_run_sparse);
    EXPECT_EQ(bad_runs[0].m_count, bs.ntfs_total_sectors() / bs.sectors_per_cluster());
    cluster_runs bad_list;
    ASSERT_TRUE(cluster_runs_from_file_runs(bad_list, bad_runs, 0, cluster));
    std::vector<uint8_t> zeros;
    ASSERT_TRUE(read_cluster_runs_to_vector(bad_list, zeros, disk, 0, 65536));
    EXPECT_EQ(zeros, std::vector<uint8_t>(65536, 0));

    // The root's index block: the saved words come back at every sector end.
    const inode_record* root = stored(c, 5);
    ASSERT_FALSE(root->m_index_runs.empty());
    cluster_runs index_list;
    ASSERT_TRUE(cluster_runs_from_file_runs(index_list, root->m_index_runs, 0, cluster));
    std::vector<uint8_t> block;
    const uint32_t block_size = ntfs_index_block_size(bs);
    ASSERT_TRUE(read_cluster_runs_to_vector(index_list, block, disk, 0, block_size));
    ASSERT_EQ(block.size(), block_size);
    ASSERT_EQ(std::string(block.begin(), block.begin() + 4), "INDX");
    const uint16_t usa = load_le16(block.data() + 4);
    const uint16_t count = load_le16(block.data() + 6);
    ASSERT_EQ(count, block_size / 512 + 1);
    for (size_t s = 1; s < count; ++s)
      EXPECT_EQ(load_le16(block.data() + s * 512 - 2), load_le16(block.data() + usa));
    uint32_t kind = 0;
    ASSERT_TRUE(apply_fixups(kind, block.data(), block.size(), 512));
    EXPECT_EQ(kind, fixup_indx);
    for (size_t s = 1; s < count; ++s)
      EXPECT_EQ(load_le16(block.data() + s * 512 - 2), load_le16(block.data() + usa + 2 * s)) << s;

    if (files != 0) continue;
    // The same store from the MFT's range in the image.
    const uint64_t mft_at = bs.ntfs_mft_lcn() * cluster;
    _inode_collection from_disk;
    from_disk.m_all_records = 1;
    ASSERT_TRUE(from_disk.attach_disk(&disk, false, nullptr, nullptr, mft.size(), mft_at));
    ASSERT_EQ(from_disk.m_store.size(), c.m_store.size());
    for (size_t i = 0; i < c.m_store.size(); ++i) {
      const inode_record& a = c.m_store[i];
      const inode_record& b = from_disk.m_store[i];
      EXPECT_EQ(b.entry_number(), a.entry_number());
      EXPECT_EQ(b.m_name, a.m_name);
      EXPECT_EQ(b.m_path, a.m_path);
      EXPECT_EQ(b.m_file_offset, a.m_file_offset + mft_at);
    }
    from_disk.reset();
    EXPECT_TRUE(disk.is_open());  // the caller's disk stays open
  }
}

TEST(InodeStore, CarvedVolumesGiveBackTheirMft) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  std::string why;
  const std::string img = ntfs_image(tree, "carve", 512, 3, why);
  if (img.empty()) GTEST_SKIP() << why;
  ASSERT_TRUE(icat(img, "0", tree.path("icat.mft")));
  const std::vector<uint8_t> mft = read_file(tree.path("icat.mft"));
  {
    RAW_DISK_IO disk(img, false, 0, disk_mode_path);
    ASSERT_TRUE(export_mft(tree.path("export.mft"), &disk, 0, nullptr));
  }
  const std::vector<uint8_t> exported = read_file(tree.path("export.mft"));
  ASSERT_GE(exported.size(), 27u * 1024);
  size_t filled = 0;
  for (size_t at = 0; at + 1024 <= exported.size(); at += 1024) {
    const std::vector<uint8_t> slot(exported.begin() + at, exported.begin() + at + 1024);
    if (slot == std::vector<uint8_t>(1024, 0)) continue;
    ++filled;
    ASSERT_LE(at + 1024, mft.size());
    EXPECT_TRUE(std::equal(slot.begin(), slot.end(), mft.begin() + at)) << at / 1024;
  }
  EXPECT_GE(filled, 18u);  // the system files with names, and the three copied in

  // 100,000 mutations of a real record.
  {
    RAW_DISK_IO disk(img, false, 0, disk_mode_path);
    const std::vector<uint8_t> root(mft.begin() + 5 * 1024, mft.begin() + 6 * 1024);
    std::mt19937 rng(5);
    for (int i = 0; i < 100000; ++i) {
      const auto m = mutate(root, rng, 1 + i % 12);
      auto exact = std::make_unique<uint8_t[]>(m.size());
      std::copy(m.begin(), m.end(), exact.get());
      inode_record r;
      r.m_options = 0x7F;
      parse_file_record(r, exact.get(), m.size(), &disk, 0, 1024, false);
      ASSERT_LE(r.m_index_runs.size() + r.m_data_runs.size(), 1024u);
    }
  }

  // A carved record claiming entry 0xFFFFFFF0 is passed over, and the
  // result never outgrows the volume.
  std::vector<uint8_t> volume = read_file(img);
  const boot_sector bs = boot_sector_from(volume.data(), 512);
  const size_t slot20 = bs.ntfs_mft_lcn() * 512 + 20 * 1024;
  const auto far = dir_record(0xFFFFFFF0u, 5, u"far", 1, 1);
  std::copy(far.begin(), far.end(), volume.begin() + static_cast<std::ptrdiff_t>(slot20));
  write_file(tree.path("far.img"), volume);
  {
    RAW_DISK_IO disk(tree.path("far.img"), false, 0, disk_mode_path);
    std::vector<uint8_t> out;
    ASSERT_TRUE(scan_ntfs_volume(out, &disk, 0, nullptr));
    EXPECT_LE(out.size(), volume.size());
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + 1024, mft.begin()));
    EXPECT_EQ(disk.cluster_size(), 512u);
  }
  // Without "NTFS" at byte 3 nothing is carved and no file is made.
  volume[3] = 'X';
  write_file(tree.path("plain.img"), volume);
  RAW_DISK_IO disk(tree.path("plain.img"), false, 0, disk_mode_path);
  std::vector<uint8_t> out(5, 1);
  EXPECT_FALSE(scan_ntfs_volume(out, &disk, 0, nullptr));
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(export_mft(tree.path("none.mft"), &disk, 0, nullptr));
  EXPECT_FALSE(std::filesystem::exists(tree.path("none.mft")));
  EXPECT_FALSE(scan_ntfs_volume(out, nullptr, 0, nullptr));
}
