// Seed inputs for the fuzz targets, made by the test-side writers, and the
// seeds cut from a folder of real files by the project's own parsers. The
// seed program writes them out; the seed test checks that each one passes
// its parser's first gate, so that the fuzzers start from inputs that reach
// deep code.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "cfb_writer.h"
#include "destlist_writer.h"
#include "fuzz/fuzz_harness.h"
#include "fuzz/seeds_ntfs.h"
#include "idlist_writer.h"
#include "jumplist/compound_file.h"
#include "jumplist/destlist.h"
#include "lnk_writer.h"
#include "propstore_writer.h"
#include "report_fixture.h"
#include "shell_hostile_inputs.h"

namespace vesk_fuzz {

using seed_bytes = std::vector<uint8_t>;
// Target name -> its seeds.
using seed_map = std::map<std::string, std::vector<seed_bytes>>;

// The target names, as the programs, dictionaries and folders use them.
inline const std::vector<std::string>& target_names() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> all = {"compound_file",    "destlist", "lnk",       "idlist",
                                    "property_storage", "driver",   "shell_item"};
    for (const disk_target& t : ntfs_targets()) all.emplace_back(t.name);
    return all;
  }();
  return names;
}

inline seed_bytes lnk_input(const seed_bytes& link, uint8_t flags = 0, uint32_t offset = 0) {
  seed_bytes out = {flags, static_cast<uint8_t>(offset), static_cast<uint8_t>(offset >> 8),
                    static_cast<uint8_t>(offset >> 16), static_cast<uint8_t>(offset >> 24)};
  out.insert(out.end(), link.begin(), link.end());
  return out;
}

inline seed_bytes driver_input(const seed_bytes& file, uint8_t choice) {
  seed_bytes out = {choice};
  out.insert(out.end(), file.begin(), file.end());
  return out;
}

namespace detail {

using namespace vesk_test;

inline const bytes_t& some_guid() {
  static const bytes_t g = from_hex("e04fd020ea3a6910a2d808002b30309d");
  return g;
}

inline std::vector<bytes_t> id_lists() {
  const bytes_t root = shell_item(0x1F, cat({{0x50}, some_guid()}));
  const bytes_t volume = shell_item(0x2F, cat({{'C', ':', '\\'}, bytes_t(19, 0)}));
  const bytes_t file = file_entry_item(
      0x32, 4096, 0x5865, 0x3904, 0x20, "report.docx",
      file_entry_extension(0, 0x5865, 0x3904, 0x5865, 0x3904, u"report.docx", 1234, 5));
  const bytes_t folder = file_entry_item(0x31, 0, 0x5865, 0x3904, 0x10, "Temp");
  const bytes_t f1 = file_entry_item(0x32, 10, 0x5A21, 0x6000, 0x20, "a.txt");
  const bytes_t plist = cat({{13, 0, 0, 0}, some_guid(), {1, 0, 0, 0}, {0, 0, 0, 0}});
  const bytes_t store =
      storage(storage_fmtid_b725(), {int_value(10, 0x1F, lpwstr_data(u"inside.txt"))});
  return {
      idlist({root, volume, folder, file}),
      idlist({shell_item(0x41, cat({{0, 0}, asciiz("\\\\server\\share"), {0, 0}})), file}),
      idlist({shell_item(0x1E, cat({{0}, some_guid(), idlist({volume})})), f1}),
      idlist({shell_item(0x2E, cat({{0x80}, some_guid(), untyped_text(u"in 2e", 2), {0, 0}}))}),
      idlist({augm_record(2, {f1, f1})}),
      idlist({root, shell_item(0x99, cat({cfsf_record(0x10, 1234, 0x5A21, 0x6000, "r.txt")}))}),
      idlist(
          {shell_item(0x99, three_string_record(0x07192006, true, u"one", u"two", u"3", plist))}),
      idlist({shell_item(0x99, f5a6b710_record(root, idlist({root})))}),
      idlist({shell_item(0x99, c001b000_record(u"first", {u"second"}))}),
      idlist({shell_item(0x99, untyped_time(3, 133802064000000000ull, "name", u"text"))}),
      idlist(
          {sized_record(26, some_guid(), 0, beef_block(0, 3, cat({some_guid(), bytes_t(2, 0)})))}),
      idlist({root, shell_item(0x00, cat({bytes_t(6, 0), store}))}),
  };
}

inline std::vector<bytes_t> property_storages() {
  const bytes_t leaf = condition_record(storage_fmtid_b725(), 10, 31, lpwstr_data(u"a.txt"));
  const bytes_t tree = condition_tree({leaf, condition_value_record(5)}, 0);
  const bytes_t list = autolist_stream({{idlist({}), {condition_leaf(u"C:\\x")}}});
  return {
      storage(storage_fmtid_b725(), {int_value(10, 0x1F, lpwstr_data(u"report.docx")),
                                     int_value(12, 0x13, u32_data(4096))}),
      storage(string_named_fmtid(), {named_value(u"Custom", 0x1F, lpwstr_data(u"text")),
                                     named_value(u"Blob", 0x41, blob_data({1, 2, 3, 4}))}),
      cat({storage(storage_fmtid_b725(), {int_value(11, 0x1F, lpwstr_data(u"doc"))}),
           storage(condition_set_fmtid(),
                   {int_value(6, 66, stream_data(k_special_stream, tree))})}),
      storage(condition_set_fmtid(), {int_value(2, 66, stream_data(k_special_stream, list))}),
  };
}

inline std::vector<bytes_t> links() {
  std::vector<bytes_t> out = {full_written_link(), fixture_link()};
  std::vector<bytes_t> blocks = simple_extra_blocks();
  blocks.insert(blocks.end(),
                {property_store_block(property_storages()), extra_block(0xA000000A, bytes_t(8, 0)),
                 known_folder_block(written_object_id()), vista_idlist_block(id_lists()[0])});
  for (const auto& block : blocks) {
    lnk_spec s;
    s.extra_blocks = {block};
    out.push_back(write_lnk(s));
  }
  for (const auto& list : id_lists()) {
    lnk_spec s;
    s.idlist = list;
    out.push_back(write_lnk(s));
  }
  lnk_spec ansi;
  ansi.unicode = false;
  ansi.strings = {u"name", u"..\\rel", u"C:\\wd", u"/arg", u"icon.ico"};
  lnk_link_info net;
  net.has_volume = false;
  net.network = lnk_network_link{"\\\\server\\share", "Z:"};
  net.suffix = "file.txt";
  ansi.link_info = net;
  out.push_back(write_lnk(ansi));
  lnk_spec wide;  // paths in UTF-16 beside their 8-bit forms
  lnk_link_info paths;
  paths.header_size = lnk_l::link_info::long_header_size;
  paths.local_base_path = "C:\\?\\";
  paths.suffix = "?.txt";
  paths.local_base_path_unicode = u"C:\\\u00e9\\";
  paths.suffix_unicode = u"\u6d4b.txt";
  wide.link_info = paths;
  wide.terminate = false;
  out.push_back(write_lnk(wide));
  return out;
}

inline std::vector<bytes_t> destlists() {
  std::vector<destlist_test_entry> entries(3);
  entries[0].entry_num = 10;
  entries[1].entry_num = 2;
  entries[1].path = u"\\\\server\\share\\x.txt";
  entries[2].entry_num = 1;
  std::vector<destlist_test_entry> stored = entries;
  stored[1].property_storage = property_storages()[0];
  return {build_destlist(1, entries), build_destlist(3, entries), build_destlist(4, entries),
          build_destlist(4, stored)};
}

inline std::vector<bytes_t> compound_files() {
  std::vector<bytes_t> out = {fixture_jumplist(4), fixture_jumplist(1),
                              fixture_jumplist(3, {u"2"})};
  for (auto& image : varied_cfb_images())
    if (image.size() <= k_max_image_input - k_driver_prefix) out.push_back(std::move(image));
  // Links in the mini stream and in regular sectors, beside free sectors,
  // orphan sectors and unused mini sectors.
  std::vector<destlist_test_entry> entries(3);
  entries[0].entry_num = 1;
  entries[1].entry_num = 2;
  entries[2].entry_num = 3;
  lnk_bytes_t big = full_written_link();
  big.resize(5000, 0);
  cfb_writer w;
  w.stream(u"1", full_written_link()).mini_gap(2).stream(u"2", links()[2]);
  w.free_sector(2).orphan_sector().stream(u"3", big);
  w.stream(u"DestList", build_destlist(4, entries));
  out.push_back(w.build());
  return out;
}

inline seed_bytes read_whole(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return seed_bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline uint32_t le32_at(const seed_bytes& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t{b[at + 3]} << 24;
}

// The ID list and the property-store blocks of a link.
inline void add_link_parts(seed_map& seeds, const seed_bytes& link) {
  if (link.size() < vk::lnk_header_size + 2) return;
  if (le32_at(link, 20) & vk::lnk_has_idlist) {
    const size_t length = link[76] | link[77] << 8;
    if (length >= 2 && 78 + length <= link.size())
      seeds["idlist"].emplace_back(link.begin() + 78, link.begin() + 78 + length);
  }
  for (size_t at = 4; at + 4 <= link.size(); ++at) {
    if (le32_at(link, at) != 0xA0000009u) continue;
    const uint32_t block = le32_at(link, at - 4);
    if (block > 8 && block - 4 <= link.size() - at)
      seeds["property_storage"].emplace_back(link.begin() + at + 4, link.begin() + at - 4 + block);
  }
}

}  // namespace detail

// Every target's seeds, written by the writers.
inline seed_map written_seeds() {
  seed_map seeds;
  for (const auto& image : detail::compound_files()) {
    seeds["compound_file"].push_back(image);
    seeds["driver"].push_back(driver_input(image, 0));
  }
  const auto jumplist = vesk_test::fixture_jumplist();
  for (uint8_t choice : {1, 2, 3, 4, 8, 16, 31})
    seeds["driver"].push_back(driver_input(jumplist, choice));
  seeds["driver"].push_back(driver_input(vesk_test::full_written_link(), 0));
  {
    // A link, then a list whose stream holds another (links in mini and in
    // regular sectors, free and orphan sectors): carved from the file and
    // from memory.
    seed_bytes carved = vesk_test::full_written_link();
    carved.resize(4096, 0);
    vesk_test::cfb_writer outer;
    outer.stream(u"1", vesk_test::full_written_link())
        .stream(u"Inner", detail::compound_files().back());
    const seed_bytes nested = outer.free_sector(3).build();
    carved.insert(carved.end(), nested.begin(), nested.end());
    seeds["driver"].push_back(driver_input(carved, 32));
  }
  seeds["destlist"] = detail::destlists();
  for (const auto& link : detail::links()) seeds["lnk"].push_back(lnk_input(link));
  seeds["lnk"].push_back(lnk_input(vesk_test::full_written_link(), 1, 0x1200));
  seeds["idlist"] = detail::id_lists();
  seeds["property_storage"] = detail::property_storages();
  // The starting points of the shell robustness tests' truncation walks.
  for (auto& list : vesk_test::small_hostile_idlists()) seeds["idlist"].push_back(std::move(list));
  for (auto& store : vesk_test::hostile_storages())
    seeds["property_storage"].push_back(std::move(store));
  seeds["shell_item"] = vesk_test::item_reader_inputs();
  seeds["shell_item"].push_back(vesk_test::cfsf_item());
  for (auto& run : vesk_test::hostile_embedded()) seeds["shell_item"].push_back(std::move(run));
  seeds["shell_item"].push_back(vesk_test::hostile_autolist());
  add_ntfs_seeds(seeds);
  return seeds;
}

// Seeds cut from the real files under samples: whole files for the
// compound-file and driver targets, .lnk files and LNK streams, DestList
// streams, and the ID lists and property-store blocks of every link.
inline seed_map sample_seeds(const std::filesystem::path& samples) {
  seed_map seeds;
  std::error_code ec;
  if (!std::filesystem::is_directory(samples, ec)) return seeds;
  for (const auto& item : std::filesystem::recursive_directory_iterator(samples, ec)) {
    if (!item.is_regular_file(ec)) continue;
    const std::string name = item.path().filename().string();
    const auto ends = [&](const std::string& tail) {
      return name.size() >= tail.size() &&
             name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
    };
    const bool automatic = ends(".automaticDestinations-ms");
    const bool custom = ends(".customDestinations-ms");
    const bool link = ends(".lnk");
    if (!automatic && !custom && !link) continue;
    const seed_bytes bytes = detail::read_whole(item.path());
    if (bytes.size() < k_max_image_input) seeds["driver"].push_back(driver_input(bytes, 0));
    if (link) {
      if (bytes.size() + k_lnk_prefix <= k_max_record_input)
        seeds["lnk"].push_back(lnk_input(bytes));
      detail::add_link_parts(seeds, bytes);
    }
    if (!automatic) continue;
    if (bytes.size() <= k_max_image_input) seeds["compound_file"].push_back(bytes);
    vk::compound_file_reader reader;
    if (!vk::parse_compound_image(&reader, bytes.data(), bytes.size())) continue;
    for (const auto& [key, entry] : reader.m_entries) {
      if (entry.object_type() != 2) continue;
      seed_bytes stream;
      uint32_t number = 0;
      uint64_t first = 0;
      if (!vk::read_stream(reader, stream, number, first, key, bytes.data(), bytes.size()))
        continue;
      if (key == "destlist") {
        if (stream.size() <= k_max_record_input) seeds["destlist"].push_back(stream);
      } else if (vk::is_lnk_header(stream.data(), stream.size())) {
        if (stream.size() + k_lnk_prefix <= k_max_record_input)
          seeds["lnk"].push_back(lnk_input(stream));
        detail::add_link_parts(seeds, stream);
      }
    }
  }
  return seeds;
}

// Writes each seed as <folder>/<target>/seed-<n>; false when a file could
// not be written.
inline bool write_seeds(const seed_map& seeds, const std::filesystem::path& folder) {
  bool ok = true;
  for (const auto& [target, list] : seeds) {
    std::error_code ec;
    std::filesystem::create_directories(folder / target, ec);
    for (size_t i = 0; i < list.size(); ++i) {
      std::ofstream out(folder / target / ("seed-" + std::to_string(i)), std::ios::binary);
      out.write(reinterpret_cast<const char*>(list[i].data()),
                static_cast<std::streamsize>(list[i].size()));
      ok = ok && static_cast<bool>(out);
    }
  }
  return ok;
}

}  // namespace vesk_fuzz
